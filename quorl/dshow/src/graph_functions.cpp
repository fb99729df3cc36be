#include "quorl_dshow/graph_functions.h"

#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "com/bstr.h"
#include "com/com.h"
#include "dshow/platform.h"
#include "quorl/paths.h"
#include "quorl_dshow/crossbar.h"
#include "win/messagebox.h"

namespace DShow {

namespace {

// One element of an enumerator into `item`; false at its end, and for a
// missing enumerator or an element that did not come.
template <class Enum, class Item>
bool NextOf(Enum* items, CComPtr<Item>& item) {
  ULONG fetched = 0;
  return items && items->Next(1, &item, &fetched) == S_OK && fetched == 1 && item;
}

template <class F>
void ForEachPin(IBaseFilter* filter, F&& f) {
  CComPtr<IEnumPins> pins;
  if (!filter || FAILED(filter->EnumPins(&pins)) || !pins) return;
  for (;;) {
    CComPtr<IPin> pin;
    if (!NextOf(pins.p(), pin)) return;
    if (!f(pin.p())) return;
  }
}

// The first filter of the graph that answers `iid`, itself or (with
// `pinsToo`) through one of its pins.
HRESULT FindInFilters(IGraphBuilder* graph, const GUID& iid, void** out, bool pinsToo) {
  if (!graph || !out) return E_POINTER;
  CComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(&filters)) || !filters) return E_FAIL;
  HRESULT hr = E_FAIL;
  for (;;) {
    CComPtr<IBaseFilter> filter;
    if (!NextOf(filters.p(), filter)) break;
    hr = filter->QueryInterface(iid, out);
    if (SUCCEEDED(hr)) break;
    if (!pinsToo) continue;
    hr = FindPinInterface(filter, iid, out);
    if (SUCCEEDED(hr)) break;
  }
  return hr;
}

CComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
  CComPtr<IBaseFilter> filter;
  PIN_INFO info{};
  if (pin && SUCCEEDED(pin->QueryPinInfo(&info))) filter.Attach(info.pFilter);
  return filter;
}

void CopyName(const std::string& text, char* out, int size) {
  const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// The monikers of a category; S_FALSE when it has none or is unknown.
HRESULT CategoryMonikers(REFCLSID category, CComPtr<IEnumMoniker>& monikers) {
  CComPtr<ICreateDevEnum> devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices));
  if (FAILED(hr)) return hr;
  return devices->CreateClassEnumerator(category, &monikers, 0) == S_OK && monikers ? S_OK : S_FALSE;
}

HRESULT EnumCategoryNames(REFCLSID category, char** names, int* count, int maxNames, int nameSize) {
  if (!count) return E_POINTER;
  *count = 0;
  if (!names || maxNames < 0 || nameSize <= 0) return E_POINTER;
  CComPtr<IEnumMoniker> monikers;
  const HRESULT hr = CategoryMonikers(category, monikers);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_FAIL;
  int written = 0;
  while (written < maxNames) {
    CComPtr<IMoniker> moniker;
    if (!NextOf(monikers.p(), moniker)) break;
    std::string name;
    CComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
        name = com::WideToUtf8(value.bstrVal);
      VariantClear(&value);
    }
    if (!names[written]) return E_POINTER;
    CopyName(name, names[written], nameSize);
    ++written;
  }
  *count = written;
  return S_OK;
}

// The index-th moniker of a category (from 0), or S_FALSE past the end.
HRESULT CategoryMoniker(REFCLSID category, int index, IMoniker** moniker) {
  CComPtr<IEnumMoniker> monikers;
  const HRESULT hr = CategoryMonikers(category, monikers);
  if (hr != S_OK) return hr;
  if (index > 0 && monikers->Skip(static_cast<ULONG>(index)) != S_OK) return S_FALSE;
  ULONG fetched = 0;
  if (monikers->Next(1, moniker, &fetched) != S_OK || fetched != 1) return S_FALSE;
  return S_OK;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

HRESULT FindFilterInterface(IGraphBuilder* graph, const GUID& iid, void** out) {
  return FindInFilters(graph, iid, out, false);
}

HRESULT FindPinInterface(IBaseFilter* filter, const GUID& iid, void** out) {
  if (!filter || !out) return E_POINTER;
  CComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins)) || !pins) return E_FAIL;
  HRESULT hr = E_FAIL;
  for (;;) {
    CComPtr<IPin> pin;
    if (!NextOf(pins.p(), pin)) break;
    hr = pin->QueryInterface(iid, out);
    if (SUCCEEDED(hr)) break;
  }
  return hr;
}

