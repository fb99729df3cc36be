#include "gst_core.h"

#include <cwchar>

#include "com/bstr.h"
#include "dshow/vector_enum.h"

namespace dshow::gst {

void EnsureInit() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

namespace {

struct SubtypeCaps {
  const GUID* subtype;
  const char* format;
};

const SubtypeCaps kSubtypeCaps[] = {
    {&MEDIASUBTYPE_RGB24, "BGR"},  {&MEDIASUBTYPE_RGB32, "BGRx"}, {&MEDIASUBTYPE_YUY2, "YUY2"},
    {&MEDIASUBTYPE_I420, "I420"},  {&MEDIASUBTYPE_NV12, "NV12"},
};

}  // namespace

const char* CapsFormatOf(const GUID& subtype) {
  for (const SubtypeCaps& s : kSubtypeCaps)
    if (*s.subtype == subtype) return s.format;
  return nullptr;
}

int RowStride(int width, int bits) { return ((bits * width + 31) / 32) * 4; }

void FillMediaType(const VideoFormat& format, AM_MEDIA_TYPE* type) {
  *type = AM_MEDIA_TYPE{};
  type->majortype = MEDIATYPE_Video;
  type->subtype = format.compressed && format.subtype == GUID_NULL ? MEDIASUBTYPE_MJPG : format.subtype;
  type->formattype = FORMAT_VideoInfo;
  type->bFixedSizeSamples = format.compressed ? FALSE : TRUE;
  type->bTemporalCompression = FALSE;
  auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
  std::memset(vih, 0, sizeof(*vih));
  const WORD bits = GetBitCount(&type->subtype);
  vih->AvgTimePerFrame = format.fpsNum > 0 ? static_cast<REFERENCE_TIME>(10000000LL * format.fpsDen / format.fpsNum) : 0;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = format.width;
  vih->bmiHeader.biHeight = format.height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = bits;
  vih->bmiHeader.biCompression = IsRgbSubtype(type->subtype) ? BI_RGB : type->subtype.Data1;
  vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
  type->lSampleSize = vih->bmiHeader.biSizeImage;
  type->cbFormat = sizeof(VIDEOINFOHEADER);
  type->pbFormat = reinterpret_cast<BYTE*>(vih);
}

PinImpl::PinImpl(FilterBase* filter, PIN_DIRECTION direction, std::wstring name, GstPad* pad)
    : filter_(filter), direction_(direction), name_(std::move(name)), pad_(pad) {
  if (pad_) gst_object_ref(pad_);
}

PinImpl::~PinImpl() {
  if (pad_) gst_object_unref(pad_);
}

void PinImpl::SetPad(GstPad* pad) {
  if (pad) gst_object_ref(pad);
  if (pad_) gst_object_unref(pad_);
  pad_ = pad;
}

HRESULT PinImpl::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (filter_) {
    if (void* found = filter_->PinInterface(this, riid)) {
      *object = found;
      static_cast<IUnknown*>(found)->AddRef();
      return S_OK;
    }
  }
  return ComObject<PinImpl, IPin, IKsPropertySet>::QueryInterface(riid, object);
}

HRESULT PinImpl::Connect(IPin* receive, const AM_MEDIA_TYPE*) {
  if (!receive) return E_POINTER;
  if (!filter_ || !filter_->Graph()) return VFW_E_NOT_FOUND;
  PinImpl* other = AsPinImpl(receive);
  if (!other) return VFW_E_CANNOT_CONNECT;
  return direction_ == PINDIR_OUTPUT ? GraphConnect(filter_->Graph(), this, other)
                                     : GraphConnect(filter_->Graph(), other, this);
}

HRESULT PinImpl::Disconnect() {
  if (!peer_) return S_FALSE;
  PinImpl* peer = peer_;
  peer_ = nullptr;
  peer->Release();
  return S_OK;
}

HRESULT PinImpl::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = peer_;
  if (!peer_) return VFW_E_NOT_CONNECTED;
  peer_->AddRef();
  return S_OK;
}

