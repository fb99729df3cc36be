#pragma once
// The video interfaces, with only the methods their callers use. Each one
// names its own identifier (ours) for IidOf and the IID_ constants.
#include "com/unknown.h"
#include "dshow/types.h"

struct IBaseFilter;
struct IFilterGraph;
struct IPin;
struct IMoniker;
struct IStream;
struct IReferenceClock;

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
  IBaseFilter* pFilter;  // carries a reference
  PIN_DIRECTION dir;
  wchar_t achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
  wchar_t achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // carries a reference when not null
};

struct IPin : IUnknown {
  virtual HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT ConnectedTo(IPin** pin) = 0;
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
};
constexpr IID IID_IPin = OurGuid(0x300);
QUORL_DECLARE_IID(IPin, IID_IPin)

struct IEnumPins : IUnknown {
  virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
};
constexpr IID IID_IEnumPins = OurGuid(0x301);
QUORL_DECLARE_IID(IEnumPins, IID_IEnumPins)

struct IReferenceClock : IUnknown {
  virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
};
constexpr IID IID_IReferenceClock = OurGuid(0x302);
QUORL_DECLARE_IID(IReferenceClock, IID_IReferenceClock)

struct IMediaFilter : IUnknown {
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  virtual HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) = 0;
  // Null: no clock, so files run as fast as they decode.
  virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
  virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};
constexpr IID IID_IMediaFilter = OurGuid(0x303);
QUORL_DECLARE_IID(IMediaFilter, IID_IMediaFilter)

// EnumPins lists all inputs, then all outputs.
struct IBaseFilter : IMediaFilter {
  virtual HRESULT EnumPins(IEnumPins** pins) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const wchar_t* name) = 0;
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
};
constexpr IID IID_IBaseFilter = OurGuid(0x304);
QUORL_DECLARE_IID(IBaseFilter, IID_IBaseFilter)

struct IEnumFilters : IUnknown {
  virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
};
constexpr IID IID_IEnumFilters = OurGuid(0x305);
QUORL_DECLARE_IID(IEnumFilters, IID_IEnumFilters)

struct IFilterGraph : IUnknown {
  // A repeated name gets a suffix; the filter is still added.
  virtual HRESULT AddFilter(IBaseFilter* filter, const wchar_t* name) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
  virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
  virtual HRESULT FindFilterByName(const wchar_t* name, IBaseFilter** filter) = 0;
  virtual HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT Disconnect(IPin* pin) = 0;
};
constexpr IID IID_IFilterGraph = OurGuid(0x306);
QUORL_DECLARE_IID(IFilterGraph, IID_IFilterGraph)

struct IGraphBuilder : IFilterGraph {
  // May insert a colour converter between differing formats.
  virtual HRESULT Connect(IPin* output, IPin* input) = 0;
  virtual HRESULT Render(IPin* output) = 0;
  virtual HRESULT AddSourceFilter(const wchar_t* file, const wchar_t* name, IBaseFilter** filter) = 0;
};
constexpr IID IID_IGraphBuilder = OurGuid(0x307);
QUORL_DECLARE_IID(IGraphBuilder, IID_IGraphBuilder)

struct IFilterGraph2 : IGraphBuilder {};
constexpr IID IID_IFilterGraph2 = OurGuid(0x308);
QUORL_DECLARE_IID(IFilterGraph2, IID_IFilterGraph2)

struct IMediaControl : IUnknown {
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG timeoutMs, OAFilterState* state) = 0;
  virtual HRESULT StopWhenReady() = 0;
};
constexpr IID IID_IMediaControl = OurGuid(0x309);
QUORL_DECLARE_IID(IMediaControl, IID_IMediaControl)

struct IMediaEventEx : IUnknown {
  // timeoutMs: 0 does not wait. E_ABORT when nothing came in time.
  virtual HRESULT GetEvent(long* code, LONG_PTR* param1, LONG_PTR* param2, long timeoutMs) = 0;
  virtual HRESULT FreeEventParams(long code, LONG_PTR param1, LONG_PTR param2) = 0;
  virtual HRESULT SetNotifyWindow(OAHWND hwnd, long message, LONG_PTR instance) = 0;
};
constexpr IID IID_IMediaEventEx = OurGuid(0x30A);
QUORL_DECLARE_IID(IMediaEventEx, IID_IMediaEventEx)