HRESULT FindInterfaceAnywhere(IGraphBuilder* graph, const GUID& iid, void** out) {
  return FindInFilters(graph, iid, out, true);
}

HRESULT GetNextFilter(IBaseFilter* filter, PIN_DIRECTION direction, IBaseFilter** next) {
  if (!filter || !next) return E_POINTER;
  HRESULT hr = E_FAIL;
  bool done = false;
  ForEachPin(filter, [&](IPin* pin) {
    PIN_DIRECTION d;
    if (FAILED(pin->QueryDirection(&d))) return false;
    if (d != direction) return true;
    CComPtr<IPin> peer;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer) return true;
    PIN_INFO info{};
    if (FAILED(peer->QueryPinInfo(&info)) || !info.pFilter) {
      hr = E_UNEXPECTED;
    } else {
      *next = info.pFilter;
      hr = S_OK;
    }
    done = true;
    return false;
  });
  return done ? hr : E_FAIL;
}

namespace {

// The first pin of `direction` that `take` accepts, in the filter's order;
// E_FAIL past the last pin, the enumerator's own failure as it is.
template <class F>
HRESULT FirstPinOf(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin, F&& take) {
  CComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  for (;;) {
    CComPtr<IPin> p;
    if (!NextOf(pins.p(), p)) return E_FAIL;
    PIN_DIRECTION d;
    if (FAILED(p->QueryDirection(&d)) || d != direction) continue;
    if (take(p.p())) {
      *pin = p.Detach();
      return S_OK;
    }
  }
}

}  // namespace

HRESULT GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin, int n) {
  if (!filter || !pin) return E_POINTER;
  int seen = 0;
  return FirstPinOf(filter, direction, pin, [&](IPin*) { return ++seen == n; });
}

IPin* GetPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  IPin* pin = nullptr;
  GetPin(filter, direction, &pin, 1);
  return pin;
}

HRESULT GetUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (!filter) return E_POINTER;
  return FirstPinOf(filter, direction, pin, [](IPin* p) {
    CComPtr<IPin> peer;
    return FAILED(p->ConnectedTo(&peer));
  });
}

bool PinMatchesCategory(IPin* pin, const GUID& category) {
  if (!pin) return false;
  CComPtr<IKsPropertySet> properties;
  if (FAILED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties))) || !properties)
    return false;
  GUID found{};
  DWORD returned = 0;
  if (FAILED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &found, sizeof(found),
                             &returned)))
    return false;
  return found == category;
}

IPin* FindCategoryPin(IBaseFilter* filter, const GUID& category) {
  IPin* result = nullptr;
  ForEachPin(filter, [&](IPin* pin) {
    PIN_DIRECTION d;
    if (FAILED(pin->QueryDirection(&d)) || d != PINDIR_OUTPUT) return true;
    if (!PinMatchesCategory(pin, category)) return true;
    pin->AddRef();
    result = pin;
    return false;
  });
  return result;
}

HRESULT GetPeerFilters(IBaseFilter* filter, PIN_DIRECTION direction, CGenericList<IBaseFilter>& list) {
  if (!filter) return E_POINTER;
  HRESULT hr = S_OK;
  ForEachPin(filter, [&](IPin* pin) {
    PIN_DIRECTION d;
    if (FAILED(pin->QueryDirection(&d))) return false;
    if (d != direction) return true;
    CComPtr<IPin> peer;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer) return true;
    CComPtr<IBaseFilter> other = FilterOfPin(peer);
    if (!other) {
      hr = E_UNEXPECTED;
      return true;
    }
    AddFilterUnique(list, other);
    return true;
  });
  return hr;
}

void AddFilterUnique(CGenericList<IBaseFilter>& list, IBaseFilter* filter) {
  if (!filter || list.Contains(filter)) return;
  filter->AddRef();
  list.AddTail(filter);
}