HRESULT PinImpl::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (!peer_) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  FillMediaType(direction_ == PINDIR_OUTPUT ? format : peer_->format, type);
  return S_OK;
}

HRESULT PinImpl::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->dir = direction_;
  const std::size_t n = std::min<std::size_t>(name_.size(), MAX_PIN_NAME - 1);
  std::wmemcpy(info->achName, name_.c_str(), n);
  info->achName[n] = L'\0';
  info->pFilter = filter_ ? filter_->AsFilter() : nullptr;
  if (info->pFilter) info->pFilter->AddRef();
  return filter_ ? S_OK : E_FAIL;
}

HRESULT PinImpl::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT PinImpl::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize, DWORD* returned) {
  if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY) return E_NOTIMPL;
  if (!category_) return E_FAIL;
  if (!data || dataSize < sizeof(GUID)) return E_POINTER;
  *static_cast<GUID*>(data) = *category_;
  if (returned) *returned = sizeof(GUID);
  return S_OK;
}

FilterBase::FilterBase(const char* binName) {
  EnsureInit();
  bin_ = gst_bin_new(nullptr);
  gst_object_ref_sink(bin_);
  (void)binName;
}

FilterBase::~FilterBase() {
  for (auto& pin : pins_) {
    pin->Disconnect();
    pin->Orphan();
  }
  gst_element_set_state(bin_, GST_STATE_NULL);
  gst_object_unref(bin_);
}

GstElement* FilterBase::Make(const char* factory, const char* name) {
  GstElement* e = gst_element_factory_make(factory, name);
  if (e) gst_bin_add(GST_BIN(bin_), e);
  return e;
}

PinImpl* FilterBase::AddPin(PIN_DIRECTION direction, const std::wstring& name, GstPad* target) {
  GstPad* ghost = nullptr;
  if (target) {
    ghost = gst_ghost_pad_new(nullptr, target);
  } else {
    ghost = gst_ghost_pad_new_no_target(nullptr, direction == PINDIR_INPUT ? GST_PAD_SINK : GST_PAD_SRC);
  }
  gst_pad_set_active(ghost, TRUE);
  gst_element_add_pad(bin_, ghost);
  CComPtr<PinImpl> pin;
  pin.Attach(new PinImpl(this, direction, name, ghost));
  // Inputs first, then outputs: callers count on that order.
  auto at = pins_.end();
  if (direction == PINDIR_INPUT)
    at = std::find_if(pins_.begin(), pins_.end(), [](auto& p) { return p->Direction() == PINDIR_OUTPUT; });
  pins_.insert(at, pin);
  return pin;
}

void FilterBase::Join(GstGraph* graph, const std::wstring& name) {
  graph_ = graph;
  name_ = name;
}

IEnumPins* MakePinEnum(const std::vector<CComPtr<PinImpl>>& pins) {
  std::vector<CComPtr<IPin>> all;
  for (auto& p : pins) all.emplace_back(static_cast<IPin*>(p.p()));
  return new VectorEnum<IPin, IEnumPins>(std::move(all));
}

HRESULT FillFilterInfo(FilterBase* filter, FILTER_INFO* info) {
  if (!info) return E_POINTER;
  const std::wstring name = filter->Name();
  const std::size_t n = std::min<std::size_t>(name.size(), MAX_FILTER_NAME - 1);
  std::wmemcpy(info->achName, name.c_str(), n);
  info->achName[n] = L'\0';
  info->pGraph = filter->Graph() ? GraphInterface(filter->Graph()) : nullptr;
  if (info->pGraph) info->pGraph->AddRef();
  return S_OK;
}

FilterBase* AsFilterBase(IBaseFilter* filter) { return filter ? dynamic_cast<FilterBase*>(filter) : nullptr; }

PinImpl* AsPinImpl(IPin* pin) { return pin ? dynamic_cast<PinImpl*>(pin) : nullptr; }

}  // namespace dshow::gst