struct IMediaSeeking : IUnknown {
  virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT IsFormatSupported(const GUID* format) = 0;
  virtual HRESULT GetTimeFormat(GUID* format) = 0;
  virtual HRESULT SetTimeFormat(const GUID* format) = 0;
  virtual HRESULT GetDuration(LONGLONG* duration) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG* position) = 0;
  virtual HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                    const GUID* sourceFormat) = 0;
  virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) = 0;
};
constexpr IID IID_IMediaSeeking = OurGuid(0x30B);
QUORL_DECLARE_IID(IMediaSeeking, IID_IMediaSeeking)

struct IFileSinkFilter : IUnknown {
  virtual HRESULT SetFileName(const wchar_t* file, const AM_MEDIA_TYPE* type) = 0;
};
constexpr IID IID_IFileSinkFilter = OurGuid(0x30C);
QUORL_DECLARE_IID(IFileSinkFilter, IID_IFileSinkFilter)

struct ICaptureGraphBuilder2 : IUnknown {
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
  // Adds the AVI multiplexer and a file writer connected to it.
  virtual HRESULT SetOutputFileName(const GUID* type, const wchar_t* file, IBaseFilter** mux,
                                    IFileSinkFilter** sink) = 0;
  virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                                void** out) = 0;
  virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                               IBaseFilter* intermediate, IBaseFilter* sink) = 0;
};
constexpr IID IID_ICaptureGraphBuilder2 = OurGuid(0x30D);
QUORL_DECLARE_IID(ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2)

struct IKsPropertySet : IUnknown {
  virtual HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize,
                      DWORD* returned) = 0;
};
constexpr IID IID_IKsPropertySet = OurGuid(0x30E);
QUORL_DECLARE_IID(IKsPropertySet, IID_IKsPropertySet)

struct IFileSourceFilter : IUnknown {
  virtual HRESULT Load(const wchar_t* file, const AM_MEDIA_TYPE* type) = 0;
};
constexpr IID IID_IFileSourceFilter = OurGuid(0x30F);
QUORL_DECLARE_IID(IFileSourceFilter, IID_IFileSourceFilter)

struct IMediaSample : IUnknown {
  virtual HRESULT GetPointer(BYTE** buffer) = 0;
  virtual long GetSize() = 0;
  virtual long GetActualDataLength() = 0;
};
constexpr IID IID_IMediaSample = OurGuid(0x310);
QUORL_DECLARE_IID(IMediaSample, IID_IMediaSample)

// Called on the streaming thread.
struct ISampleGrabberCB : IUnknown {
  virtual HRESULT SampleCB(double time, IMediaSample* sample) = 0;
  virtual HRESULT BufferCB(double time, BYTE* buffer, long length) = 0;
};
// The platform's value, so that callers' own declarations of it match.
constexpr IID IID_ISampleGrabberCB = {0x0579154A, 0x2B53, 0x4994, {0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85}};
QUORL_DECLARE_IID(ISampleGrabberCB, IID_ISampleGrabberCB)

struct ISampleGrabber : IUnknown {
  virtual HRESULT SetOneShot(BOOL oneShot) = 0;
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
  // which: 0 = SampleCB, 1 = BufferCB. Returns once a running call on the
  // previous callback has ended.
  virtual HRESULT SetCallback(ISampleGrabberCB* callback, long which) = 0;
};
constexpr IID IID_ISampleGrabber = OurGuid(0x312);
QUORL_DECLARE_IID(ISampleGrabber, IID_ISampleGrabber)

struct IAMCrossbar : IUnknown {
  virtual HRESULT get_PinCounts(long* outputs, long* inputs) = 0;
  virtual HRESULT CanRoute(long output, long input) = 0;
  virtual HRESULT Route(long output, long input) = 0;
  virtual HRESULT get_IsRoutedTo(long output, long* input) = 0;
  virtual HRESULT get_CrossbarPinInfo(BOOL isInput, long index, long* related, long* physicalType) = 0;
};
constexpr IID IID_IAMCrossbar = OurGuid(0x313);
QUORL_DECLARE_IID(IAMCrossbar, IID_IAMCrossbar)

struct VIDEO_STREAM_CONFIG_CAPS {
  GUID guid;
  SIZE InputSize;
  SIZE MinOutputSize;
  SIZE MaxOutputSize;
  REFERENCE_TIME MinFrameInterval;
  REFERENCE_TIME MaxFrameInterval;
};

