#include <cstring>
#include <mutex>

#include "objects.h"
#include "win/window_services.h"

namespace d3d9 {
namespace {
std::mutex g_mutex;
Backend g_backend = Backend::OpenGL;
Faults g_faults;
CallLog g_log;
}  // namespace

void SelectBackend(Backend backend) {
  std::lock_guard lock(g_mutex);
  g_backend = backend;
}
Backend SelectedBackend() {
  std::lock_guard lock(g_mutex);
  return g_backend;
}
Faults& GetFaults() { return g_faults; }
void ResetAll() {
  std::lock_guard lock(g_mutex);
  g_backend = Backend::OpenGL;
  g_faults = Faults{};
  g_log = CallLog{};
}
CallLog GetLog() {
  std::lock_guard lock(g_mutex);
  return g_log;
}
void ClearLog() {
  std::lock_guard lock(g_mutex);
  g_log = CallLog{};
}
void LogViolation(const std::string& what) {
  std::lock_guard lock(g_mutex);
  g_log.violations.push_back(what);
}
void LogCreateDevice(const D3DPRESENT_PARAMETERS& parameters, D3DDEVTYPE type, DWORD behaviourFlags) {
  std::lock_guard lock(g_mutex);
  g_log.lastPresentParameters = parameters;
  g_log.lastDeviceType = type;
  g_log.lastBehaviourFlags = behaviourFlags;
}
int LiveObjectCount() { return detail::g_liveObjects.load(); }

namespace detail {
std::atomic<int> g_liveObjects{0};

namespace {

void AddDraw(DrawRecord record) {
  std::lock_guard lock(g_mutex);
  g_log.draws.push_back(std::move(record));
}
void CountClear() {
  std::lock_guard lock(g_mutex);
  ++g_log.clears;
}
void CountPresent() {
  std::lock_guard lock(g_mutex);
  ++g_log.presents;
}

HRESULT Invalid(const std::string& what) {
  LogViolation(what);
  return D3DERR_INVALIDCALL;
}

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

DWORD FloatBits(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

// CPU only: the draw is kept in the log with the state in force.
class RecordingRenderer final : public Renderer {
 public:
  HRESULT Clear(const DeviceState&, DWORD, D3DCOLOR, float) override {
    CountClear();
    return S_OK;
  }
  HRESULT Draw(const DeviceState& s, DrawInput& input) override { return S_OK; }
  HRESULT Present(HWND) override {
    CountPresent();
    return S_OK;
  }
};

}  // namespace

bool TakeCreateFault() {
  std::lock_guard lock(g_mutex);
  return g_faults.failCreateAt > 0 && --g_faults.failCreateAt == 0;
}
bool TakeLockFault() {
  std::lock_guard lock(g_mutex);
  return g_faults.failLockAt > 0 && --g_faults.failLockAt == 0;
}

UINT FvfSize(DWORD fvf) {
  switch (fvf) {
    case D3DFVF_XYZ | D3DFVF_DIFFUSE: return 16;
    case D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1: return 24;
    case D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1: return 36;
    case D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1: return 28;
    default: return 0;
  }
}

UINT VerticesFor(D3DPRIMITIVETYPE type, UINT n) {
  switch (type) {
    case D3DPT_POINTLIST: return n;
    case D3DPT_LINELIST: return 2 * n;
    case D3DPT_LINESTRIP: return n + 1;
    case D3DPT_TRIANGLELIST: return 3 * n;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return n + 2;
  }
  return 0;
}

int BytesPerPixel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return 2;
    case D3DFMT_L8: return 1;
    default: return 0;
  }
}

D3DCAPS9 MakeCaps() {
  D3DCAPS9 c{};
  c.DeviceType = D3DDEVTYPE_HAL;
  c.MaxTextureWidth = c.MaxTextureHeight = GetFaults().maxTextureSize;
  c.MaxTextureBlendStages = 2;
  c.MaxSimultaneousTextures = 2;
  c.MaxActiveLights = 0;
  c.MaxPrimitiveCount = 0xFFFFF;
  c.MaxVertexIndex = 0xFFFF;
  c.MaxStreams = 1;
  c.MaxStreamStride = 255;
  c.MaxPointSize = 1.0f;
  return c;
}

D3DDISPLAYMODE MakeDisplayMode() { return D3DDISPLAYMODE{1920, 1080, 60, D3DFMT_X8R8G8B8}; }

// ---------------------------------------------------------------- resources

template <class I>
Resource<I>::Resource(Device* device, D3DRESOURCETYPE type, DWORD usage, D3DPOOL pool, std::size_t bytes)
    : device_(device), type_(type), usage_(usage), pool_(pool), data_(bytes, 0) {
  device_->ChildCreated();
}

template <class I>
Resource<I>::~Resource() {
  device_->ChildDestroyed();
}

template <class I>
HRESULT Resource<I>::GetDevice(IDirect3DDevice9** device) {
  if (!device) return D3DERR_INVALIDCALL;
  device_->AddRef();
  *device = device_;
  return S_OK;
}

template <class I>
HRESULT Resource<I>::LockRange(UINT offset, UINT size, void** out, DWORD flags, const char* what) {
  if (!out) return Invalid(std::string("Lock of a ") + what + " without an out pointer");
  *out = nullptr;
  std::lock_guard lock(mutex_);
  const std::size_t length = size == 0 ? (offset <= data_.size() ? data_.size() - offset : 0) : size;
  if (static_cast<std::size_t>(offset) + length > data_.size() || offset > data_.size())
    return Invalid(std::string("Lock past the end of a ") + what);
  if (locked_) return Invalid(std::string("Lock of a ") + what + " already locked");
  if ((flags & D3DLOCK_READONLY) && (usage_ & D3DUSAGE_WRITEONLY))
    return Invalid(std::string("READONLY lock of a WRITEONLY ") + what);
  if (TakeLockFault()) return D3DERR_INVALIDCALL;
  locked_ = true;
  *out = data_.data() + offset;
  return S_OK;
}

template <class I>
HRESULT Resource<I>::UnlockRange(const char* what) {
  std::lock_guard lock(mutex_);
  if (!locked_) return Invalid(std::string("Unlock of a ") + what + " not locked");
  locked_ = false;
  return S_OK;
}

template class Resource<IDirect3DVertexBuffer9>;
template class Resource<IDirect3DIndexBuffer9>;
template class Resource<IDirect3DTexture9>;

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = {D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage_, pool_, static_cast<UINT>(data_.size()), fvf_};
  return S_OK;
}

