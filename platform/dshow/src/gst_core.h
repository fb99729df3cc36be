#pragma once
// Internal: the GStreamer-backed filter and pin bases shared by the graph
// and the filters. A filter is a bin with ghost pads; a pin is a pad.
#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dshow/platform.h"

namespace dshow::gst {

void EnsureInit();

// What travels on a link, known before preroll: the size and rate come from
// the discovered stream or the device format.
struct VideoFormat {
  GUID subtype = GUID_NULL;  // GUID_NULL: not raw video we know
  int width = 0;
  int height = 0;
  int fpsNum = 25;
  int fpsDen = 1;
  bool bottomUp = false;  // rows bottom-up in memory (downstream of a grabber)
  bool compressed = false;
};

// FORMAT_VideoInfo for a format: positive height, BI_RGB for RGB.
void FillMediaType(const VideoFormat& format, AM_MEDIA_TYPE* type);
const char* CapsFormatOf(const GUID& subtype);  // "BGR", "BGRx", ... or null
int RowStride(int width, int bits);

class FilterBase;
class GstGraph;

class PinImpl : public ComObject<PinImpl, IPin, IKsPropertySet> {
 public:
  PinImpl(FilterBase* filter, PIN_DIRECTION direction, std::wstring name, GstPad* pad);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize,
              DWORD* returned) override;

  GstPad* Pad() const { return pad_; }
  PIN_DIRECTION Direction() const { return direction_; }
  FilterBase* Filter() const { return filter_; }
  PinImpl* PeerImpl() const { return peer_; }
  void SetCategory(const GUID& category) { category_ = category; }
  std::optional<GUID> Category() const { return category_; }
  // The format this pin carries (outputs) or receives (inputs).
  VideoFormat format;
  void Orphan() { filter_ = nullptr; }
  void SetPad(GstPad* pad);
  // Pairs two pins that carry nothing through the media library (a
  // crossbar in front of a capture filter).
  static void Pair(PinImpl* out, PinImpl* in) {
    out->AddRef();
    in->AddRef();
    out->peer_ = in;
    in->peer_ = out;
  }

 protected:
  ~PinImpl() override;

 private:
  friend class GstGraph;
  FilterBase* filter_;
  PIN_DIRECTION direction_;
  std::wstring name_;
  GstPad* pad_;  // a ghost pad of the filter's bin (owned by the bin)
  PinImpl* peer_ = nullptr;  // a counted reference while connected
  std::optional<GUID> category_;
};

// The common part of every filter. Derived classes build the bin's content
// and add pins; the graph links pads and calls the hooks below.
class FilterBase {
 public:
  virtual ~FilterBase();

  GstElement* Bin() const { return bin_; }
  GstGraph* Graph() const { return graph_; }
  const std::vector<CComPtr<PinImpl>>& Pins() const { return pins_; }
  std::wstring Name() const { return name_; }
  virtual CLSID ClassId() const = 0;
  virtual IBaseFilter* AsFilter() = 0;

  // Hooks around linking: an input learned its format; an output is about
  // to be linked (request pads, tees).
  virtual HRESULT OnInputConnected(PinImpl* input) { return S_OK; }
  virtual void OnInputDisconnected(PinImpl* input) {}
  virtual void OnOutputConnected(PinImpl* output) {}
  virtual void OnOutputDisconnected(PinImpl* output) {}
  // Interfaces a pin answers for the filter (stream config, control, ...).
  virtual void* PinInterface(PinImpl* pin, REFIID riid) { return nullptr; }
  // Called by the graph before it stops (finish files) and when removed.
  virtual void BeforeStop() {}
  // Called by the graph before it pauses or runs.
  virtual void BeforeRun() {}
  // The graph's new state, told before the pipeline changes: a live source
  // hands out no frame once the graph was told to pause or stop.
  virtual void OnGraphState(FILTER_STATE state) {}
  // Frames before the next flush are not handed out (they precede a seek).
  virtual void HoldUntilFlush() {}
  virtual void CancelHold() {}
  virtual void OnRemoved() {}
  // A description for graph files: a file or device this filter opened.
  virtual std::string Persisted() const { return {}; }
  // A source's stream: duration and frame rate (false for other filters).
  virtual bool StreamInfo(gint64* durationNs, int* fpsNum, int* fpsDen) const { return false; }

  void Join(GstGraph* graph, const std::wstring& name);
  ULONG AddRefFilter() { return AsFilter()->AddRef(); }
  ULONG ReleaseFilter() { return AsFilter()->Release(); }

 protected:
  explicit FilterBase(const char* binName);
  PinImpl* AddPin(PIN_DIRECTION direction, const std::wstring& name, GstPad* target);
  // Adds an element to the bin (takes the floating reference).
  GstElement* Make(const char* factory, const char* name = nullptr);

  GstElement* bin_;
  GstGraph* graph_ = nullptr;
  std::wstring name_;
  std::vector<CComPtr<PinImpl>> pins_;  // inputs first, then outputs
};

// IBaseFilter over FilterBase for a derived filter class.
template <class Derived, class... Extra>
class Filter : public FilterBase, public ComObject<Derived, IBaseFilter, Extra...> {
 public:
  using FilterBase::FilterBase;
  IBaseFilter* AsFilter() override { return this; }
  void* QueryOther(REFIID riid) {
    return riid == IID_IMediaFilter ? static_cast<IMediaFilter*>(static_cast<IBaseFilter*>(this)) : nullptr;
  }

  HRESULT Stop() override { return S_OK; }
  HRESULT Pause() override { return S_OK; }
  HRESULT Run(REFERENCE_TIME) override { return S_OK; }
  HRESULT GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = State_Stopped;
    return S_OK;
  }
  HRESULT SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_FALSE;
  }
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, const wchar_t* name) override;
  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = ClassId();
    return S_OK;
  }
};

// Pin enumeration over a snapshot of the filter's pins.
IEnumPins* MakePinEnum(const std::vector<CComPtr<PinImpl>>& pins);
HRESULT FillFilterInfo(FilterBase* filter, FILTER_INFO* info);

template <class Derived, class... Extra>
HRESULT Filter<Derived, Extra...>::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = MakePinEnum(pins_);
  return S_OK;
}

template <class Derived, class... Extra>
HRESULT Filter<Derived, Extra...>::QueryFilterInfo(FILTER_INFO* info) {
  return FillFilterInfo(this, info);
}

template <class Derived, class... Extra>
HRESULT Filter<Derived, Extra...>::JoinFilterGraph(IFilterGraph* graph, const wchar_t* name) {
  return S_OK;  // our graph joins through FilterBase::Join
}

FilterBase* AsFilterBase(IBaseFilter* filter);
PinImpl* AsPinImpl(IPin* pin);

// Class registration of the stand-in's own filters and helpers.
void RegisterAll();

// The graph side that filters call.
class GstGraph;
GstElement* PipelineOf(GstGraph* graph);
IFilterGraph* GraphInterface(GstGraph* graph);
HRESULT GraphConnect(GstGraph* graph, PinImpl* output, PinImpl* input);
void PostGraphError(GstGraph* graph, const std::string& text);

}  // namespace dshow::gst
