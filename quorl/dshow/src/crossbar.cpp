#include "quorl_dshow/crossbar.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace DShow {

namespace {

constexpr long kFirstAudioConnector = 4096;

struct ConnectorName {
  long type;
  const char* name;
};

constexpr ConnectorName kConnectorNames[] = {
    {1, "Video Tuner"},         {2, "Video Composite"},       {3, "Video SVideo"},
    {4, "Video RGB"},           {5, "Video YRYBY"},           {6, "Video SerialDigital"},
    {7, "Video ParallelDigital"}, {8, "Video SCSI"},          {9, "Video AUX"},
    {10, "Video 1394"},         {11, "Video USB"},            {12, "Video Decoder"},
    {13, "Video Encoder"},      {4096, "Audio Tuner"},        {4097, "Audio Line"},
    {4098, "Audio Mic"},        {4099, "Audio AESDigital"},   {4100, "Audio SPDIFDigital"},
    {4101, "Audio SCSI"},       {4102, "Audio AUX"},          {4103, "Audio 1394"},
    {4104, "Audio USB"},        {4105, "Audio Decoder"},
};

// The pin at a position of the crossbar filter's enumeration (inputs first).
HRESULT PinAtPosition(IAMCrossbar* crossbar, long position, IPin** pin) {
  CComPtr<IBaseFilter> filter;
  HRESULT hr = crossbar->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  if (FAILED(hr)) return hr;
  CComPtr<IEnumPins> pins;
  hr = filter->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  for (long i = 0;; ++i) {
    CComPtr<IPin> p;
    ULONG fetched = 0;
    if (pins->Next(1, &p, &fetched) != S_OK || fetched != 1) return E_FAIL;
    if (i == position) {
      // The filter keeps its pins alive; the caller gets no reference.
      *pin = p.p();
      return S_OK;
    }
  }
}

}  // namespace

CCrossbar::CCrossbar(IPin* startPin, HRESULT* result) {
  working_ = CRouting{};
  HRESULT hr = E_OUTOFMEMORY;
  routingList_ = new (std::nothrow) CGenericList<CRouting>("RoutingList", 5);
  if (routingList_) hr = BuildRoutingList(startPin, &working_, 0);
  if (result) *result = hr;
}

CCrossbar::~CCrossbar() {
  DestroyRoutingList();
  delete routingList_;
}

HRESULT CCrossbar::BuildRoutingList(IPin* pin, CRouting* step, int depth) {
  if (!pin || !step) return E_POINTER;
  const HRESULT notCrossbar = depth > 0 ? S_FALSE : E_FAIL;
  CComPtr<IPin> feeding;
  if (FAILED(pin->ConnectedTo(&feeding)) || !feeding) return notCrossbar;
  PIN_INFO info{};
  if (FAILED(feeding->QueryPinInfo(&info))) return S_OK;
  CComPtr<IBaseFilter> filter;
  filter.Attach(info.pFilter);
  CComPtr<IAMCrossbar> crossbar;
  if (!filter || FAILED(filter->QueryInterface(IID_IAMCrossbar, reinterpret_cast<void**>(&crossbar))))
    return notCrossbar;

  long outputs = 0, inputs = 0, outputIndex = 0, relatedOutput = -1, outputType = 0;
  crossbar->get_PinCounts(&outputs, &inputs);
  GetCrossbarIndexFromIPin(crossbar, &outputIndex, false, feeding);
  crossbar->get_CrossbarPinInfo(FALSE, outputIndex, &relatedOutput, &outputType);

  CRouting upstream{};
  for (long i = 0; i < inputs; ++i) {
    long relatedInput = -1, inputType = 0;
    crossbar->get_CrossbarPinInfo(TRUE, i, &relatedInput, &inputType);
    if (inputType >= kFirstAudioConnector) continue;
    if (crossbar->CanRoute(outputIndex, i) != S_OK) continue;
    upstream = CRouting{};
    upstream.right = step;
    step->left = &upstream;
    step->inputIndex = i;
    step->outputIndex = outputIndex;
    step->relatedInputIndex = relatedInput;
    step->relatedOutputIndex = relatedOutput;
    step->crossbar = crossbar;
    step->inputPhysicalType = inputType;
    step->outputPhysicalType = outputType;
    step->depth = depth;
    IPin* inputPin = nullptr;
    GetCrossbarIPinAtIndex(crossbar, i, true, &inputPin);
    if (BuildRoutingList(inputPin, &upstream, depth + 1) == S_FALSE) {
      step->left = nullptr;
      SaveRouting(step);
    }
  }
  step->left = nullptr;
  return S_OK;
}