HRESULT AddFilterByCLSID(CComPtr<IGraphBuilder> graph, const GUID& clsid, const wchar_t* name,
                         IBaseFilter** filter) {
  if (!graph || !filter) return E_POINTER;
  *filter = nullptr;
  CComPtr<IBaseFilter> made;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&made));
  if (FAILED(hr)) return hr;
  hr = graph->AddFilter(made, name);
  if (SUCCEEDED(hr)) *filter = made.Detach();
  return hr;
}

HRESULT ConnectFilters(IGraphBuilder* graph, IPin* output, IBaseFilter* destination) {
  if (!graph || !output || !destination) return E_POINTER;
  CComPtr<IPin> input;
  HRESULT hr = GetUnconnectedPin(destination, PINDIR_INPUT, &input);
  if (FAILED(hr)) return hr;
  return graph->Connect(output, input);
}

HRESULT ConnectFilters(IGraphBuilder* graph, IBaseFilter* source, IBaseFilter* destination) {
  if (!graph || !source || !destination) return E_POINTER;
  CComPtr<IPin> output;
  HRESULT hr = GetUnconnectedPin(source, PINDIR_OUTPUT, &output);
  if (FAILED(hr)) return hr;
  return ConnectFilters(graph, output, destination);
}

HRESULT InitMediaType(AM_MEDIA_TYPE* type, const GUID* subtype, int width, int height, float framesPerSecond,
                      const GUID& formatType) {
  if (!type || !subtype || !type->pbFormat) return E_POINTER;
  if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0.0f) return E_INVALIDARG;
  // A rate so small that its frame time does not fit 100 ns units would make
  // the conversion undefined.
  const double frameTime = 10000000.0 / static_cast<double>(framesPerSecond);
  if (!(frameTime < 9.2e18)) return E_INVALIDARG;
  const bool info2 = formatType == FORMAT_VideoInfo2;
  const auto timePerFrame = static_cast<REFERENCE_TIME>(frameTime);
  BITMAPINFOHEADER* bmi;
  if (info2) {
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat);
    std::memset(vih, 0, sizeof(*vih));
    vih->dwPictAspectRatioX = 4;
    vih->dwPictAspectRatioY = 3;
    vih->AvgTimePerFrame = timePerFrame;
    bmi = &vih->bmiHeader;
  } else {
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    std::memset(vih, 0, sizeof(*vih));
    vih->AvgTimePerFrame = timePerFrame;
    bmi = &vih->bmiHeader;
  }
  const WORD bits = GetBitCount(subtype);
  bmi->biSize = sizeof(BITMAPINFOHEADER);
  bmi->biWidth = width;
  bmi->biHeight = height;
  bmi->biPlanes = 1;
  bmi->biBitCount = bits;
  bmi->biCompression = IsRgbSubtype(*subtype) ? BI_RGB : subtype->Data1;
  bmi->biSizeImage = GetBitmapSize(bmi);

  type->majortype = MEDIATYPE_Video;
  type->subtype = *subtype;
  type->bFixedSizeSamples = TRUE;
  type->bTemporalCompression = FALSE;
  const long long rowBytes = (static_cast<long long>(bits) * width + 31) / 32 * 4;
  type->lSampleSize = static_cast<ULONG>(rowBytes * std::llabs(static_cast<long long>(height)));
  type->formattype = formatType;
  type->pUnk = nullptr;
  type->cbFormat = info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
  return S_OK;
}

HRESULT BuildLiveUpstream(IGraphBuilder* graph, int deviceIndex, IBaseFilter** captureFilter,
                          CCrossbar** crossbar, int* inputCount) {
  if (!graph || !captureFilter || !crossbar) return E_POINTER;
  if (inputCount) *inputCount = 0;
  HRESULT hr = GetVideoCaptureDevice(captureFilter, deviceIndex);
  if (FAILED(hr)) return hr;
  hr = graph->AddFilter(*captureFilter, L"Capture Source");
  if (FAILED(hr)) return hr;
  *crossbar = nullptr;
  ForEachPin(*captureFilter, [&](IPin* pin) {
    PIN_DIRECTION d;
    if (FAILED(pin->QueryDirection(&d)) || d != PINDIR_INPUT) return true;
    if (!PinMatchesCategory(pin, PIN_CATEGORY_ANALOGVIDEOIN)) return true;
    HRESULT built = E_FAIL;
    auto* made = new CCrossbar(pin, &built);
    if (FAILED(built)) {
      delete made;
      return false;
    }
    *crossbar = made;
    int count = 0;
    made->GetInputCount(&count);
    if (inputCount) *inputCount = count;
    return false;
  });
  return S_OK;
}

