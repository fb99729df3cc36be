#include "dshow/testing/fakes.h"

#include <algorithm>
#include <cwchar>

#include "dshow/vector_enum.h"

namespace dshow::testing {

namespace {

void CopyName(const std::wstring& name, wchar_t* out, std::size_t size) {
  const std::size_t n = std::min(name.size(), size - 1);
  std::wmemcpy(out, name.c_str(), n);
  out[n] = L'\0';
}

}  // namespace

FakePin::FakePin(FakeFilter* filter, PIN_DIRECTION direction, std::wstring name)
    : filter_(filter), direction_(direction), name_(std::move(name)) {}

void* FakePin::QueryOther(REFIID riid) { return nullptr; }

HRESULT FakePin::Connect(IPin* receive, const AM_MEDIA_TYPE*) {
  if (!receive) return E_POINTER;
  if (peer_) return VFW_E_ALREADY_CONNECTED;
  auto* other = static_cast<FakePin*>(receive);
  if (other->peer_) return VFW_E_ALREADY_CONNECTED;
  // A pin that cannot say its direction cannot be checked against this one:
  // the connection fails with its reason, and neither pin holds a peer.
  PIN_DIRECTION d = direction_;
  const HRESULT hr = receive->QueryDirection(&d);
  if (FAILED(hr)) return hr;
  if (d == direction_) return VFW_E_CANNOT_CONNECT;
  peer_ = receive;
  other->peer_ = this;
  return S_OK;
}

HRESULT FakePin::Disconnect() {
  if (!peer_) return S_FALSE;
  peer_ = nullptr;
  return S_OK;
}

HRESULT FakePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = peer_;
  if (!peer_) return VFW_E_NOT_CONNECTED;
  peer_->AddRef();
  return S_OK;
}

HRESULT FakePin::ConnectionMediaType(AM_MEDIA_TYPE* type) { return peer_ ? E_NOTIMPL : VFW_E_NOT_CONNECTED; }

HRESULT FakePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter_;
  if (filter_) filter_->AddRef();
  info->dir = direction_;
  CopyName(name_, info->achName, MAX_PIN_NAME);
  return filter_ ? S_OK : E_FAIL;
}

HRESULT FakePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  if (failDirection_) return E_FAIL;
  *direction = direction_;
  return S_OK;
}

HRESULT FakePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize, DWORD* returned) {
  if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY) return E_NOTIMPL;
  if (categoryUnreadable_ || !category_) return E_FAIL;
  if (!data || dataSize < sizeof(GUID)) return E_POINTER;
  *static_cast<GUID*>(data) = *category_;
  if (returned) *returned = sizeof(GUID);
  return S_OK;
}

FakeFilter::FakeFilter(std::wstring name, int inputs, int outputs) : name_(std::move(name)) {
  for (int i = 0; i < inputs; ++i) AddInput(L"In" + std::to_wstring(i));
  for (int o = 0; o < outputs; ++o) AddOutput(L"Out" + std::to_wstring(o));
}

FakeFilter::~FakeFilter() {
  for (auto& pin : inputs_) pin->Orphan();
  for (auto& pin : outputs_) pin->Orphan();
}

void* FakeFilter::QueryOther(REFIID riid) {
  return riid == IID_IMediaFilter ? static_cast<IMediaFilter*>(this) : nullptr;
}

FakePin* FakeFilter::AddInput(const std::wstring& name) {
  CComPtr<FakePin> pin;
  pin.Attach(new FakePin(this, PINDIR_INPUT, name));
  inputs_.push_back(pin);
  return pin;
}

FakePin* FakeFilter::AddOutput(const std::wstring& name) {
  CComPtr<FakePin> pin;
  pin.Attach(new FakePin(this, PINDIR_OUTPUT, name));
  outputs_.push_back(pin);
  return pin;
}

HRESULT FakeFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = State_Stopped;
  return S_OK;
}

HRESULT FakeFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = nullptr;
  if (failEnumPins_) return E_FAIL;
  std::vector<CComPtr<IPin>> all;
  for (auto& p : inputs_) all.emplace_back(p.p());
  for (auto& p : outputs_) all.emplace_back(p.p());
  *pins = new VectorEnum<IPin, IEnumPins>(std::move(all));
  return S_OK;
}

HRESULT FakeFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT FakeFilter::JoinFilterGraph(IFilterGraph* graph, const wchar_t* name) {
  graph_ = graph;
  if (name) name_ = name;
  return S_OK;
}