void* VertexBuffer::Find(REFIID riid) {
  if (riid == IID_IDirect3DVertexBuffer9 || riid == IID_IDirect3DResource9) return static_cast<IDirect3DVertexBuffer9*>(this);
  return Counted::Find(riid);
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = {format_, D3DRTYPE_INDEXBUFFER, usage_, pool_, static_cast<UINT>(data_.size())};
  return S_OK;
}

void* IndexBuffer::Find(REFIID riid) {
  if (riid == IID_IDirect3DIndexBuffer9 || riid == IID_IDirect3DResource9) return static_cast<IDirect3DIndexBuffer9*>(this);
  return Counted::Find(riid);
}

Texture::Texture(Device* device, UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : Resource(device, D3DRTYPE_TEXTURE, usage, pool, std::size_t(width) * height * BytesPerPixel(format)),
      width_(width),
      height_(height),
      format_(format) {}

Texture::~Texture() { device_->ForgetTexture(this); }

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  if (level != 0 || !desc) return Invalid("GetLevelDesc of a missing level");
  *desc = {format_, D3DRTYPE_SURFACE, usage_, pool_, D3DMULTISAMPLE_NONE, 0, width_, height_};
  return S_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  if (!locked) return Invalid("LockRect without an out record");
  locked->pBits = nullptr;
  locked->Pitch = 0;
  if (level != 0) return Invalid("LockRect of a missing level");
  if (pool_ == D3DPOOL_DEFAULT && !(usage_ & D3DUSAGE_DYNAMIC))
    return Invalid("LockRect of a non-DYNAMIC texture in the default pool");
  UINT offset = 0;
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->right > LONG(width_) || rect->bottom > LONG(height_) ||
        rect->left >= rect->right || rect->top >= rect->bottom)
      return Invalid("LockRect past the texture");
    offset = UINT(rect->top) * pitch() + UINT(rect->left) * BytesPerPixel(format_);
  }
  void* bits = nullptr;
  const HRESULT hr = LockRange(offset, 0, &bits, flags, "texture");
  if (FAILED(hr)) return hr;
  noDirtyUpdate_ = (flags & D3DLOCK_NO_DIRTY_UPDATE) != 0;
  locked->pBits = bits;
  locked->Pitch = INT(pitch());
  return S_OK;
}

HRESULT Texture::UnlockRect(UINT level) {
  if (level != 0) return Invalid("UnlockRect of a missing level");
  const HRESULT hr = UnlockRange("texture");
  // A managed texture keeps its old copy on the device until it is marked dirty.
  if (SUCCEEDED(hr) && !(noDirtyUpdate_ && pool_ == D3DPOOL_MANAGED)) MarkChanged();
  return hr;
}

HRESULT Texture::AddDirtyRect(const RECT*) {
  MarkChanged();
  return S_OK;
}

void* Texture::Find(REFIID riid) {
  if (riid == IID_IDirect3DTexture9 || riid == IID_IDirect3DBaseTexture9 || riid == IID_IDirect3DResource9)
    return static_cast<IDirect3DTexture9*>(this);
  return Counted::Find(riid);
}

// -------------------------------------------------------------- state block

StateBlock::StateBlock(Device* device) : device_(device) { device_->ChildCreated(); }

StateBlock::~StateBlock() {
  for (auto& [stage, texture] : textures)
    if (texture) texture->Unbind();
  if (stream) stream->Unbind();
  if (indices) indices->Unbind();
  device_->ChildDestroyed();
}

HRESULT StateBlock::GetDevice(IDirect3DDevice9** device) {
  if (!device) return D3DERR_INVALIDCALL;
  device_->AddRef();
  *device = device_;
  return S_OK;
}