struct IAMStreamConfig : IUnknown {
  virtual HRESULT SetFormat(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetFormat(AM_MEDIA_TYPE** type) = 0;
  virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
  virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) = 0;
};
constexpr IID IID_IAMStreamConfig = OurGuid(0x314);
QUORL_DECLARE_IID(IAMStreamConfig, IID_IAMStreamConfig)

constexpr REFERENCE_TIME MAXLONGLONG_TIME = 0x7FFFFFFFFFFFFFFFLL;

struct IAMStreamControl : IUnknown {
  // Null time: at once; MAXLONGLONG: never.
  virtual HRESULT StartAt(const REFERENCE_TIME* time, DWORD cookie) = 0;
  virtual HRESULT StopAt(const REFERENCE_TIME* time, BOOL sendExtra, DWORD cookie) = 0;
};
constexpr IID IID_IAMStreamControl = OurGuid(0x315);
QUORL_DECLARE_IID(IAMStreamControl, IID_IAMStreamControl)

struct IAMDroppedFrames : IUnknown {
  virtual HRESULT GetNumDropped(long* dropped) = 0;
  virtual HRESULT GetNumNotDropped(long* delivered) = 0;
  virtual HRESULT GetAverageFrameSize(long* size) = 0;
};
constexpr IID IID_IAMDroppedFrames = OurGuid(0x316);
QUORL_DECLARE_IID(IAMDroppedFrames, IID_IAMDroppedFrames)

struct IConfigAviMux : IUnknown {
  virtual HRESULT SetMasterStream(LONG stream) = 0;
  virtual HRESULT GetMasterStream(LONG* stream) = 0;
  // TRUE: the old index players expect is written too. Kept, not acted on.
  virtual HRESULT SetOutputCompatibilityIndex(BOOL compatible) = 0;
  virtual HRESULT GetOutputCompatibilityIndex(BOOL* compatible) = 0;
};
constexpr IID IID_IConfigAviMux = OurGuid(0x317);
QUORL_DECLARE_IID(IConfigAviMux, IID_IConfigAviMux)

struct IVMRFilterConfig9 : IUnknown {
  virtual HRESULT SetRenderingMode(DWORD mode) = 0;
  virtual HRESULT SetNumberOfStreams(DWORD streams) = 0;
};
constexpr IID IID_IVMRFilterConfig9 = OurGuid(0x318);
QUORL_DECLARE_IID(IVMRFilterConfig9, IID_IVMRFilterConfig9)

struct IVMRWindowlessControl9 : IUnknown {
  virtual HRESULT SetVideoClippingWindow(HWND hwnd) = 0;
  virtual HRESULT SetVideoPosition(const RECT* source, const RECT* destination) = 0;
  // Draws the newest frame into the clipping window's surface; UI thread.
  virtual HRESULT RepaintVideo(HWND hwnd, HDC dc) = 0;
  virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
  virtual HRESULT GetNativeVideoSize(LONG* width, LONG* height, LONG* arWidth, LONG* arHeight) = 0;
};
constexpr IID IID_IVMRWindowlessControl9 = OurGuid(0x319);
QUORL_DECLARE_IID(IVMRWindowlessControl9, IID_IVMRWindowlessControl9)

struct IVMRMixerControl9 : IUnknown {
  virtual HRESULT SetMixingPrefs(DWORD prefs) = 0;
};
constexpr IID IID_IVMRMixerControl9 = OurGuid(0x31A);
QUORL_DECLARE_IID(IVMRMixerControl9, IID_IVMRMixerControl9)

struct IVMRDeinterlaceControl9 : IUnknown {
  virtual HRESULT SetDeinterlaceMode(DWORD stream, const GUID* mode) = 0;
};
constexpr IID IID_IVMRDeinterlaceControl9 = OurGuid(0x31B);
QUORL_DECLARE_IID(IVMRDeinterlaceControl9, IID_IVMRDeinterlaceControl9)

struct IVMRMonitorConfig9 : IUnknown {
  virtual HRESULT SetMonitor(UINT monitor) = 0;
};
constexpr IID IID_IVMRMonitorConfig9 = OurGuid(0x31C);
QUORL_DECLARE_IID(IVMRMonitorConfig9, IID_IVMRMonitorConfig9)