HRESULT FakeFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = GUID_NULL;
  return S_OK;
}

FakeCrossbar::FakeCrossbar(std::wstring name, std::vector<CrossbarPinSpec> inputs,
                           std::vector<CrossbarPinSpec> outputs)
    : FakeFilter(std::move(name), static_cast<int>(inputs.size()), static_cast<int>(outputs.size())),
      inputSpecs_(std::move(inputs)),
      outputSpecs_(std::move(outputs)),
      routedTo_(outputSpecs_.size(), -1) {}

HRESULT FakeCrossbar::QueryInterface(REFIID riid, void** object) {
  if (riid == IID_IAMCrossbar) {
    if (!object) return E_POINTER;
    *object = static_cast<IAMCrossbar*>(this);
    AddRef();
    return S_OK;
  }
  return FakeFilter::QueryInterface(riid, object);
}

HRESULT FakeCrossbar::get_PinCounts(long* outputs, long* inputs) {
  if (!outputs || !inputs) return E_POINTER;
  if (failPinCounts_) return E_FAIL;
  *outputs = static_cast<long>(outputSpecs_.size());
  *inputs = static_cast<long>(inputSpecs_.size());
  return S_OK;
}

HRESULT FakeCrossbar::CanRoute(long output, long input) {
  if (output < 0 || output >= static_cast<long>(outputSpecs_.size()) || input < 0 ||
      input >= static_cast<long>(inputSpecs_.size()))
    return E_INVALIDARG;
  return std::find(refused_.begin(), refused_.end(), input) == refused_.end() ? S_OK : S_FALSE;
}

HRESULT FakeCrossbar::Route(long output, long input) {
  const HRESULT hr = CanRoute(output, input);
  if (hr != S_OK) return E_FAIL;
  routedTo_[static_cast<std::size_t>(output)] = input;
  routeLog_.emplace_back(output, input);
  if (sharedLog_) sharedLog_->emplace_back(this, std::make_pair(output, input));
  return S_OK;
}

HRESULT FakeCrossbar::get_IsRoutedTo(long output, long* input) {
  if (!input) return E_POINTER;
  if (output < 0 || output >= static_cast<long>(outputSpecs_.size())) return E_INVALIDARG;
  *input = routedTo_[static_cast<std::size_t>(output)];
  return S_OK;
}

HRESULT FakeCrossbar::get_CrossbarPinInfo(BOOL isInput, long index, long* related, long* physicalType) {
  if (!related || !physicalType) return E_POINTER;
  const auto& specs = isInput ? inputSpecs_ : outputSpecs_;
  if (index < 0 || index >= static_cast<long>(specs.size())) return E_INVALIDARG;
  *related = specs[static_cast<std::size_t>(index)].related;
  *physicalType = specs[static_cast<std::size_t>(index)].physicalType;
  return S_OK;
}

FakeGraph::~FakeGraph() {
  // Connected pins hold each other; the graph breaks those links as it goes.
  for (auto& [filter, name] : filters_) {
    CComPtr<IEnumPins> pins;
    if (SUCCEEDED(filter->EnumPins(&pins)))
      for (;;) {
        CComPtr<IPin> pin;
        ULONG n = 0;
        if (pins->Next(1, &pin, &n) != S_OK) break;
        pin->Disconnect();
      }
    filter->JoinFilterGraph(nullptr, nullptr);
  }
}

void* FakeGraph::QueryOther(REFIID riid) {
  return riid == IID_IFilterGraph ? static_cast<IFilterGraph*>(this) : nullptr;
}

HRESULT FakeGraph::AddFilter(IBaseFilter* filter, const wchar_t* name) {
  if (!filter) return E_POINTER;
  if (Contains(filter)) return VFW_E_DUPLICATE_NAME;
  std::wstring unique = name ? name : L"";
  for (int suffix = 1;; ++suffix) {
    bool taken = false;
    for (auto& [f, n] : filters_) taken = taken || n == unique;
    if (!taken) break;
    unique = std::wstring(name ? name : L"") + L" " + std::to_wstring(suffix);
  }
  filters_.emplace_back(CComPtr<IBaseFilter>(filter), unique);
  filter->JoinFilterGraph(this, unique.c_str());
  return S_OK;
}