// Taking apart. Each removal first clears everything beyond the peer.

namespace {

// Downstream when the peers are inputs, upstream when they are outputs.
void NukeBeyond(IFilterGraph* graph, IPin* pin, PIN_DIRECTION peerDirection);

void NukeBeyond(IFilterGraph* graph, IBaseFilter* filter, PIN_DIRECTION peerDirection) {
  if (!graph || !filter) return;
  ForEachPin(filter, [&](IPin* pin) {
    NukeBeyond(graph, pin, peerDirection);
    return true;
  });
}

void NukeBeyond(IFilterGraph* graph, IPin* pin, PIN_DIRECTION peerDirection) {
  if (!graph || !pin) return;
  CComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(&peer)) || !peer) return;
  PIN_DIRECTION d;
  if (FAILED(peer->QueryDirection(&d)) || d != peerDirection) return;
  CComPtr<IBaseFilter> beyond = FilterOfPin(peer);
  NukeBeyond(graph, beyond.p(), peerDirection);
  graph->Disconnect(peer);
  graph->Disconnect(pin);
  if (beyond) graph->RemoveFilter(beyond);
}

}  // namespace

void NukeDownstream(IFilterGraph* graph, IBaseFilter* filter) { NukeBeyond(graph, filter, PINDIR_INPUT); }

void NukeUpstream(IFilterGraph* graph, IBaseFilter* filter) { NukeBeyond(graph, filter, PINDIR_OUTPUT); }

void NukeDownstream(IFilterGraph* graph, IPin* pin) { NukeBeyond(graph, pin, PINDIR_INPUT); }

void NukeUpstream(IFilterGraph* graph, IPin* pin) { NukeBeyond(graph, pin, PINDIR_OUTPUT); }

void NukeGraphSegment(IFilterGraph* graph, IBaseFilter* from, IBaseFilter* stop) {
  if (!graph || !from || !stop) return;
  ForEachPin(from, [&](IPin* pin) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_OUTPUT) NukeGraphSegment(graph, pin, stop);
    return true;
  });
}

void NukeGraphSegment(IFilterGraph* graph, IPin* pin, IBaseFilter* stop) {
  if (!graph || !pin || !stop) return;
  CComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(&peer)) || !peer) return;
  CComPtr<IBaseFilter> next = FilterOfPin(peer);
  if (!next || next.p() == stop) return;
  NukeGraphSegment(graph, next, stop);
  graph->Disconnect(peer);
  graph->Disconnect(pin);
  graph->RemoveFilter(next);
}

HRESULT GetVideoCaptureDevice(IBaseFilter** filter, int index) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  try {
    if (index < 1) return E_FAIL;
    CComPtr<IMoniker> moniker;
    HRESULT hr = CategoryMoniker(CLSID_VideoInputDeviceCategory, index - 1, &moniker);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
  } catch (const std::exception&) {
    return E_UNEXPECTED;
  }
}

HRESULT EnumVideoCaptureDevices(char** names, int* count, int maxNames, int nameSize) {
  return EnumCategoryNames(CLSID_VideoInputDeviceCategory, names, count, maxNames, nameSize);
}

HRESULT EnumVideoCompressors(char** names, int* count, int maxNames, int nameSize) {
  return EnumCategoryNames(CLSID_VideoCompressorCategory, names, count, maxNames, nameSize);
}

