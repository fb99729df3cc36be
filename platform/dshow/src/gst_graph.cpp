// The filter graph: a GstPipeline whose children are the filters' bins.
#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <sstream>

#include "com/bstr.h"
#include "dshow/vector_enum.h"
#include "gst_core.h"
#include "gst_filters.h"
#include "win/window_services.h"

namespace dshow::gst {

namespace {

constexpr std::size_t kMaxQueuedEvents = 256;  // nobody may drain them
constexpr GstClockTime kStateWait = 5 * GST_SECOND;

class SystemClock : public ComObject<SystemClock, IReferenceClock> {
 public:
  HRESULT GetTime(REFERENCE_TIME* time) override {
    if (!time) return E_POINTER;
    GstClock* clock = gst_system_clock_obtain();
    *time = static_cast<REFERENCE_TIME>(gst_clock_get_time(clock) / 100);
    gst_object_unref(clock);
    return S_OK;
  }
};

struct Event {
  long code;
  LONG_PTR p1, p2;
};

}  // namespace

class GstGraph : public ComObject<GstGraph, IFilterGraph2, IMediaControl, IMediaEventEx, IMediaSeeking,
                                  IMediaFilter, IPersistStream> {
 public:
  GstGraph() {
    EnsureInit();
    pipeline_ = gst_pipeline_new(nullptr);
    gst_object_ref_sink(pipeline_);
    GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
    gst_bus_set_sync_handler(bus, &GstGraph::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
  }

  void* QueryOther(REFIID riid) {
    if (riid == IID_IGraphBuilder || riid == IID_IFilterGraph) return static_cast<IFilterGraph2*>(this);
    return nullptr;
  }

  GstElement* Pipeline() const { return pipeline_; }

  // IFilterGraph
  HRESULT AddFilter(IBaseFilter* filter, const wchar_t* name) override {
    FilterBase* base = AsFilterBase(filter);
    if (!base) return E_POINTER;
    if (base->Graph()) return VFW_E_DUPLICATE_NAME;
    std::wstring unique = name && *name ? name : L"Filter";
    for (int suffix = 1; NameTaken(unique); ++suffix) {
      wchar_t tail[16];
      std::swprintf(tail, 16, L" %04d", suffix);
      unique = std::wstring(name && *name ? name : L"Filter") + tail;
    }
    gst_object_set_name(GST_OBJECT(base->Bin()), com::WideToUtf8(unique.c_str()).c_str());
    if (!gst_bin_add(GST_BIN(pipeline_), base->Bin())) return E_FAIL;
    filter->AddRef();
    filters_.push_back(base);
    base->Join(this, unique);
    if (GST_STATE(pipeline_) > GST_STATE_NULL) gst_element_sync_state_with_parent(base->Bin());
    return S_OK;
  }

  HRESULT RemoveFilter(IBaseFilter* filter) override {
    FilterBase* base = AsFilterBase(filter);
    auto it = std::find(filters_.begin(), filters_.end(), base);
    if (!base || it == filters_.end()) return VFW_E_NOT_FOUND;
    Detach(base);
    filters_.erase(it);
    base->ReleaseFilter();
    return S_OK;
  }

  HRESULT EnumFilters(IEnumFilters** out) override {
    if (!out) return E_POINTER;
    std::vector<CComPtr<IBaseFilter>> all;
    for (FilterBase* f : filters_) all.emplace_back(f->AsFilter());
    *out = new VectorEnum<IBaseFilter, IEnumFilters>(std::move(all));
    return S_OK;
  }

  HRESULT FindFilterByName(const wchar_t* name, IBaseFilter** filter) override {
    if (!name || !filter) return E_POINTER;
    *filter = nullptr;
    for (FilterBase* f : filters_)
      if (f->Name() == name) {
        *filter = f->AsFilter();
        (*filter)->AddRef();
        return S_OK;
      }
    return VFW_E_NOT_FOUND;
  }

  HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE*) override { return Connect(output, input); }

  HRESULT Disconnect(IPin* pin) override {
    PinImpl* p = AsPinImpl(pin);
    if (!p) return E_POINTER;
    PinImpl* peer = p->PeerImpl();
    if (!peer) return S_FALSE;
    PinImpl* out = p->Direction() == PINDIR_OUTPUT ? p : peer;
    PinImpl* in = out == p ? peer : p;
    if (out->Pad() && in->Pad()) gst_pad_unlink(out->Pad(), in->Pad());
    if (in->Filter()) in->Filter()->OnInputDisconnected(in);
    if (out->Filter()) out->Filter()->OnOutputDisconnected(out);
    CComPtr<PinImpl> keepIn(in), keepOut(out);
    in->Disconnect();
    out->Disconnect();
    return S_OK;
  }

  // IGraphBuilder
  HRESULT Connect(IPin* output, IPin* input) override {
    PinImpl* out = AsPinImpl(output);
    PinImpl* in = AsPinImpl(input);
    if (!out || !in) return E_POINTER;
    if (out->Direction() != PINDIR_OUTPUT) std::swap(out, in);
    if (out->Direction() != PINDIR_OUTPUT || in->Direction() != PINDIR_INPUT) return VFW_E_CANNOT_CONNECT;
    return ConnectPins(out, in);
  }

  HRESULT ConnectPins(PinImpl* out, PinImpl* in) {
    if (out->PeerImpl() || in->PeerImpl()) return VFW_E_ALREADY_CONNECTED;
    if (!out->Filter() || !in->Filter() || out->Filter()->Graph() != this || in->Filter()->Graph() != this)
      return VFW_E_NOT_FOUND;
    out->Filter()->OnOutputConnected(out);
    in->format = out->format;
    HRESULT hr = in->Filter()->OnInputConnected(in);
    if (FAILED(hr)) {
      out->Filter()->OnOutputDisconnected(out);
      return hr;
    }
    const GstPadLinkReturn link = gst_pad_link(out->Pad(), in->Pad());
    if (link != GST_PAD_LINK_OK) {
      in->Filter()->OnInputDisconnected(in);
      out->Filter()->OnOutputDisconnected(out);
      return VFW_E_CANNOT_CONNECT;
    }
    out->AddRef();
    in->AddRef();
    out->peer_ = in;
    in->peer_ = out;
    return S_OK;
  }

  HRESULT Render(IPin*) override { return E_NOTIMPL; }

  HRESULT AddSourceFilter(const wchar_t* file, const wchar_t* name, IBaseFilter** filter) override {
    if (!file || !filter) return E_POINTER;
    *filter = nullptr;
    CComPtr<IBaseFilter> source;
    source.Attach(MakeFileSource(CLSID_AsyncReader));
    CComPtr<IFileSourceFilter> load;
    source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&load));
    HRESULT hr = load->Load(file, nullptr);
    if (FAILED(hr)) return hr;
    hr = AddFilter(source, name ? name : file);
    if (SUCCEEDED(hr)) *filter = source.Detach();
    return hr;
  }

  // IMediaControl
  HRESULT Run() override {
    for (FilterBase* f : filters_) f->BeforeRun();
    for (FilterBase* f : filters_) f->OnGraphState(State_Running);
    if (pendingSeek_ && GST_STATE(pipeline_) < GST_STATE_PAUSED && FAILED(PauseForSeek())) return E_FAIL;
    ApplyPendingSeek();
    const GstStateChangeReturn r = gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    if (r == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    logical_ = State_Running;
    return r == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
  }

  HRESULT Pause() override {
    for (FilterBase* f : filters_) f->BeforeRun();
    for (FilterBase* f : filters_) f->OnGraphState(State_Paused);
    if (pendingSeek_ && GST_STATE(pipeline_) < GST_STATE_PAUSED && FAILED(PauseForSeek())) return E_FAIL;
    const GstStateChangeReturn r = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    if (r == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    logical_ = State_Paused;
    ApplyPendingSeek();
    return r == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
  }

  // Stopped is PAUSED underneath: position and the last frame are kept.
  HRESULT Stop() override {
    for (FilterBase* f : filters_) f->BeforeStop();
    for (FilterBase* f : filters_) f->OnGraphState(State_Stopped);
    if (GST_STATE(pipeline_) == GST_STATE_NULL && GST_STATE_PENDING(pipeline_) == GST_STATE_VOID_PENDING) {
      logical_ = State_Stopped;
      return S_OK;
    }
    const GstStateChangeReturn r = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    logical_ = State_Stopped;
    return r == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
  }

  HRESULT GetState(LONG timeoutMs, OAFilterState* state) override {
    if (!state) return E_POINTER;
    *state = logical_;
    if (GST_STATE(pipeline_) == GST_STATE_NULL && GST_STATE_PENDING(pipeline_) == GST_STATE_VOID_PENDING)
      return S_OK;
    GstState current, pending;
    const GstStateChangeReturn r = gst_element_get_state(
        pipeline_, &current, &pending, timeoutMs < 0 ? kStateWait : static_cast<GstClockTime>(timeoutMs) * GST_MSECOND);
    if (r == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    return r == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
  }

  HRESULT StopWhenReady() override {
    for (FilterBase* f : filters_) f->BeforeRun();
    if (pendingSeek_ && GST_STATE(pipeline_) < GST_STATE_PAUSED && FAILED(PauseForSeek())) return E_FAIL;
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    ApplyPendingSeek();
    gst_element_get_state(pipeline_, nullptr, nullptr, kStateWait);
    return Stop();
  }

  // IMediaFilter (the graph's own)
  HRESULT Run(REFERENCE_TIME) override { return Run(); }
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override {
    OAFilterState s = 0;
    const HRESULT hr = GetState(static_cast<LONG>(timeoutMs), &s);
    if (state) *state = static_cast<FILTER_STATE>(s);
    return hr;
  }
  HRESULT SetSyncSource(IReferenceClock* clock) override {
    if (clock) {
      gst_pipeline_auto_clock(GST_PIPELINE(pipeline_));
    } else {
      // No clock: files run as fast as they decode.
      gst_pipeline_use_clock(GST_PIPELINE(pipeline_), nullptr);
    }
    clock_ = clock;
    hasClock_ = clock != nullptr;
    return S_OK;
  }
  HRESULT GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    if (hasClock_ && !clock_) clock_.Attach(new SystemClock);
    return clock_.CopyTo(clock);
  }

  // IMediaEventEx
  HRESULT GetEvent(long* code, LONG_PTR* p1, LONG_PTR* p2, long timeoutMs) override {
    if (!code || !p1 || !p2) return E_POINTER;
    std::unique_lock<std::mutex> lock(eventLock_);
    const auto wait = std::chrono::milliseconds(timeoutMs < 0 ? 5000 : timeoutMs);
    if (!eventReady_.wait_for(lock, wait, [&] { return !events_.empty(); })) return E_ABORT;
    *code = events_.front().code;
    *p1 = events_.front().p1;
    *p2 = events_.front().p2;
    events_.pop_front();
    return S_OK;
  }
  HRESULT FreeEventParams(long, LONG_PTR, LONG_PTR) override { return S_OK; }
  HRESULT SetNotifyWindow(OAHWND hwnd, long message, LONG_PTR instance) override {
    std::lock_guard<std::mutex> lock(eventLock_);
    notifyWindow_ = hwnd;
    notifyMessage_ = message;
    notifyInstance_ = instance;
    return S_OK;
  }

  // IMediaSeeking
  HRESULT GetCapabilities(DWORD* caps) override {
    if (!caps) return E_POINTER;
    *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
            AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration;
    return S_OK;
  }
  HRESULT IsFormatSupported(const GUID* format) override {
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME || *format == TIME_FORMAT_FRAME ? S_OK : S_FALSE;
  }
  HRESULT GetTimeFormat(GUID* format) override {
    if (!format) return E_POINTER;
    *format = timeFormat_;
    return S_OK;
  }
  HRESULT SetTimeFormat(const GUID* format) override {
    if (!format) return E_POINTER;
    if (IsFormatSupported(format) != S_OK) return E_INVALIDARG;
    timeFormat_ = *format;
    return S_OK;
  }
  HRESULT GetDuration(LONGLONG* duration) override {
    if (!duration) return E_POINTER;
    const SourceInfo s = Source();
    if (s.durationNs <= 0) return E_NOTIMPL;
    *duration = FromNs(s.durationNs, s);
    return S_OK;
  }
  HRESULT GetCurrentPosition(LONGLONG* position) override {
    if (!position) return E_POINTER;
    gint64 ns = lastSeekNs_;
    if (GST_STATE(pipeline_) >= GST_STATE_PAUSED) {
      gint64 q = 0;
      if (gst_element_query_position(pipeline_, GST_FORMAT_TIME, &q)) ns = q;
    }
    *position = FromNs(ns, Source());
    return S_OK;
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override {
    if (!target) return E_POINTER;
    const GUID from = sourceFormat ? *sourceFormat : timeFormat_;
    const GUID to = targetFormat ? *targetFormat : timeFormat_;
    if (IsFormatSupported(&from) != S_OK || IsFormatSupported(&to) != S_OK) return E_INVALIDARG;
    const SourceInfo s = Source();
    const gint64 ns = ToNs(source, from, s);
    *target = to == TIME_FORMAT_FRAME ? NsToFrames(ns, s) : ns / 100;
    return S_OK;
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*, DWORD) override {
    if (!current || (currentFlags & 0x3) == AM_SEEKING_NoPositioning) return S_OK;
    const SourceInfo s = Source();
    // Frame positions are clamped to the clip: a seek before the start trips
    // the media library's checks, one past the end shows nothing.
    LONGLONG frames = timeFormat_ == TIME_FORMAT_FRAME ? *current : NsToFrames(*current * 100, s);
    const LONGLONG last = s.durationNs > 0 ? std::max<LONGLONG>(0, NsToFrames(s.durationNs, s) - 1) : frames;
    frames = std::clamp<LONGLONG>(frames, 0, std::max<LONGLONG>(0, last));
    gint64 ns = timeFormat_ == TIME_FORMAT_FRAME ? FramesToNs(frames, s)
                                                 : std::clamp<gint64>(*current * 100, 0, FramesToNs(last, s));
    lastSeekNs_ = ns;
    pendingSeek_ = true;
    if (GST_STATE(pipeline_) >= GST_STATE_PAUSED || GST_STATE_PENDING(pipeline_) >= GST_STATE_PAUSED) ApplyPendingSeek();
    return S_OK;
  }

  // IPersistStream: our own text description of the graph.
  HRESULT Save(IStream* stream, BOOL) override;
  HRESULT Load(IStream* stream) override;

  void PostEvent(long code, LONG_PTR p1) {
    OAHWND hwnd;
    long message;
    LONG_PTR instance;
    {
      std::lock_guard<std::mutex> lock(eventLock_);
      hwnd = notifyWindow_;
      message = notifyMessage_;
      instance = notifyInstance_;
    }
    // The window hears of it before anyone can take the event.
    if (hwnd) ::PostMessage(reinterpret_cast<HWND>(hwnd), static_cast<UINT>(message), 0, instance);
    {
      std::lock_guard<std::mutex> lock(eventLock_);
      if (events_.size() >= kMaxQueuedEvents) events_.pop_front();
      events_.push_back(Event{code, p1, 0});
    }
    eventReady_.notify_all();
  }

 protected:
  ~GstGraph() override {
    // Recordings are finished as by Stop; then the streaming threads end,
    // before any filter (and so any callback) is released.
    for (FilterBase* f : filters_) f->BeforeStop();
    for (FilterBase* f : filters_) f->OnGraphState(State_Stopped);
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    std::vector<FilterBase*> filters;
    filters.swap(filters_);
    for (FilterBase* f : filters) {
      for (auto& pin : f->Pins()) Disconnect(pin);
    }
    for (FilterBase* f : filters) {
      f->OnRemoved();
      gst_element_set_state(f->Bin(), GST_STATE_NULL);
      gst_bin_remove(GST_BIN(pipeline_), f->Bin());
      f->Join(nullptr, f->Name());
      f->ReleaseFilter();
    }
    gst_object_unref(pipeline_);
  }

 private:
  struct SourceInfo {
    gint64 durationNs = 0;
    int fpsNum = 25, fpsDen = 1;
  };

  SourceInfo Source() const {
    SourceInfo s;
    for (FilterBase* f : filters_) {
      gint64 d = 0;
      int n = 0, den = 1;
      if (f->StreamInfo(&d, &n, &den)) {
        s.durationNs = d;
        if (n > 0 && den > 0) {
          s.fpsNum = n;
          s.fpsDen = den;
        }
        return s;
      }
    }
    return s;
  }
  static gint64 FramesToNs(LONGLONG frames, const SourceInfo& s) {
    return static_cast<gint64>(gst_util_uint64_scale_round(static_cast<guint64>(std::max<LONGLONG>(frames, 0)),
                                                            GST_SECOND * s.fpsDen, s.fpsNum));
  }
  static LONGLONG NsToFrames(gint64 ns, const SourceInfo& s) {
    return static_cast<LONGLONG>(gst_util_uint64_scale(static_cast<guint64>(std::max<gint64>(ns, 0)) + GST_MSECOND / 2,
                                                       s.fpsNum, GST_SECOND * s.fpsDen));
  }
  gint64 ToNs(LONGLONG value, const GUID& format, const SourceInfo& s) const {
    return format == TIME_FORMAT_FRAME ? FramesToNs(value, s) : value * 100;
  }
  LONGLONG FromNs(gint64 ns, const SourceInfo& s) const {
    return timeFormat_ == TIME_FORMAT_FRAME ? NsToFrames(ns, s) : ns / 100;
  }

  // A seek needs a prerolled pipeline; the frames of that first preroll
  // precede the seek and are not handed to callbacks.
  HRESULT PauseForSeek() {
    for (FilterBase* f : filters_) f->HoldUntilFlush();
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    return S_OK;
  }

  void ApplyPendingSeek() {
    if (!pendingSeek_) return;
    if (GST_STATE(pipeline_) < GST_STATE_PAUSED && GST_STATE_PENDING(pipeline_) < GST_STATE_PAUSED) return;
    gst_element_get_state(pipeline_, nullptr, nullptr, kStateWait);
    pendingSeek_ = false;
    if (!gst_element_seek_simple(pipeline_, GST_FORMAT_TIME,
                                 static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), lastSeekNs_)) {
      // No flush will come: frames flow again as they are.
      for (FilterBase* f : filters_) f->CancelHold();
    }
    gst_element_get_state(pipeline_, nullptr, nullptr, kStateWait);
  }

  bool NameTaken(const std::wstring& name) const {
    for (FilterBase* f : filters_)
      if (f->Name() == name) return true;
    return false;
  }

  void Detach(FilterBase* f) {
    // In a paused (stopped) graph one of this filter's streaming threads may
    // wait inside a downstream sink for the graph to play, holding the pad's
    // stream lock that taking the filter down needs. Flushing those sinks
    // lets it go; they are ready again afterwards.
    std::vector<GstPad*> downstream;
    if (GST_STATE(pipeline_) == GST_STATE_PAUSED)
      for (auto& pin : f->Pins())
        if (pin->Direction() == PINDIR_OUTPUT && pin->PeerImpl() && pin->PeerImpl()->Pad()) {
          GstPad* pad = GST_PAD(gst_object_ref(pin->PeerImpl()->Pad()));
          gst_pad_send_event(pad, gst_event_new_flush_start());
          downstream.push_back(pad);
        }
    for (auto& pin : f->Pins()) Disconnect(pin);
    f->OnRemoved();
    gst_element_set_locked_state(f->Bin(), TRUE);
    gst_element_set_state(f->Bin(), GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_), f->Bin());
    gst_element_set_locked_state(f->Bin(), FALSE);
    f->Join(nullptr, f->Name());
    for (GstPad* pad : downstream) {
      gst_pad_send_event(pad, gst_event_new_flush_stop(TRUE));
      gst_object_unref(pad);
    }
  }

  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* self = static_cast<GstGraph*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_EOS:
        self->PostEvent(EC_COMPLETE, S_OK);
        break;
      case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        dshow::SetLastPipelineError(error ? error->message : "Pipeline error.");
        if (error) g_error_free(error);
        g_free(debug);
        self->PostEvent(EC_ERRORABORT, E_FAIL);
        break;
      }
      default:
        break;
    }
    return GST_BUS_DROP;
  }

  friend GstElement* PipelineOf(GstGraph* graph);
  GstElement* pipeline_;
  std::vector<FilterBase*> filters_;  // one reference each
  OAFilterState logical_ = State_Stopped;
  GUID timeFormat_ = TIME_FORMAT_MEDIA_TIME;
  gint64 lastSeekNs_ = 0;
  bool pendingSeek_ = false;
  CComPtr<IReferenceClock> clock_;
  bool hasClock_ = true;

  std::mutex eventLock_;
  std::condition_variable eventReady_;
  std::deque<Event> events_;
  OAHWND notifyWindow_ = 0;
  long notifyMessage_ = 0;
  LONG_PTR notifyInstance_ = 0;
};