HRESULT FakeGraph::RemoveFilter(IBaseFilter* filter) {
  for (auto it = filters_.begin(); it != filters_.end(); ++it)
    if (it->first.p() == filter) {
      // As on the platform: a removed filter loses its connections.
      CComPtr<IEnumPins> pins;
      if (SUCCEEDED(filter->EnumPins(&pins)))
        for (;;) {
          CComPtr<IPin> pin, peer;
          ULONG n = 0;
          if (pins->Next(1, &pin, &n) != S_OK) break;
          if (SUCCEEDED(pin->ConnectedTo(&peer))) peer->Disconnect();
          pin->Disconnect();
        }
      filter->JoinFilterGraph(nullptr, nullptr);
      filters_.erase(it);
      return S_OK;
    }
  return E_FAIL;
}

HRESULT FakeGraph::EnumFilters(IEnumFilters** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (failEnumFilters_) return E_FAIL;
  std::vector<CComPtr<IBaseFilter>> all;
  for (auto& [f, n] : filters_) all.push_back(f);
  *out = new VectorEnum<IBaseFilter, IEnumFilters>(std::move(all));
  return S_OK;
}

HRESULT FakeGraph::FindFilterByName(const wchar_t* name, IBaseFilter** filter) {
  if (!name || !filter) return E_POINTER;
  for (auto& [f, n] : filters_)
    if (n == name) return f.CopyTo(filter);
  *filter = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT FakeGraph::ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) {
  if (!output || !input) return E_POINTER;
  return output->Connect(input, type);
}

HRESULT FakeGraph::Connect(IPin* output, IPin* input) { return ConnectDirect(output, input, nullptr); }

HRESULT FakeGraph::Disconnect(IPin* pin) { return pin ? pin->Disconnect() : E_POINTER; }

std::vector<IBaseFilter*> FakeGraph::Filters() const {
  std::vector<IBaseFilter*> all;
  for (auto& [f, n] : filters_) all.push_back(f);
  return all;
}

bool FakeGraph::Contains(IBaseFilter* filter) const {
  for (auto& [f, n] : filters_)
    if (f.p() == filter) return true;
  return false;
}

HRESULT Link(FakeFilter* a, int o, FakeFilter* b, int i) { return a->Output(o)->Connect(b->Input(i), nullptr); }

HRESULT FakeSeeking::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetCurrentPos;
  return S_OK;
}

HRESULT FakeSeeking::IsFormatSupported(const GUID* f) {
  if (!f) return E_POINTER;
  if (*f == TIME_FORMAT_MEDIA_TIME) return mediaTimeSupported ? S_OK : S_FALSE;
  return *f == TIME_FORMAT_FRAME ? S_OK : S_FALSE;
}

HRESULT FakeSeeking::GetTimeFormat(GUID* f) {
  if (!f) return E_POINTER;
  *f = format;
  return S_OK;
}

HRESULT FakeSeeking::SetTimeFormat(const GUID* f) {
  if (!f) return E_POINTER;
  if (IsFormatSupported(f) != S_OK) return E_INVALIDARG;
  format = *f;
  return S_OK;
}

HRESULT FakeSeeking::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  if (failDuration) return E_FAIL;
  *duration = format == TIME_FORMAT_FRAME ? static_cast<LONGLONG>(duration_ * fps_ / 1e7) : duration_;
  return S_OK;
}

HRESULT FakeSeeking::GetCurrentPosition(LONGLONG* position) {
  if (!position) return E_POINTER;
  *position = position_;
  return S_OK;
}

HRESULT FakeSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                       const GUID* sourceFormat) {
  if (!target || !targetFormat) return E_POINTER;
  if (failConvert) return E_FAIL;
  const GUID from = sourceFormat ? *sourceFormat : format;
  const double seconds = from == TIME_FORMAT_FRAME ? source / fps_ : source / 1e7;
  *target = *targetFormat == TIME_FORMAT_FRAME ? static_cast<LONGLONG>(seconds * fps_ + 1e-9)
                                               : static_cast<LONGLONG>(seconds * 1e7);
  return S_OK;
}

HRESULT FakeSeeking::SetPositions(LONGLONG* current, DWORD, LONGLONG*, DWORD) {
  if (current) position_ = *current;
  return S_OK;
}

HRESULT FakeMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = nullPointer_ ? nullptr : buffer_.data();
  return nullPointer_ ? E_FAIL : S_OK;
}

}  // namespace dshow::testing
