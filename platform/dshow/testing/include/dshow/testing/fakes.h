#pragma once
// In-memory graph, filters, pins, crossbars and seeking for tests of code
// written against the video interfaces. Pins hold their peer (as on the
// platform); filters hold their pins; pins and filters hold no counted
// reference to their filter or graph.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dshow/interfaces.h"

namespace dshow::testing {

class FakeFilter;

class FakePin : public ComObject<FakePin, IPin, IKsPropertySet> {
 public:
  FakePin(FakeFilter* filter, PIN_DIRECTION direction, std::wstring name);

  HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize,
              DWORD* returned) override;

  // A category the pin reports; unreadable: Get fails.
  void SetCategory(const GUID& category) { category_ = category; }
  void SetCategoryUnreadable() { categoryUnreadable_ = true; }
  void SetPropertySet(bool present) { hasPropertySet_ = present; }
  void SetFailQueryDirection(bool fail) { failDirection_ = fail; }
  IPin* Peer() const { return peer_; }
  FakeFilter* Filter() const { return filter_; }
  // Called by the filter when it goes away.
  void Orphan() { filter_ = nullptr; }
  void* QueryOther(REFIID riid);

 private:
  FakeFilter* filter_;
  PIN_DIRECTION direction_;
  std::wstring name_;
  CComPtr<IPin> peer_;
  std::optional<GUID> category_;
  bool categoryUnreadable_ = false;
  bool hasPropertySet_ = true;
  bool failDirection_ = false;
};

class FakeFilter : public ComObject<FakeFilter, IBaseFilter> {
 public:
  FakeFilter(std::wstring name, int inputs, int outputs);

  HRESULT Stop() override { return S_OK; }
  HRESULT Pause() override { return S_OK; }
  HRESULT Run(REFERENCE_TIME) override { return S_OK; }
  HRESULT GetState(DWORD, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_FALSE;
  }
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, const wchar_t* name) override;
  HRESULT GetClassID(CLSID* clsid) override;

  FakePin* Input(int i) const { return inputs_.at(static_cast<std::size_t>(i)); }
  FakePin* Output(int i) const { return outputs_.at(static_cast<std::size_t>(i)); }
  FakePin* AddInput(const std::wstring& name);
  FakePin* AddOutput(const std::wstring& name);
  IFilterGraph* Graph() const { return graph_; }
  const std::wstring& Name() const { return name_; }
  void SetFailEnumPins(bool fail) { failEnumPins_ = fail; }
  // Objects this filter keeps alive (an upstream crossbar chain, say).
  void KeepAlive(IUnknown* object) { keepAlive_.emplace_back(object); }
  void* QueryOther(REFIID riid);

 protected:
  ~FakeFilter() override;

 private:
  std::wstring name_;
  IFilterGraph* graph_ = nullptr;
  std::vector<CComPtr<FakePin>> inputs_;
  std::vector<CComPtr<FakePin>> outputs_;
  std::vector<CComPtr<IUnknown>> keepAlive_;
  bool failEnumPins_ = false;
};

struct CrossbarPinSpec {
  long physicalType;
  long related = -1;
};

// A crossbar filter: inputs then outputs; CanRoute answers from a table;
// Route calls are logged as (output, input).
class FakeCrossbar : public FakeFilter, public IAMCrossbar {
 public:
  FakeCrossbar(std::wstring name, std::vector<CrossbarPinSpec> inputs, std::vector<CrossbarPinSpec> outputs);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return FakeFilter::AddRef(); }
  ULONG Release() override { return FakeFilter::Release(); }

  HRESULT get_PinCounts(long* outputs, long* inputs) override;
  HRESULT CanRoute(long output, long input) override;
  HRESULT Route(long output, long input) override;
  HRESULT get_IsRoutedTo(long output, long* input) override;
  HRESULT get_CrossbarPinInfo(BOOL isInput, long index, long* related, long* physicalType) override;

  void RefuseRoute(long input) { refused_.push_back(input); }
  void SetFailPinCounts(bool fail) { failPinCounts_ = fail; }
  const std::vector<std::pair<long, long>>& RouteLog() const { return routeLog_; }
  // A log shared by several crossbars, to see the order across them.
  void ShareLog(std::vector<std::pair<FakeCrossbar*, std::pair<long, long>>>* log) { sharedLog_ = log; }

 private:
  std::vector<CrossbarPinSpec> inputSpecs_, outputSpecs_;
  std::vector<long> refused_;
  std::vector<long> routedTo_;
  std::vector<std::pair<long, long>> routeLog_;
  std::vector<std::pair<FakeCrossbar*, std::pair<long, long>>>* sharedLog_ = nullptr;
  bool failPinCounts_ = false;
};

class FakeGraph : public ComObject<FakeGraph, IGraphBuilder> {
 public:
  HRESULT AddFilter(IBaseFilter* filter, const wchar_t* name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** filters) override;
  HRESULT FindFilterByName(const wchar_t* name, IBaseFilter** filter) override;
  HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect(IPin* pin) override;
  HRESULT Connect(IPin* output, IPin* input) override;
  HRESULT Render(IPin*) override { return E_NOTIMPL; }
  HRESULT AddSourceFilter(const wchar_t*, const wchar_t*, IBaseFilter**) override { return E_NOTIMPL; }

  std::vector<IBaseFilter*> Filters() const;
  bool Contains(IBaseFilter* filter) const;
  void SetFailEnumFilters(bool fail) { failEnumFilters_ = fail; }
  void* QueryOther(REFIID riid);

 protected:
  ~FakeGraph() override;

 private:
  std::vector<std::pair<CComPtr<IBaseFilter>, std::wstring>> filters_;
  bool failEnumFilters_ = false;
};

// Connects output o of a to input i of b.
HRESULT Link(FakeFilter* a, int o, FakeFilter* b, int i);

// Media-time seeking over a clip of a duration and frame rate.
class FakeSeeking : public ComObject<FakeSeeking, IMediaSeeking> {
 public:
  FakeSeeking(LONGLONG duration, double framesPerSecond) : duration_(duration), fps_(framesPerSecond) {}
  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetCurrentPosition(LONGLONG* position) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD, LONGLONG*, DWORD) override;

  GUID format = TIME_FORMAT_MEDIA_TIME;
  bool failDuration = false;
  bool failConvert = false;
  bool mediaTimeSupported = true;

 private:
  LONGLONG duration_;
  double fps_;
  LONGLONG position_ = 0;
};

// A test's own sample buffer, handed to a grabber callback's SampleCB. The
// size and the actual length are set apart, so short samples can be made.
class FakeMediaSample : public ComObject<FakeMediaSample, IMediaSample> {
 public:
  explicit FakeMediaSample(std::size_t size) : buffer_(size), actual_(static_cast<long>(size)) {}
  HRESULT GetPointer(BYTE** buffer) override;
  long GetSize() override { return static_cast<long>(buffer_.size()); }
  long GetActualDataLength() override { return actual_; }

  BYTE* Data() { return buffer_.data(); }
  // Keeps the leading bytes; new ones are zero.
  void SetSize(std::size_t size) { buffer_.resize(size); }
  void SetActualDataLength(long length) { actual_ = length; }
  // A null buffer (GetPointer fails).
  void SetNullPointer(bool null) { nullPointer_ = null; }

 private:
  std::vector<BYTE> buffer_;
  long actual_;
  bool nullPointer_ = false;
};

}  // namespace dshow::testing
