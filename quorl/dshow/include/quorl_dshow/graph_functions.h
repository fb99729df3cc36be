#pragma once
// Free functions that build and take apart filter graphs, written against
// the interfaces only (they run on the media stand-in and on test fakes).
#include <cstddef>
#include <string>

#include "dshow/interfaces.h"

namespace DShow {

class CCrossbar;

HRESULT FindFilterInterface(IGraphBuilder* graph, const GUID& iid, void** out);
HRESULT FindPinInterface(IBaseFilter* filter, const GUID& iid, void** out);
HRESULT FindInterfaceAnywhere(IGraphBuilder* graph, const GUID& iid, void** out);
HRESULT GetNextFilter(IBaseFilter* filter, PIN_DIRECTION direction, IBaseFilter** next);
// n counts from 1; E_FAIL with *pin untouched when there are fewer pins.
HRESULT GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin, int n = 1);
IPin* GetPin(IBaseFilter* filter, PIN_DIRECTION direction);
HRESULT GetUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);
bool PinMatchesCategory(IPin* pin, const GUID& category);
IPin* FindCategoryPin(IBaseFilter* filter, const GUID& category);
HRESULT GetPeerFilters(IBaseFilter* filter, PIN_DIRECTION direction, CGenericList<IBaseFilter>& list);
void AddFilterUnique(CGenericList<IBaseFilter>& list, IBaseFilter* filter);

HRESULT AddFilterByCLSID(CComPtr<IGraphBuilder> graph, const GUID& clsid, const wchar_t* name,
                         IBaseFilter** filter);
HRESULT ConnectFilters(IGraphBuilder* graph, IPin* output, IBaseFilter* destination);
HRESULT ConnectFilters(IGraphBuilder* graph, IBaseFilter* source, IBaseFilter* destination);
// E_INVALIDARG (type untouched) for a rate that is not finite and positive,
// E_POINTER for a missing type or format block. The block must hold a
// VIDEOINFOHEADER2 for FORMAT_VideoInfo2, a VIDEOINFOHEADER otherwise.
HRESULT InitMediaType(AM_MEDIA_TYPE* type, const GUID* subtype, int width, int height, float framesPerSecond,
                      const GUID& formatType);
// Writes the number of crossbar inputs (0 without a crossbar) into
// *inputCount; a crossbar that fails to build is deleted and left null.
HRESULT BuildLiveUpstream(IGraphBuilder* graph, int deviceIndex, IBaseFilter** captureFilter,
                          CCrossbar** crossbar, int* inputCount);

void NukeDownstream(IFilterGraph* graph, IBaseFilter* filter);
void NukeUpstream(IFilterGraph* graph, IBaseFilter* filter);
void NukeDownstream(IFilterGraph* graph, IPin* pin);
void NukeUpstream(IFilterGraph* graph, IPin* pin);
void NukeGraphSegment(IFilterGraph* graph, IBaseFilter* from, IBaseFilter* stop);
void NukeGraphSegment(IFilterGraph* graph, IPin* pin, IBaseFilter* stop);

// index counts from 1.
HRESULT GetVideoCaptureDevice(IBaseFilter** filter, int index);
// Writes at most maxNames names, each truncated to nameSize - 1 bytes and
// terminated (UTF-8); an unreadable name is "". *count = names written, 0 on
// any failure.
HRESULT EnumVideoCaptureDevices(char** names, int* count, int maxNames, int nameSize);
HRESULT EnumVideoCompressors(char** names, int* count, int maxNames, int nameSize);
// index counts from 0; past the end: E_FAIL and a null filter.
HRESULT GetCompressor(int index, IBaseFilter** filter);
HRESULT GetDMOClassId(const GUID& category, const char* name, GUID& clsid);
HRESULT ShowPropertyPage(IUnknown* object, const wchar_t* caption, HWND owner);
bool FilterExistsReg(const GUID& clsid);

HRESULT AddToRot(IUnknown* graph, DWORD* cookie);
void RemoveFromRot(DWORD cookie);
HRESULT SaveGraphFile(IGraphBuilder* graph, const char* path);
HRESULT LoadGraphFile(IGraphBuilder* graph, const char* path);

// True when the final extension of the path is .asf, .wma or .wmv, any case.
bool IsWindowsMediaFile(const char* path);
void ShowError(HRESULT hr);
// text: at least 12 bytes for the placeholder; frames may be null.
HRESULT GetDurationString(IMediaSeeking* seeking, char* text, std::size_t textSize, char* frames,
                          std::size_t framesSize);

// Inside the library.
bool GetFileSize64(const char* path, long long* size);
bool FileExists(const char* path);
bool FolderExists(const char* path);
bool IsValidFileName(const char* name);
std::string GetModuleRelativePath(const char* relative);

}  // namespace DShow
