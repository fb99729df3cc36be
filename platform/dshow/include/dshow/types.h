#pragma once
// Media records, identifiers and the small base-class helpers of the video
// stand-in. Identifiers that callers spell out keep the platform's values;
// the rest are fixed values of ours (see OurGuid).
#include <cstddef>
#include <cstdint>
#include <list>

#include "com/bstr.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "win/gdi.h"
#include "win/types.h"

using REFERENCE_TIME = std::int64_t;  // 100-nanosecond units
using LONGLONG = std::int64_t;
using LONG_PTR = std::intptr_t;
using OAHWND = std::intptr_t;
using OAFilterState = LONG;

// Our own identifiers: the number in Data1, a fixed tail.
constexpr GUID OurGuid(std::uint32_t n) { return GUID{n, 0x5155, 0x4F52, {0x4C, 0x44, 0x53, 0x48, 0x4F, 0x57, 0x00, 0x01}}; }

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24);
}

// Major types, subtypes and format types.
constexpr GUID MEDIATYPE_Video = GuidFromFourCC(MakeFourCC('v', 'i', 'd', 's'));
constexpr GUID MEDIATYPE_Audio = GuidFromFourCC(MakeFourCC('a', 'u', 'd', 's'));
constexpr GUID MEDIATYPE_Interleaved = GuidFromFourCC(MakeFourCC('i', 'a', 'v', 's'));
constexpr GUID MEDIATYPE_Stream = OurGuid(0x100);
constexpr GUID MEDIASUBTYPE_RGB24 = OurGuid(0x101);
constexpr GUID MEDIASUBTYPE_RGB32 = OurGuid(0x102);
constexpr GUID MEDIASUBTYPE_RGB565 = OurGuid(0x103);
constexpr GUID MEDIASUBTYPE_RGB555 = OurGuid(0x104);
constexpr GUID MEDIASUBTYPE_Avi = OurGuid(0x105);
constexpr GUID MEDIASUBTYPE_YUY2 = GuidFromFourCC(MakeFourCC('Y', 'U', 'Y', '2'));
constexpr GUID MEDIASUBTYPE_MJPG = GuidFromFourCC(MakeFourCC('M', 'J', 'P', 'G'));
constexpr GUID MEDIASUBTYPE_I420 = GuidFromFourCC(MakeFourCC('I', '4', '2', '0'));
constexpr GUID MEDIASUBTYPE_NV12 = GuidFromFourCC(MakeFourCC('N', 'V', '1', '2'));
constexpr GUID FORMAT_VideoInfo = OurGuid(0x110);
constexpr GUID FORMAT_VideoInfo2 = OurGuid(0x111);
constexpr GUID FORMAT_None = OurGuid(0x112);

constexpr GUID TIME_FORMAT_NONE = GUID_NULL;
constexpr GUID TIME_FORMAT_FRAME = OurGuid(0x120);
constexpr GUID TIME_FORMAT_MEDIA_TIME = OurGuid(0x121);

// Pin categories are our tags.
constexpr GUID AMPROPSETID_Pin = OurGuid(0x130);
constexpr DWORD AMPROPERTY_PIN_CATEGORY = 0;
constexpr GUID PIN_CATEGORY_CAPTURE = OurGuid(0x131);
constexpr GUID PIN_CATEGORY_PREVIEW = OurGuid(0x132);
constexpr GUID PIN_CATEGORY_ANALOGVIDEOIN = OurGuid(0x133);

// Classes and device categories.
constexpr CLSID CLSID_FilterGraph = OurGuid(0x200);
constexpr CLSID CLSID_CaptureGraphBuilder2 = OurGuid(0x201);
constexpr CLSID CLSID_VideoMixingRenderer9 = OurGuid(0x202);
// The platform's values: callers spell these out.
constexpr CLSID CLSID_SampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
constexpr CLSID CLSID_WMAsfReader = {0x187463A0, 0x5BB7, 0x11D3, {0xAC, 0xBE, 0x00, 0x80, 0xC7, 0x5E, 0x24, 0x6E}};
constexpr CLSID CLSID_SmartTee = OurGuid(0x205);
constexpr CLSID CLSID_InfTee = OurGuid(0x206);
constexpr CLSID CLSID_Colour = OurGuid(0x207);
constexpr CLSID CLSID_SystemDeviceEnum = OurGuid(0x208);
constexpr CLSID CLSID_NullRenderer = OurGuid(0x209);
constexpr CLSID CLSID_AsyncReader = OurGuid(0x20A);
constexpr CLSID CLSID_AviDest = OurGuid(0x20B);
constexpr CLSID CLSID_FileWriter = OurGuid(0x20C);
constexpr CLSID CLSID_VideoCapture = OurGuid(0x20D);
constexpr CLSID CLSID_Crossbar = OurGuid(0x20E);
constexpr CLSID CLSID_VideoInputDeviceCategory = OurGuid(0x220);
constexpr CLSID CLSID_VideoCompressorCategory = OurGuid(0x221);
constexpr GUID DMOCATEGORY_VIDEO_ENCODER = OurGuid(0x222);
constexpr GUID DMOCATEGORY_VIDEO_DECODER = OurGuid(0x223);

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