HRESULT GetCompressor(int index, IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  if (index < 0) return E_FAIL;
  CComPtr<IMoniker> moniker;
  HRESULT hr = CategoryMoniker(CLSID_VideoCompressorCategory, index, &moniker);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

HRESULT GetDMOClassId(const GUID& category, const char* name, GUID& clsid) {
  if (!name) return E_POINTER;
  CComPtr<IEnumDMO> dmos;
  HRESULT hr = DMOEnum(category, 0, 0, nullptr, 0, nullptr, &dmos);
  if (FAILED(hr)) return hr;
  if (!dmos) return E_FAIL;
  for (;;) {
    CLSID id{};
    wchar_t* wide = nullptr;
    ULONG fetched = 0;
    if (dmos->Next(1, &id, &wide, &fetched) != S_OK || fetched != 1) break;
    const std::string text = com::WideToUtf8(wide);
    CoTaskMemFree(wide);
    if (text == name) {
      clsid = id;
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT ShowPropertyPage(IUnknown* object, const wchar_t* caption, HWND owner) {
  if (!object) return E_FAIL;
  CComPtr<ISpecifyPropertyPages> pages;
  HRESULT hr = object->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages));
  if (FAILED(hr)) return hr;
  CAUUID list{0, nullptr};
  hr = pages->GetPages(&list);
  if (FAILED(hr)) return hr;
  IUnknown* objects[] = {object};
  hr = OleCreatePropertyFrame(owner, 0, 0, caption, 1, objects, list.cElems, list.pElems, 0, 0, nullptr);
  CoTaskMemFree(list.pElems);
  return hr;
}

bool FilterExistsReg(const GUID& clsid) {
  wchar_t wide[64];
  if (StringFromGUID2(clsid, wide, 64) == 0) return false;
  const std::string key = "CLSID\\" + com::WideToUtf8(wide) + "\\InprocServer32";
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, 0x2001F, &handle) != ERROR_SUCCESS) return false;
  BYTE value[260] = {};
  DWORD size = sizeof(value) - 1;
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExA(handle, nullptr, nullptr, &type, value, &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS || size == 0 || value[0] == 0) return false;
  value[std::min<DWORD>(size, sizeof(value) - 1)] = 0;
  return FileExists(reinterpret_cast<const char*>(value));
}

HRESULT AddToRot(IUnknown* graph, DWORD* cookie) {
  if (!graph || !cookie) return E_POINTER;
  CComPtr<IRunningObjectTable> table;
  if (FAILED(GetRunningObjectTable(0, &table)) || !table) return E_FAIL;
  char item[64];
  std::snprintf(item, sizeof(item), "FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(graph) & 0xFFFFFFFFu),
                static_cast<unsigned>(GetCurrentProcessId()));
  const std::wstring wideItem = com::Utf8ToWide(item);
  CComPtr<IMoniker> moniker;
  HRESULT hr = CreateItemMoniker(L"!", wideItem.c_str(), &moniker);
  if (SUCCEEDED(hr)) hr = table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, moniker, cookie);
  return hr;
}

void RemoveFromRot(DWORD cookie) {
  CComPtr<IRunningObjectTable> table;
  if (SUCCEEDED(GetRunningObjectTable(0, &table)) && table) table->Revoke(cookie);
}

HRESULT SaveGraphFile(IGraphBuilder* graph, const char* path) {
  if (!graph || !path) return E_POINTER;
  const std::wstring wide = com::Utf8ToWide(path);
  CComPtr<IStorage> storage;
  HRESULT hr = StgCreateDocfile(wide.c_str(), STGM_CREATE | STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                0, &storage);
  if (FAILED(hr)) return hr;
  CComPtr<IStream> stream;
  hr = storage->CreateStream(L"ActiveMovieGraph", STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
  if (FAILED(hr)) return hr;
  CComPtr<IPersistStream> persist;
  hr = graph->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist));
  if (FAILED(hr)) return hr;
  hr = persist->Save(stream, TRUE);
  if (FAILED(hr)) return hr;
  return storage->Commit(0);
}

HRESULT LoadGraphFile(IGraphBuilder* graph, const char* path) {
  if (!graph || !path) return E_POINTER;
  const std::wstring wide = com::Utf8ToWide(path);
  if (StgIsStorageFile(wide.c_str()) != S_OK) return E_FAIL;
  CComPtr<IStorage> storage;
  HRESULT hr = StgOpenStorage(wide.c_str(), nullptr, STGM_TRANSACTED | STGM_SHARE_DENY_WRITE | STGM_READ, nullptr,
                              0, &storage);
  if (FAILED(hr)) return hr;
  CComPtr<IStream> stream;
  hr = storage->OpenStream(L"ActiveMovieGraph", nullptr, STGM_SHARE_EXCLUSIVE | STGM_READ, 0, &stream);
  if (FAILED(hr)) return hr;
  CComPtr<IPersistStream> persist;
  hr = graph->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist));
  if (FAILED(hr)) return hr;
  return persist->Load(stream);
}