struct IPropertyBag : IUnknown {
  virtual HRESULT Read(const wchar_t* name, VARIANT* value, void* errorLog) = 0;
};
constexpr IID IID_IPropertyBag = OurGuid(0x31D);
QUORL_DECLARE_IID(IPropertyBag, IID_IPropertyBag)

struct IBindCtx;
struct IMoniker : IUnknown {
  virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID riid, void** out) = 0;
  virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID riid, void** out) = 0;
  virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, wchar_t** name) = 0;
};
constexpr IID IID_IMoniker = OurGuid(0x31E);
QUORL_DECLARE_IID(IMoniker, IID_IMoniker)

struct IEnumMoniker : IUnknown {
  virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
};
constexpr IID IID_IEnumMoniker = OurGuid(0x31F);
QUORL_DECLARE_IID(IEnumMoniker, IID_IEnumMoniker)

struct ICreateDevEnum : IUnknown {
  // An empty category gives S_FALSE and a null enumerator.
  virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers, DWORD flags) = 0;
};
constexpr IID IID_ICreateDevEnum = OurGuid(0x320);
QUORL_DECLARE_IID(ICreateDevEnum, IID_ICreateDevEnum)

struct IStream : IUnknown {
  virtual HRESULT Read(void* data, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;
};
constexpr IID IID_IStream = OurGuid(0x321);
QUORL_DECLARE_IID(IStream, IID_IStream)

struct IPersistStream : IUnknown {
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
};
constexpr IID IID_IPersistStream = OurGuid(0x322);
QUORL_DECLARE_IID(IPersistStream, IID_IPersistStream)

struct CAUUID {
  ULONG cElems;
  GUID* pElems;  // from CoTaskMemAlloc
};

struct ISpecifyPropertyPages : IUnknown {
  virtual HRESULT GetPages(CAUUID* pages) = 0;
};
constexpr IID IID_ISpecifyPropertyPages = OurGuid(0x323);
QUORL_DECLARE_IID(ISpecifyPropertyPages, IID_ISpecifyPropertyPages)

// Declared for the callers that ask for them; no object here implements them.
struct IAMVideoCompression : IUnknown {
  virtual HRESULT put_Quality(double quality) = 0;
};
constexpr IID IID_IAMVideoCompression = OurGuid(0x324);
QUORL_DECLARE_IID(IAMVideoCompression, IID_IAMVideoCompression)

struct IAMVfwCaptureDialogs : IUnknown {
  virtual HRESULT HasDialog(int dialog) = 0;
  virtual HRESULT ShowDialog(int dialog, HWND owner) = 0;
};
constexpr IID IID_IAMVfwCaptureDialogs = OurGuid(0x325);
QUORL_DECLARE_IID(IAMVfwCaptureDialogs, IID_IAMVfwCaptureDialogs)

struct IRunningObjectTable : IUnknown {
  virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
  virtual HRESULT Revoke(DWORD cookie) = 0;
};
constexpr IID IID_IRunningObjectTable = OurGuid(0x326);
QUORL_DECLARE_IID(IRunningObjectTable, IID_IRunningObjectTable)

struct IStorage : IUnknown {
  virtual HRESULT CreateStream(const wchar_t* name, DWORD mode, DWORD, DWORD, IStream** stream) = 0;
  virtual HRESULT OpenStream(const wchar_t* name, void*, DWORD mode, DWORD, IStream** stream) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
};
constexpr IID IID_IStorage = OurGuid(0x327);
QUORL_DECLARE_IID(IStorage, IID_IStorage)

struct IEnumDMO : IUnknown {
  // names: each from CoTaskMemAlloc, freed by the caller.
  virtual HRESULT Next(ULONG count, CLSID* clsids, wchar_t** names, ULONG* fetched) = 0;
};
constexpr IID IID_IEnumDMO = OurGuid(0x328);
QUORL_DECLARE_IID(IEnumDMO, IID_IEnumDMO)

namespace dshow {
// Defined beside the class registrations: every user of these interfaces
// refers to it, so the registrations are linked in with the interfaces.
extern const int kClassesRegistered;
}  // namespace dshow
[[maybe_unused]] __attribute__((used)) static const int* const kQuorlDshowClassesLink = &dshow::kClassesRegistered;