// Event codes and the seeking and rendering constants callers pass.
constexpr long EC_COMPLETE = 0x01;
constexpr long EC_USERABORT = 0x02;
constexpr long EC_ERRORABORT = 0x03;
constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr DWORD AM_SEEKING_CanGetDuration = 0x100;
constexpr DWORD VMR9Mode_Windowless = 0x2;
constexpr DWORD VMR9ARMode_None = 0;
constexpr DWORD VMR9ARMode_LetterBox = 1;
constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;

// Video-stand-in failures (our values, in the interface facility).
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHResult(0x80040209u);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHResult(0x80040204u);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHResult(0x80040217u);
constexpr HRESULT VFW_E_NOT_FOUND = MakeHResult(0x80040216u);
constexpr HRESULT VFW_E_WRONG_STATE = MakeHResult(0x80040227u);
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeHResult(0x80040265u);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeHResult(0x8004022Fu);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHResult(0x8004022Au);
constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeHResult(0x8004023Du);
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeHResult(0x00040237u);
constexpr HRESULT STG_E_FILENOTFOUND = MakeHResult(0x80030002u);
constexpr HRESULT STG_E_INVALIDHEADER = MakeHResult(0x800300FBu);

// BITMAPINFOHEADER and BI_RGB are the window stand-in's own (win/gdi.h).
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  DWORD dwControlFlags;
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

struct IUnknown;

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;  // from CoTaskMemAlloc
};

// Bits per pixel of an uncompressed subtype; 0 when unknown.
WORD GetBitCount(const GUID* subtype);
// Bytes of an image of this header: rows of whole 32-bit words.
DWORD GetBitmapSize(const BITMAPINFOHEADER* header);
// True for the uncompressed RGB subtypes (their compression is BI_RGB).
bool IsRgbSubtype(const GUID& subtype);

// Frees the format block (and the interface) of a media type.
void FreeMediaType(AM_MEDIA_TYPE& type);
// Frees the format block and the type itself (CoTaskMemAlloc'd).
void DeleteMediaType(AM_MEDIA_TYPE* type);
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// A list of pointers in the manner of the base classes: position handles,
// AddTail/RemoveHead, GetNext advancing the position. The list owns nothing.
template <class T>
class CGenericList {
 public:
  using POSITION = typename std::list<T*>::iterator*;

  explicit CGenericList(const char* name = nullptr, int cache = 10) {}
  CGenericList(const CGenericList&) = delete;
  CGenericList& operator=(const CGenericList&) = delete;
  ~CGenericList() { ClearPositions(); }

  int GetCount() const { return static_cast<int>(items_.size()); }
  bool AddTail(T* item) {
    items_.push_back(item);
    return true;
  }
  T* RemoveHead() {
    if (items_.empty()) return nullptr;
    T* head = items_.front();
    items_.pop_front();
    return head;
  }
  T* GetHead() const { return items_.empty() ? nullptr : items_.front(); }
  bool Contains(const T* item) const {
    for (T* p : items_)
      if (p == item) return true;
    return false;
  }
  // The items in order (for walks that do not need positions).
  const std::list<T*>& Items() const { return items_; }
  void RemoveAll() { items_.clear(); }
  // Position-style walk: index based, so it survives appends.
  T* Get(int index) const {
    int i = 0;
    for (T* p : items_)
      if (i++ == index) return p;
    return nullptr;
  }

 private:
  void ClearPositions() {}
  std::list<T*> items_;
};

struct PIN_INFO;
struct FILTER_INFO;