bool IsWindowsMediaFile(const char* path) {
  if (!path) return false;
  const std::string whole = Lower(path);
  const std::size_t slash = whole.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? whole : whole.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = name.substr(dot);
  return ext == ".asf" || ext == ".wma" || ext == ".wmv";
}

void ShowError(HRESULT hr) {
  if (hr >= 0) return;
  char text[160];
  if (AMGetErrorTextA(hr, text, sizeof(text)) == 0)
    std::snprintf(text, sizeof(text), "Unknown Error: 0x%2x", static_cast<unsigned>(hr));
  MessageBox(nullptr, text, "Error!", MB_OK | MB_ICONERROR);
}

HRESULT GetDurationString(IMediaSeeking* seeking, char* text, std::size_t textSize, char* frames,
                          std::size_t framesSize) {
  if (!seeking) return E_NOINTERFACE;
  if (!text) return E_POINTER;
  static constexpr char kPlaceholder[] = "<00:00.000>";
  if (textSize < sizeof(kPlaceholder)) return E_POINTER;
  std::memcpy(text, kPlaceholder, sizeof(kPlaceholder));
  if (seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME) != S_OK) return E_NOINTERFACE;
  GUID saved{};
  HRESULT hr = seeking->GetTimeFormat(&saved);
  if (FAILED(hr)) return hr;
  hr = seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
  if (FAILED(hr)) return hr;
  auto restore = [&]() -> HRESULT {
    return saved != TIME_FORMAT_MEDIA_TIME ? seeking->SetTimeFormat(&saved) : S_OK;
  };
  LONGLONG duration = 0;
  hr = seeking->GetDuration(&duration);
  if (FAILED(hr)) {
    restore();
    return hr;
  }
  if (frames && framesSize > 0) {
    LONGLONG count = 0;
    hr = seeking->ConvertTimeFormat(&count, &TIME_FORMAT_FRAME, duration, &TIME_FORMAT_MEDIA_TIME);
    if (SUCCEEDED(hr)) std::snprintf(frames, framesSize, "%" PRId64, static_cast<std::int64_t>(count));
  }
  const HRESULT restored = restore();
  if (FAILED(restored)) return restored;
  if (saved != TIME_FORMAT_MEDIA_TIME) hr = restored;
  const long long seconds = duration / 10000000;
  const long long minutes = seconds / 60;
  const long long millis = (duration / 10000) % 1000;
  std::snprintf(text, textSize, "%02lldm:%02lld.%03llds", minutes, seconds - 60 * minutes, millis);
  return hr;
}

bool GetFileSize64(const char* path, long long* size) {
  if (!path) return false;
  struct stat st;
  if (::stat(quorl::MapPath(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (size) *size = static_cast<long long>(st.st_size);
  return true;
}

bool FileExists(const char* path) {
  if (!path || !*path) return false;
  struct stat st;
  return ::stat(quorl::MapPath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const char* path) {
  if (!path || !*path) return false;
  struct stat st;
  return ::stat(quorl::MapPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsValidFileName(const char* name) {
  if (!name) return false;
  const std::size_t length = std::strlen(name);
  if (length < 1 || length > 255) return false;
  if (length == 3 || length == 4) {
    static const char* const kDevices[] = {"CON",  "AUX",  "COM1", "COM2", "COM3", "COM4",
                                           "LPT1", "LPT2", "LPT3", "PRN",  "NUL"};
    for (const char* device : kDevices)
      if (strcasecmp(name, device) == 0) return false;
  }
  return std::strpbrk(name, "\\?|><:/*\"") == nullptr;
}

std::string GetModuleRelativePath(const char* relative) {
  return quorl::JoinPath(quorl::ProgramFolder(), relative ? relative : "");
}

}  // namespace DShow