void StateBlock::SetTexture(int stage, Texture* texture) {
  auto [it, fresh] = textures.try_emplace(stage, nullptr);
  BindPtr(it->second, texture);
}

void StateBlock::SetStream(VertexBuffer* buffer, UINT offset, UINT stride) {
  hasStream = true;
  BindPtr(stream, buffer);
  streamOffset = offset;
  streamStride = stride;
}

void StateBlock::SetIndices(IndexBuffer* buffer) {
  hasIndices = true;
  BindPtr(indices, buffer);
}

HRESULT StateBlock::Capture() {
  DeviceState& s = device_->state();
  for (auto& [k, v] : render) v = s.render[k];
  for (auto& [k, v] : stage) v = s.stage[k.first][k.second];
  for (auto& [k, v] : sampler) v = s.sampler[k.first][k.second];
  for (auto& [k, v] : textures) BindPtr(v, s.textures[k]);
  for (auto& [k, v] : transforms) {
    D3DMATRIX* m = nullptr;
    if (device_->GetTransformRef(k, &m)) v = *m;
  }
  if (fvf) fvf = s.fvf;
  if (viewport) viewport = s.viewport;
  if (hasStream) SetStream(s.stream, s.streamOffset, s.streamStride);
  if (hasIndices) SetIndices(s.indices);
  return S_OK;
}

HRESULT StateBlock::Apply() {
  DeviceState& s = device_->state();
  for (auto& [k, v] : render) s.render[k] = v;
  for (auto& [k, v] : stage) s.stage[k.first][k.second] = v;
  for (auto& [k, v] : sampler) s.sampler[k.first][k.second] = v;
  for (auto& [k, v] : textures) device_->ApplyTexture(k, v);
  for (auto& [k, v] : transforms) device_->ApplyTransform(k, v);
  if (fvf) s.fvf = *fvf;
  if (viewport) s.viewport = *viewport;
  if (hasStream) device_->ApplyStream(stream, streamOffset, streamStride);
  if (hasIndices) device_->ApplyIndices(indices);
  return S_OK;
}

void* StateBlock::Find(REFIID riid) {
  if (riid == IID_IDirect3DStateBlock9) return static_cast<IDirect3DStateBlock9*>(this);
  return Counted::Find(riid);
}

// ------------------------------------------------------------------- device

Device::Device(Direct3D* d3d, Backend backend, const D3DDEVICE_CREATION_PARAMETERS& creation,
               const D3DPRESENT_PARAMETERS& present, std::unique_ptr<Renderer> renderer, HWND window)
    : d3d_(d3d),
      backend_(backend),
      creation_(creation),
      present_(present),
      caps_(MakeCaps()),
      renderer_(std::move(renderer)),
      window_(window),
      thread_(std::this_thread::get_id()) {
  d3d_->Bind();
  SetDefaults();
}

Device::~Device() { d3d_->Unbind(); }