GstElement* PipelineOf(GstGraph* graph) { return graph ? graph->pipeline_ : nullptr; }

IFilterGraph* GraphInterface(GstGraph* graph) { return graph ? static_cast<IFilterGraph2*>(graph) : nullptr; }

HRESULT GraphConnect(GstGraph* graph, PinImpl* output, PinImpl* input) {
  return graph->Connect(output, input);
}

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char c = s[++i];
      out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      field += line[i];
      field += line[++i];
    } else if (line[i] == '\t') {
      fields.push_back(Unescape(field));
      field.clear();
    } else {
      field += line[i];
    }
  }
  fields.push_back(Unescape(field));
  return fields;
}

constexpr char kGraphMagic[] = "QUORLGRAPH 1";

}  // namespace

// One line per filter ("filter", class id, name, what it opened), then one
// per link ("link", filter, output position, filter, input position), where
// positions count the filter's outputs or inputs from 0.
HRESULT GstGraph::Save(IStream* stream, BOOL) {
  if (!stream) return E_POINTER;
  std::ostringstream out;
  out << kGraphMagic << '\n';
  for (FilterBase* f : filters_)
    out << "filter\t" << GuidToString(f->ClassId()) << '\t' << Escape(com::WideToUtf8(f->Name().c_str())) << '\t'
        << Escape(f->Persisted()) << '\n';
  auto position = [](FilterBase* f, PinImpl* pin) {
    int n = 0;
    for (auto& p : f->Pins()) {
      if (p.p() == pin) return n;
      if (p->Direction() == pin->Direction()) ++n;
    }
    return -1;
  };
  auto index = [&](FilterBase* f) {
    return static_cast<int>(std::find(filters_.begin(), filters_.end(), f) - filters_.begin());
  };
  for (FilterBase* f : filters_)
    for (auto& p : f->Pins()) {
      PinImpl* peer = p->PeerImpl();
      if (p->Direction() != PINDIR_OUTPUT || !peer || !peer->Filter()) continue;
      out << "link\t" << index(f) << '\t' << position(f, p) << '\t' << index(peer->Filter()) << '\t'
          << position(peer->Filter(), peer) << '\n';
    }
  out << "end\n";
  const std::string text = out.str();
  return stream->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
}