HRESULT CCrossbar::SaveRouting(CRouting* last) {
  if (!routingList_) return E_POINTER;
  if (!last) return E_POINTER;
  const long count = last->depth + 1;
  CRouting* route = new (std::nothrow) CRouting[count];
  if (!route) return E_FAIL;
  CRouting* from = last;
  for (long i = 0; i < count && from; ++i, from = from->right) {
    route[i] = *from;
    if (route[i].crossbar) route[i].crossbar->AddRef();
  }
  for (long i = 0; i < count; ++i) {
    route[i].left = i > 0 ? &route[i - 1] : nullptr;
    route[i].right = i + 1 < count ? &route[i + 1] : nullptr;
  }
  routingList_->AddTail(route);
  return S_OK;
}

HRESULT CCrossbar::DestroyRoutingList() {
  if (!routingList_) return E_POINTER;
  while (CRouting* route = routingList_->RemoveHead()) {
    const long count = route[0].depth + 1;
    for (long i = 0; i < count; ++i)
      if (route[i].crossbar) route[i].crossbar->Release();
    delete[] route;
  }
  return S_OK;
}

CRouting* CCrossbar::Route(long index) const { return routingList_->Get(static_cast<int>(index)); }

HRESULT CCrossbar::GetCrossbarIPinAtIndex(IAMCrossbar* crossbar, long index, bool isInput, IPin** pin) {
  if (!crossbar || !pin) return E_POINTER;
  long outputs = 0, inputs = 0;
  if (FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return E_FAIL;
  if (index < 0 || index >= (isInput ? inputs : outputs)) return E_FAIL;
  return PinAtPosition(crossbar, isInput ? index : index + inputs, pin);
}

HRESULT CCrossbar::GetCrossbarIndexFromIPin(IAMCrossbar* crossbar, long* index, bool isInput, IPin* pin) {
  if (!crossbar || !index || !pin) return E_POINTER;
  long outputs = 0, inputs = 0;
  if (FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return E_FAIL;
  for (long position = 0; position < inputs + outputs; ++position) {
    IPin* candidate = nullptr;
    if (FAILED(PinAtPosition(crossbar, position, &candidate))) break;
    if (candidate == pin) {
      *index = isInput ? position : position - inputs;
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT CCrossbar::GetInputCount(int* count) {
  if (!count || !routingList_) return E_POINTER;
  *count = routingList_->GetCount();
  return S_OK;
}

HRESULT CCrossbar::GetInputIndex(long* index) {
  if (!index) return E_POINTER;
  *index = currentIndex_;
  return S_OK;
}

HRESULT CCrossbar::SetInputIndex(long index) {
  if (!routingList_) return E_POINTER;
  if (index < 0 || index >= routingList_->GetCount()) return E_FAIL;
  CRouting* route = Route(index);
  HRESULT hr = E_FAIL;
  const long count = route[0].depth + 1;
  for (long i = 0; i < count; ++i) {
    CRouting& step = route[i];
    hr = step.crossbar->Route(step.outputIndex, step.inputIndex);
    if (step.relatedOutputIndex != -1 && step.relatedInputIndex != -1)
      step.crossbar->Route(step.relatedOutputIndex, step.relatedInputIndex);
  }
  currentIndex_ = index;
  return hr;
}

HRESULT CCrossbar::GetInputType(long index, long* physicalType) {
  if (!physicalType || !routingList_) return E_POINTER;
  if (index < 0 || index >= routingList_->GetCount()) return E_FAIL;
  *physicalType = Route(index)[0].inputPhysicalType;
  return S_OK;
}

HRESULT CCrossbar::GetInputName(long index, char* name, long size) {
  if (!routingList_) return E_POINTER;
  if (index < 0 || index >= routingList_->GetCount() || !name || size <= 0) return E_FAIL;
  const char* text = StringFromPinType(Route(index)[0].inputPhysicalType);
  const std::size_t n = std::min<std::size_t>(std::strlen(text), static_cast<std::size_t>(size - 1));
  std::memcpy(name, text, n);
  name[n] = '\0';
  return S_OK;
}

const char* CCrossbar::StringFromPinType(long type) {
  for (const ConnectorName& c : kConnectorNames)
    if (c.type == type) return c.name;
  return "Unknown";
}

}  // namespace DShow