void Device::SetDefaults() {
  auto& r = state_.render;
  r[D3DRS_ZENABLE] = present_.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
  r[D3DRS_FILLMODE] = D3DFILL_SOLID;
  r[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  r[D3DRS_ZWRITEENABLE] = TRUE;
  r[D3DRS_LASTPIXEL] = TRUE;
  r[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  r[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  r[D3DRS_CULLMODE] = D3DCULL_CCW;
  r[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  r[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  r[D3DRS_FOGDENSITY] = FloatBits(1.0f);
  r[D3DRS_FOGEND] = FloatBits(1.0f);
  r[D3DRS_STENCILFAIL] = r[D3DRS_STENCILZFAIL] = r[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
  r[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
  r[D3DRS_STENCILMASK] = r[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
  r[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  r[D3DRS_CLIPPING] = TRUE;
  r[D3DRS_LIGHTING] = TRUE;
  r[D3DRS_COLORVERTEX] = TRUE;
  r[D3DRS_LOCALVIEWER] = TRUE;
  r[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  r[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  r[D3DRS_POINTSIZE] = FloatBits(1.0f);
  r[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
  r[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
  r[D3DRS_COLORWRITEENABLE] = 0xF;
  r[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  for (int i = 0; i < kD3DStageCount; ++i) {
    auto& t = state_.stage[i];
    t[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = DWORD(i);
    t[D3DTSS_COLORARG0] = t[D3DTSS_ALPHAARG0] = t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    auto& s = state_.sampler[i];
    s[D3DSAMP_ADDRESSU] = s[D3DSAMP_ADDRESSV] = s[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    s[D3DSAMP_MAGFILTER] = s[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    s[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    s[D3DSAMP_MAXANISOTROPY] = 1;
  }
  state_.world = state_.view = state_.projection = Identity();
  state_.viewport = {0, 0, present_.BackBufferWidth, present_.BackBufferHeight, 0.0f, 1.0f};
}

void* Device::Find(REFIID riid) {
  if (riid == IID_IDirect3DDevice9) return static_cast<IDirect3DDevice9*>(this);
  return Counted::Find(riid);
}

void Device::LastPublicRelease() {
  // Bindings go first: objects kept alive only by them are no leak.
  for (auto& t : state_.textures) BindPtr(t, static_cast<Texture*>(nullptr));
  BindPtr(state_.stream, static_cast<VertexBuffer*>(nullptr));
  BindPtr(state_.indices, static_cast<IndexBuffer*>(nullptr));
  if (recording_) {
    StateBlock* block = std::exchange(recording_, nullptr);
    block->Release();
  }
  const int alive = children_.load();
  if (alive > 0) LogViolation(std::to_string(alive) + " object(s) alive when the device was released");
  std::lock_guard lock(rendererMutex_);
  renderer_.reset();
}

void Device::ForgetTexture(Texture* texture) {
  std::lock_guard lock(rendererMutex_);
  if (renderer_) renderer_->Forget(texture);
}

bool Device::OnDeviceThread(const char* call) {
  if (std::this_thread::get_id() == thread_) return true;
  LogViolation(std::string(call) + " from a thread other than the device's");
  return false;
}

HRESULT Device::GetDirect3D(IDirect3D9** d3d) {
  if (!d3d) return Invalid("GetDirect3D without an out pointer");
  d3d_->AddRef();
  *d3d = d3d_;
  return S_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
  if (!caps) return Invalid("GetDeviceCaps without an out record");
  *caps = caps_;
  return S_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
  if (!mode || swapChain != 0) return Invalid("GetDisplayMode of a missing swap chain");
  *mode = MakeDisplayMode();
  return S_OK;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) {
  if (!parameters) return Invalid("GetCreationParameters without an out record");
  *parameters = creation_;
  return S_OK;
}

namespace {
bool KnownPool(D3DPOOL pool) { return pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED || pool == D3DPOOL_SYSTEMMEM; }
bool DynamicRefused(DWORD usage, D3DPOOL pool) {
  return (usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_DEFAULT && GetFaults().refuseDynamic;
}
}  // namespace

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* shared) {
  if (!texture) return Invalid("CreateTexture without an out pointer");
  *texture = nullptr;
  if (width == 0 || height == 0 || levels > 1 || shared) return Invalid("CreateTexture of an unsupported shape");
  if (width > caps_.MaxTextureWidth || height > caps_.MaxTextureHeight)
    return Invalid("CreateTexture larger than the device's maximum");
  if (BytesPerPixel(format) == 0) return Invalid("CreateTexture of an unsupported format");
  if (!KnownPool(pool) || (pool == D3DPOOL_MANAGED && (usage & D3DUSAGE_DYNAMIC)))
    return Invalid("CreateTexture in an unsupported pool");
  if (DynamicRefused(usage, pool)) return D3DERR_NOTAVAILABLE;
  if (TakeCreateFault()) return E_OUTOFMEMORY;
  *texture = new Texture(this, width, height, usage, format, pool);
  return S_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** buffer, HANDLE* shared) {
  if (!buffer) return Invalid("CreateVertexBuffer without an out pointer");
  *buffer = nullptr;
  if (length == 0 || shared || !KnownPool(pool)) return Invalid("CreateVertexBuffer of an unsupported shape");
  if (fvf != 0 && FvfSize(fvf) != 0 && length < FvfSize(fvf))
    return Invalid("CreateVertexBuffer smaller than one vertex");
  if (DynamicRefused(usage, pool)) return D3DERR_NOTAVAILABLE;
  if (TakeCreateFault()) return E_OUTOFMEMORY;
  *buffer = new VertexBuffer(this, length, usage, fvf, pool);
  return S_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE* shared) {
  if (!buffer) return Invalid("CreateIndexBuffer without an out pointer");
  *buffer = nullptr;
  if (format != D3DFMT_INDEX16) return Invalid("CreateIndexBuffer of a format other than INDEX16");
  if (length < 2 || shared || !KnownPool(pool)) return Invalid("CreateIndexBuffer of an unsupported shape");
  if (DynamicRefused(usage, pool)) return D3DERR_NOTAVAILABLE;
  if (TakeCreateFault()) return E_OUTOFMEMORY;
  *buffer = new IndexBuffer(this, length, usage, format, pool);
  return S_OK;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) {
  if (!OnDeviceThread("UpdateTexture")) return D3DERR_INVALIDCALL;
  auto* src = dynamic_cast<Texture*>(source);
  auto* dst = dynamic_cast<Texture*>(destination);
  if (!src || !dst) return Invalid("UpdateTexture without two textures");
  if (src->pool() != D3DPOOL_SYSTEMMEM || dst->pool() != D3DPOOL_DEFAULT)
    return Invalid("UpdateTexture from other than system memory into the default pool");
  if (src->width() != dst->width() || src->height() != dst->height() || src->format() != dst->format())
    return Invalid("UpdateTexture between textures of different shape");
  if (src->locked() || dst->locked()) return Invalid("UpdateTexture of a locked texture");
  std::scoped_lock lock(src->mutex(), dst->mutex());
  std::memcpy(dst->data(), src->data(), src->size());
  dst->MarkChanged();
  return S_OK;
}

HRESULT Device::BeginScene() {
  if (!OnDeviceThread("BeginScene")) return D3DERR_INVALIDCALL;
  if (inScene_) return Invalid("BeginScene inside a scene");
  inScene_ = true;
  return S_OK;
}

HRESULT Device::EndScene() {
  if (!OnDeviceThread("EndScene")) return D3DERR_INVALIDCALL;
  if (!inScene_) return Invalid("EndScene without BeginScene");
  inScene_ = false;
  return S_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD) {
  if (!OnDeviceThread("Clear")) return D3DERR_INVALIDCALL;
  if (count != 0 || rects) return Invalid("Clear of rectangles (only the viewport is supported)");
  if ((flags & D3DCLEAR_STENCIL) || (flags & ~DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
    return Invalid("Clear of a stencil buffer the device does not have");
  if ((flags & D3DCLEAR_ZBUFFER) && !present_.EnableAutoDepthStencil)
    return Invalid("Clear of a depth buffer the device does not have");
  if (z < 0.0f || z > 1.0f) return Invalid("Clear with a depth outside [0, 1]");
  std::lock_guard lock(rendererMutex_);
  return renderer_ ? renderer_->Clear(state_, flags, colour, z) : D3DERR_INVALIDCALL;
}

HRESULT Device::Present(const RECT* source, const RECT* destination, HWND window, const void* dirtyRegion) {
  if (!OnDeviceThread("Present")) return D3DERR_INVALIDCALL;
  if (source || destination || window || dirtyRegion) return Invalid("Present with arguments other than NULL");
  if (inScene_) return Invalid("Present inside a scene");
  std::lock_guard lock(rendererMutex_);
  return renderer_ ? renderer_->Present(window_) : D3DERR_INVALIDCALL;
}

bool Device::GetTransformRef(int which, D3DMATRIX** m) {
  switch (which) {
    case D3DTS_WORLD: *m = &state_.world; return true;
    case D3DTS_VIEW: *m = &state_.view; return true;
    case D3DTS_PROJECTION: *m = &state_.projection; return true;
  }
  return false;
}

void Device::ApplyTransform(int which, const D3DMATRIX& m) {
  D3DMATRIX* target = nullptr;
  if (GetTransformRef(which, &target)) *target = m;
}

void Device::ApplyStream(VertexBuffer* buffer, UINT offset, UINT stride) {
  BindPtr(state_.stream, buffer);
  state_.streamOffset = offset;
  state_.streamStride = stride;
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE which, const D3DMATRIX* matrix) {
  if (!OnDeviceThread("SetTransform")) return D3DERR_INVALIDCALL;
  D3DMATRIX* target = nullptr;
  if (!matrix || !GetTransformRef(which, &target)) return Invalid("SetTransform of an unsupported transform");
  if (recording_) recording_->transforms[which] = *matrix;
  else *target = *matrix;
  return S_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix) {
  if (!OnDeviceThread("GetTransform")) return D3DERR_INVALIDCALL;
  D3DMATRIX* source = nullptr;
  if (!matrix || !GetTransformRef(which, &source)) return Invalid("GetTransform of an unsupported transform");
  *matrix = *source;
  return S_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* v) {
  if (!OnDeviceThread("SetViewport")) return D3DERR_INVALIDCALL;
  if (!v || v->Width == 0 || v->Height == 0 || v->X + v->Width > present_.BackBufferWidth ||
      v->Y + v->Height > present_.BackBufferHeight || v->MinZ < 0 || v->MaxZ > 1 || v->MinZ > v->MaxZ)
    return Invalid("SetViewport outside the back buffer");
  if (recording_) recording_->viewport = *v;
  else state_.viewport = *v;
  return S_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* v) {
  if (!OnDeviceThread("GetViewport")) return D3DERR_INVALIDCALL;
  if (!v) return Invalid("GetViewport without an out record");
  *v = state_.viewport;
  return S_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE which, DWORD value) {
  if (!OnDeviceThread("SetRenderState")) return D3DERR_INVALIDCALL;
  if (which < 0 || which >= kD3DRenderStateCount) return Invalid("SetRenderState of an unknown state");
  if (recording_) recording_->render[which] = value;
  else state_.render[which] = value;
  return S_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE which, DWORD* value) {
  if (!OnDeviceThread("GetRenderState")) return D3DERR_INVALIDCALL;
  if (!value || which < 0 || which >= kD3DRenderStateCount) return Invalid("GetRenderState of an unknown state");
  *value = state_.render[which];
  return S_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  if (!OnDeviceThread("SetTextureStageState")) return D3DERR_INVALIDCALL;
  if (stage >= DWORD(kD3DStageCount) || type <= 0 || type >= kD3DStageStateCount)
    return Invalid("SetTextureStageState of an unknown stage or state");
  if (recording_) recording_->stage[{int(stage), type}] = value;
  else state_.stage[stage][type] = value;
  return S_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  if (!OnDeviceThread("GetTextureStageState")) return D3DERR_INVALIDCALL;
  if (!value || stage >= DWORD(kD3DStageCount) || type <= 0 || type >= kD3DStageStateCount)
    return Invalid("GetTextureStageState of an unknown stage or state");
  *value = state_.stage[stage][type];
  return S_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  if (!OnDeviceThread("SetSamplerState")) return D3DERR_INVALIDCALL;
  if (sampler >= DWORD(kD3DStageCount) || type <= 0 || type >= kD3DSamplerStateCount)
    return Invalid("SetSamplerState of an unknown sampler or state");
  if (recording_) recording_->sampler[{int(sampler), type}] = value;
  else state_.sampler[sampler][type] = value;
  return S_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
  if (!OnDeviceThread("GetSamplerState")) return D3DERR_INVALIDCALL;
  if (!value || sampler >= DWORD(kD3DStageCount) || type <= 0 || type >= kD3DSamplerStateCount)
    return Invalid("GetSamplerState of an unknown sampler or state");
  *value = state_.sampler[sampler][type];
  return S_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
  if (!OnDeviceThread("SetTexture")) return D3DERR_INVALIDCALL;
  if (stage >= DWORD(kD3DStageCount)) return Invalid("SetTexture of an unknown stage");
  auto* t = dynamic_cast<Texture*>(texture);
  if (texture && (!t || t->device() != this)) return Invalid("SetTexture of a texture of another device");
  if (t && t->pool() == D3DPOOL_SYSTEMMEM) return Invalid("SetTexture of a system-memory texture");
  if (recording_) recording_->SetTexture(int(stage), t);
  else ApplyTexture(int(stage), t);
  return S_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
  if (!OnDeviceThread("GetTexture")) return D3DERR_INVALIDCALL;
  if (!texture || stage >= DWORD(kD3DStageCount)) return Invalid("GetTexture of an unknown stage");
  *texture = state_.textures[stage];
  if (*texture) (*texture)->AddRef();
  return S_OK;
}

HRESULT Device::BeginStateBlock() {
  if (!OnDeviceThread("BeginStateBlock")) return D3DERR_INVALIDCALL;
  if (recording_) return Invalid("BeginStateBlock while recording");
  if (TakeCreateFault()) return E_OUTOFMEMORY;
  recording_ = new StateBlock(this);
  return S_OK;
}

HRESULT Device::EndStateBlock(IDirect3DStateBlock9** block) {
  if (!OnDeviceThread("EndStateBlock")) return D3DERR_INVALIDCALL;
  if (!block) return Invalid("EndStateBlock without an out pointer");
  *block = nullptr;
  if (!recording_) return Invalid("EndStateBlock without BeginStateBlock");
  *block = std::exchange(recording_, nullptr);
  return S_OK;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) {
  if (!OnDeviceThread("CreateStateBlock")) return D3DERR_INVALIDCALL;
  if (!block) return Invalid("CreateStateBlock without an out pointer");
  *block = nullptr;
  if (type != D3DSBT_ALL) return Invalid("CreateStateBlock of a type other than ALL");
  if (recording_) return Invalid("CreateStateBlock while recording");
  if (TakeCreateFault()) return E_OUTOFMEMORY;
  auto* b = new StateBlock(this);
  for (int i = 0; i < kD3DRenderStateCount; ++i) b->render[i] = 0;
  for (int s = 0; s < kD3DStageCount; ++s) {
    for (int i = 1; i < kD3DStageStateCount; ++i) b->stage[{s, i}] = 0;
    for (int i = 1; i < kD3DSamplerStateCount; ++i) b->sampler[{s, i}] = 0;
    b->textures[s] = nullptr;
  }
  for (int t : {int(D3DTS_WORLD), int(D3DTS_VIEW), int(D3DTS_PROJECTION)}) b->transforms[t] = D3DMATRIX{};
  b->fvf = 0;
  b->viewport = D3DVIEWPORT9{};
  b->hasStream = b->hasIndices = true;
  b->Capture();
  *block = b;
  return S_OK;
}

HRESULT Device::SetFVF(DWORD fvf) {
  if (!OnDeviceThread("SetFVF")) return D3DERR_INVALIDCALL;
  if (recording_) recording_->fvf = fvf;
  else state_.fvf = fvf;
  return S_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
  if (!OnDeviceThread("GetFVF")) return D3DERR_INVALIDCALL;
  if (!fvf) return Invalid("GetFVF without an out pointer");
  *fvf = state_.fvf;
  return S_OK;
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
  if (!OnDeviceThread("SetStreamSource")) return D3DERR_INVALIDCALL;
  if (stream != 0) return Invalid("SetStreamSource of a stream other than 0");
  auto* b = dynamic_cast<VertexBuffer*>(buffer);
  if (buffer && (!b || b->device() != this)) return Invalid("SetStreamSource of a buffer of another device");
  if (recording_) recording_->SetStream(b, offset, stride);
  else ApplyStream(b, offset, stride);
  return S_OK;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) {
  if (!OnDeviceThread("GetStreamSource")) return D3DERR_INVALIDCALL;
  if (stream != 0 || !buffer || !offset || !stride) return Invalid("GetStreamSource of a stream other than 0");
  *buffer = state_.stream;
  if (*buffer) (*buffer)->AddRef();
  *offset = state_.streamOffset;
  *stride = state_.streamStride;
  return S_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* indices) {
  if (!OnDeviceThread("SetIndices")) return D3DERR_INVALIDCALL;
  auto* b = dynamic_cast<IndexBuffer*>(indices);
  if (indices && (!b || b->device() != this)) return Invalid("SetIndices of a buffer of another device");
  if (recording_) recording_->SetIndices(b);
  else ApplyIndices(b);
  return S_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** indices) {
  if (!OnDeviceThread("GetIndices")) return D3DERR_INVALIDCALL;
  if (!indices) return Invalid("GetIndices without an out pointer");
  *indices = state_.indices;
  if (*indices) (*indices)->AddRef();
  return S_OK;
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) {
  if (!OnDeviceThread("SetPixelShader")) return D3DERR_INVALIDCALL;
  if (shader) return Invalid("SetPixelShader of a shader (only the fixed pipeline exists)");
  return S_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
  if (!OnDeviceThread("DrawPrimitive")) return D3DERR_INVALIDCALL;
  return Draw(type, false, 0, 0, 0, startVertex, primitiveCount);
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT numVertices, UINT startIndex,
                                     UINT primitiveCount) {
  if (!OnDeviceThread("DrawIndexedPrimitive")) return D3DERR_INVALIDCALL;
  return Draw(type, true, base, minIndex, numVertices, startIndex, primitiveCount);
}

namespace {

RecordedVertex Decode(const std::uint8_t* p, DWORD fvf) {
  RecordedVertex v;
  auto f = [&p]() {
    float x;
    std::memcpy(&x, p, 4);
    p += 4;
    return x;
  };
  v.x = f();
  v.y = f();
  v.z = f();
  if (fvf & D3DFVF_XYZRHW) v.rhw = f();
  if (fvf & D3DFVF_NORMAL) {
    v.nx = f();
    v.ny = f();
    v.nz = f();
  }
  if (fvf & D3DFVF_DIFFUSE) {
    std::memcpy(&v.diffuse, p, 4);
    p += 4;
  }
  if (fvf & D3DFVF_TEX1) {
    v.u = f();
    v.v = f();
  }
  return v;
}

bool KnownPrimitive(D3DPRIMITIVETYPE type) {
  return type == D3DPT_LINELIST || type == D3DPT_LINESTRIP || type == D3DPT_TRIANGLELIST ||
         type == D3DPT_TRIANGLESTRIP || type == D3DPT_TRIANGLEFAN || type == D3DPT_POINTLIST;
}

}  // namespace

HRESULT Device::Draw(D3DPRIMITIVETYPE type, bool indexed, INT base, UINT minIndex, UINT numVertices, UINT start,
                     UINT count) {
  if (recording_) return Invalid("Draw while recording a state block");
  if (!inScene_) return Invalid("Draw outside BeginScene/EndScene");
  if (!KnownPrimitive(type)) return Invalid("Draw of an unknown primitive type");
  if (count == 0) return Invalid("Draw of zero primitives");
  const UINT size = FvfSize(state_.fvf);
  if (size == 0) return Invalid("Draw with an unsupported FVF");
  VertexBuffer* vb = state_.stream;
  if (!vb) return Invalid("Draw without a stream source");
  if (state_.streamStride != size) return Invalid("Draw with a stride that does not match the FVF");
  if (vb->locked()) return Invalid("Draw from a locked vertex buffer");
  for (Texture* t : state_.textures)
    if (t && t->locked()) return Invalid("Draw with a locked texture");

  DrawInput input{type, count, VerticesFor(type, count), (state_.fvf & D3DFVF_XYZRHW) != 0,
                  (state_.fvf & D3DFVF_NORMAL) != 0, (state_.fvf & D3DFVF_DIFFUSE) != 0,
                  (state_.fvf & D3DFVF_TEX1) != 0, {}, {}};
  // Sizes in 64 bits: a caller's large start index must not wrap round.
  const std::uint64_t bufferSize = vb->size();
  std::lock_guard lock(vb->mutex());
  if (!indexed) {
    const std::uint64_t end = state_.streamOffset + (std::uint64_t(start) + input.vertexCount) * size;
    if (end > bufferSize) return Invalid("Draw of vertices past the end of the vertex buffer");
    input.vertices.reserve(input.vertexCount);
    for (UINT i = 0; i < input.vertexCount; ++i)
      input.vertices.push_back(Decode(vb->data() + state_.streamOffset + (std::uint64_t(start) + i) * size, state_.fvf));
  } else {
    IndexBuffer* ib = state_.indices;
    if (!ib) return Invalid("DrawIndexedPrimitive without indices");
    if (ib->locked()) return Invalid("Draw from a locked index buffer");
    if ((std::uint64_t(start) + input.vertexCount) * 2 > ib->size())
      return Invalid("DrawIndexedPrimitive of indices past the end of the index buffer");
    const std::int64_t first = std::int64_t(base) + minIndex;
    if (numVertices == 0 || first < 0 ||
        state_.streamOffset + std::uint64_t(first + numVertices) * size > bufferSize)
      return Invalid("DrawIndexedPrimitive of vertices past the end of the vertex buffer");
    std::lock_guard ilock(ib->mutex());
    input.indices.resize(input.vertexCount);
    std::memcpy(input.indices.data(), ib->data() + std::size_t(start) * 2, std::size_t(input.vertexCount) * 2);
    for (WORD& index : input.indices) {
      if (index < minIndex || index >= std::uint64_t(minIndex) + numVertices)
        return Invalid("DrawIndexedPrimitive of an index outside [MinIndex, MinIndex + NumVertices)");
      index = WORD(index - minIndex);
    }
    input.vertices.reserve(numVertices);
    for (UINT i = 0; i < numVertices; ++i)
      input.vertices.push_back(Decode(vb->data() + state_.streamOffset + std::uint64_t(first + i) * size, state_.fvf));
  }

  if (backend_ == Backend::Recorder) {
    DrawRecord r;
    r.primitive = type;
    r.primitiveCount = count;
    r.indexed = indexed;
    r.baseVertexIndex = base;
    r.minIndex = minIndex;
    r.numVertices = numVertices;
    r.startIndex = indexed ? start : 0;
    r.startVertex = indexed ? 0 : start;
    r.state.render = state_.render;
    r.state.stage[0] = state_.stage[0];
    r.state.stage[1] = state_.stage[1];
    r.state.sampler = state_.sampler[0];
    r.state.texture0 = state_.textures[0];
    r.state.world = state_.world;
    r.state.view = state_.view;
    r.state.projection = state_.projection;
    r.state.viewport = state_.viewport;
    r.state.fvf = state_.fvf;
    r.state.stride = state_.streamStride;
    r.vertices = input.vertices;
    r.indices = input.indices;
    for (WORD& i : r.indices) i = WORD(i + minIndex);
    AddDraw(std::move(r));
  }
  std::lock_guard rlock(rendererMutex_);
  return renderer_ ? renderer_->Draw(state_, input) : D3DERR_INVALIDCALL;
}

// --------------------------------------------------------------- Direct3D

HRESULT Direct3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
  if (adapter != 0 || !mode) return Invalid("GetAdapterDisplayMode of a missing adapter");
  *mode = MakeDisplayMode();
  return S_OK;
}

HRESULT Direct3D::CheckDeviceFormat(UINT adapter, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT) {
  if (adapter != 0) return Invalid("CheckDeviceFormat of a missing adapter");
  return S_OK;
}

HRESULT Direct3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE, D3DCAPS9* caps) {
  if (adapter != 0 || !caps) return Invalid("GetDeviceCaps of a missing adapter");
  *caps = MakeCaps();
  return S_OK;
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                               D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) {
  if (!device) return Invalid("CreateDevice without an out pointer");
  *device = nullptr;
  if (adapter != 0 || !parameters) return Invalid("CreateDevice without an adapter or parameters");
  LogCreateDevice(*parameters, type, behaviourFlags);
  if (!parameters->Windowed) return Invalid("CreateDevice of a full-screen device");
  if (parameters->EnableAutoDepthStencil && parameters->AutoDepthStencilFormat != D3DFMT_D16)
    return Invalid("CreateDevice with a depth format other than D16");
  HWND window = parameters->hDeviceWindow ? parameters->hDeviceWindow : focusWindow;
  if (!window) return Invalid("CreateDevice without a window");
  if (GetFaults().failCreateDevice) return D3DERR_NOTAVAILABLE;

  D3DPRESENT_PARAMETERS p = *parameters;
  if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
    int w = 0, h = 0;
    win::WindowServices* services = win::GetWindowServices();
    if (services) services->GetClientSize(window, &w, &h);
    if (p.BackBufferWidth == 0) p.BackBufferWidth = UINT(w > 1 ? w : 1);
    if (p.BackBufferHeight == 0) p.BackBufferHeight = UINT(h > 1 ? h : 1);
  }
  if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = D3DFMT_X8R8G8B8;
  if (p.BackBufferCount == 0) p.BackBufferCount = 1;
  *parameters = p;

  std::unique_ptr<Renderer> renderer;
  if (backend_ == Backend::Recorder) {
    renderer = std::make_unique<RecordingRenderer>();
  } else {
    if (GetFaults().noContext) return E_FAIL;
    HRESULT hr = E_FAIL;
    renderer = CreateGlRenderer(p.BackBufferWidth, p.BackBufferHeight, &hr);
    if (!renderer) return FAILED(hr) ? hr : E_FAIL;
  }
  const D3DDEVICE_CREATION_PARAMETERS creation{adapter, type, focusWindow, behaviourFlags};
  *device = new Device(this, backend_, creation, p, std::move(renderer), window);
  return S_OK;
}

void* Direct3D::Find(REFIID riid) {
  if (riid == IID_IDirect3D9) return static_cast<IDirect3D9*>(this);
  return Counted::Find(riid);
}

}  // namespace detail
}  // namespace d3d9

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
  if (sdkVersion != D3D_SDK_VERSION) return nullptr;
  if (d3d9::GetFaults().noDirect3D) return nullptr;
  return new d3d9::detail::Direct3D(d3d9::SelectedBackend());
}