HRESULT GstGraph::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  std::string text;
  char chunk[4096];
  for (;;) {
    ULONG read = 0;
    stream->Read(chunk, sizeof(chunk), &read);
    if (read == 0) break;
    text.append(chunk, read);
  }
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kGraphMagic) return VFW_E_INVALID_FILE_FORMAT;
  std::vector<CComPtr<IBaseFilter>> made;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Split(line);
    if (f[0] == "end") return S_OK;
    if (f[0] == "filter" && f.size() == 4) {
      GUID clsid;
      if (!GuidFromString(f[1], &clsid)) return VFW_E_INVALID_FILE_FORMAT;
      CComPtr<IBaseFilter> filter;
      HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&filter));
      if (FAILED(hr)) return hr;
      if (!f[3].empty()) {
        CComPtr<IFileSourceFilter> source;
        if (SUCCEEDED(filter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&source)))) {
          hr = source->Load(com::Utf8ToWide(f[3].c_str()).c_str(), nullptr);
          if (FAILED(hr)) return hr;
        }
        CComPtr<IFileSinkFilter> sink;
        if (SUCCEEDED(filter->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink)))) {
          hr = sink->SetFileName(com::Utf8ToWide(f[3].c_str()).c_str(), nullptr);
          if (FAILED(hr)) return hr;
        }
      }
      hr = AddFilter(filter, com::Utf8ToWide(f[2].c_str()).c_str());
      if (FAILED(hr)) return hr;
      made.push_back(filter);
    } else if (f[0] == "link" && f.size() == 5) {
      const int from = std::atoi(f[1].c_str()), out = std::atoi(f[2].c_str());
      const int to = std::atoi(f[3].c_str()), inPos = std::atoi(f[4].c_str());
      if (from < 0 || to < 0 || from >= static_cast<int>(made.size()) || to >= static_cast<int>(made.size()))
        return VFW_E_INVALID_FILE_FORMAT;
      auto pinAt = [](IBaseFilter* filter, PIN_DIRECTION d, int n) -> PinImpl* {
        FilterBase* base = AsFilterBase(filter);
        for (auto& p : base->Pins())
          if (p->Direction() == d && n-- == 0) return p;
        return nullptr;
      };
      // An output may appear only once earlier outputs are connected (tees).
      PinImpl* o = pinAt(made[from], PINDIR_OUTPUT, out);
      PinImpl* i = pinAt(made[to], PINDIR_INPUT, inPos);
      if (!o || !i) return VFW_E_INVALID_FILE_FORMAT;
      HRESULT hr = ConnectPins(o, i);
      if (FAILED(hr)) return hr;
    } else {
      return VFW_E_INVALID_FILE_FORMAT;
    }
  }
  return VFW_E_INVALID_FILE_FORMAT;
}

IUnknown* MakeFilterGraph() { return static_cast<IFilterGraph2*>(new GstGraph); }

void PostGraphError(GstGraph* graph, const std::string& text) {
  dshow::SetLastPipelineError(text);
  if (graph) graph->PostEvent(EC_ERRORABORT, E_FAIL);
}

}  // namespace dshow::gst
