#pragma once
// The system services around the graphs: running object table, compound
// files, the class-registry view of HKEY_CLASSES_ROOT, the DMO list, error
// texts and property frames.
#include <string>
#include <vector>

#include "com/com.h"
#include "dshow/interfaces.h"

// Process-local: no other process sees the table. Register holds a
// reference to the object until Revoke.
HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);
HRESULT CreateItemMoniker(const wchar_t* delimiter, const wchar_t* item, IMoniker** moniker);

// Compound files: our own container of named streams.
constexpr DWORD STGM_READ = 0x0;
constexpr DWORD STGM_WRITE = 0x1;
constexpr DWORD STGM_READWRITE = 0x2;
constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
constexpr DWORD STGM_CREATE = 0x1000;
constexpr DWORD STGM_TRANSACTED = 0x10000;
HRESULT StgCreateDocfile(const wchar_t* path, DWORD mode, DWORD reserved, IStorage** storage);
HRESULT StgOpenStorage(const wchar_t* path, IStorage* priority, DWORD mode, void* exclude, DWORD reserved,
                       IStorage** storage);
// S_OK for one of our containers, S_FALSE for another file, an error when
// it cannot be read.
HRESULT StgIsStorageFile(const wchar_t* path);

// The registry: HKEY_CLASSES_ROOT\CLSID\{id}\InprocServer32 exists for each
// registered class; its default value is the file of the serving library.
struct HKEY__;
using HKEY = HKEY__*;
using LSTATUS = LONG;
extern HKEY const HKEY_CLASSES_ROOT;
constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND_STATUS = 2;
constexpr LSTATUS ERROR_MORE_DATA = 234;
LSTATUS RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access, HKEY* key);
// A null or empty value name reads the default value.
LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size);
LSTATUS RegCloseKey(HKEY key);
constexpr DWORD REG_SZ = 1;

// The encoders and decoders of the media library, by long name.
HRESULT DMOEnum(REFGUID category, DWORD flags, DWORD inTypes, const void* inList, DWORD outTypes,
                const void* outList, IEnumDMO** result);

// Our texts for our codes, and the last pipeline error for E_FAIL when one
// was seen. Returns the characters written (0: no text).
DWORD AMGetErrorTextA(HRESULT hr, char* buffer, DWORD size);

DWORD GetCurrentProcessId();

// Property pages: our own modal frame on the window stand-in, installed by
// dshow::InstallPropertyFrames (platform_dshow_pages). Without it: E_NOTIMPL.
using LCID = DWORD;
HRESULT OleCreatePropertyFrame(HWND owner, UINT x, UINT y, const wchar_t* caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pages, LCID locale, DWORD reserved,
                               void* reserved2);
constexpr CLSID CLSID_CapturePinPropertyPage = OurGuid(0x230);
constexpr CLSID CLSID_CaptureFilterPropertyPage = OurGuid(0x231);

// The controls a capture filter offers (V4L2 controls, or a fake device's).
struct IDeviceControls : IUnknown {
  virtual HRESULT GetControlNames(std::vector<std::string>* names) = 0;
};
constexpr IID IID_IDeviceControls = OurGuid(0x329);
QUORL_DECLARE_IID(IDeviceControls, IID_IDeviceControls)

namespace dshow {

// The item names in the running object table, in registration order.
std::vector<std::string> RunningObjectNames();
// The object registered under an item name (as a graph viewer reaches a
// running graph); null when there is none.
CComPtr<IUnknown> RunningObject(const std::string& name);
// Remembers the text of the last pipeline error for AMGetErrorTextA.
void SetLastPipelineError(const std::string& text);

struct PropertyFrameRequest {
  HWND owner = nullptr;
  std::string caption;
  std::vector<IUnknown*> objects;  // valid for the call
  std::vector<CLSID> pages;
};
using PropertyFrameHandler = std::function<HRESULT(const PropertyFrameRequest&)>;
void SetPropertyFrameHandler(PropertyFrameHandler handler);

// Registers one class of this library with com::RegisterClass.
void RegisterOwnClass(REFCLSID clsid, const char* name, com::ClassFactory factory);

}  // namespace dshow
