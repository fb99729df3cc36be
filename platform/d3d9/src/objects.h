#pragma once
// Internal objects of the Direct3D stand-in, shared by both back ends.
#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "d3d9/d3d9.h"
#include "d3d9/recorder.h"

namespace d3d9::detail {

extern std::atomic<int> g_liveObjects;

// Two counts: the public one that AddRef/Release return, and the bindings
// (stream, indices, texture, state block, child resources) that keep an
// object alive without showing in the public count.
template <class Interface>
class Counted : public Interface {
 public:
  Counted() { ++g_liveObjects; }
  ULONG AddRef() override { return static_cast<ULONG>(++public_); }
  ULONG Release() override {
    const long n = --public_;
    if (n == 0) {
      // Held across the hook: unbinding children there must not free us.
      ++bindings_;
      LastPublicRelease();
      Unbind();
    }
    return static_cast<ULONG>(n < 0 ? 0 : n);
  }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    void* found = Find(riid);
    if (!found) return E_NOINTERFACE;
    AddRef();
    *object = found;
    return S_OK;
  }
  void Bind() { ++bindings_; }
  void Unbind() {
    if (--bindings_ == 0 && public_.load() == 0) delete this;
  }
  long PublicCount() const { return public_.load(); }

 protected:
  virtual ~Counted() { --g_liveObjects; }
  virtual void LastPublicRelease() {}
  virtual void* Find(REFIID riid) {
    if (riid == IID_IUnknown) return static_cast<IUnknown*>(this);
    return nullptr;
  }

 private:
  std::atomic<long> public_{1};
  std::atomic<long> bindings_{0};
};

template <class T>
void BindPtr(T*& slot, T* value) {
  if (value) value->Bind();
  T* old = slot;
  slot = value;
  if (old) old->Unbind();
}

class Device;
class Direct3D;

// What both back ends share of a resource: its device, its CPU memory and
// the lock that guards it (locks come from any thread).
template <class Interface>
class Resource : public Counted<Interface> {
 public:
  Resource(Device* device, D3DRESOURCETYPE type, DWORD usage, D3DPOOL pool, std::size_t bytes);
  ~Resource() override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return type_; }

  Device* device() const { return device_; }
  DWORD usage() const { return usage_; }
  D3DPOOL pool() const { return pool_; }
  std::size_t size() const { return data_.size(); }
  bool locked() const { return locked_.load(); }
  std::mutex& mutex() { return mutex_; }
  const std::uint8_t* data() const { return data_.data(); }
  std::uint8_t* data() { return data_.data(); }

 protected:
  HRESULT LockRange(UINT offset, UINT size, void** out, DWORD flags, const char* what);
  HRESULT UnlockRange(const char* what);

  Device* device_;
  D3DRESOURCETYPE type_;
  DWORD usage_;
  D3DPOOL pool_;
  std::vector<std::uint8_t> data_;
  std::atomic<bool> locked_{false};
  std::mutex mutex_;
};

class VertexBuffer final : public Resource<IDirect3DVertexBuffer9> {
 public:
  VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
      : Resource(device, D3DRTYPE_VERTEXBUFFER, usage, pool, length), fvf_(fvf) {}
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
    return LockRange(offset, size, data, flags, "vertex buffer");
  }
  HRESULT Unlock() override { return UnlockRange("vertex buffer"); }
  HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

 protected:
  void* Find(REFIID riid) override;

 private:
  DWORD fvf_;
};

class IndexBuffer final : public Resource<IDirect3DIndexBuffer9> {
 public:
  IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
      : Resource(device, D3DRTYPE_INDEXBUFFER, usage, pool, length), format_(format) {}
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
    return LockRange(offset, size, data, flags, "index buffer");
  }
  HRESULT Unlock() override { return UnlockRange("index buffer"); }
  HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;
  D3DFORMAT format() const { return format_; }

 protected:
  void* Find(REFIID riid) override;

 private:
  D3DFORMAT format_;
};

int BytesPerPixel(D3DFORMAT format);

class Texture final : public Resource<IDirect3DTexture9> {
 public:
  Texture(Device* device, UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool);
  ~Texture() override;
  DWORD GetLevelCount() override { return 1; }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect(UINT level) override;
  HRESULT AddDirtyRect(const RECT* rect) override;

  UINT width() const { return width_; }
  UINT height() const { return height_; }
  D3DFORMAT format() const { return format_; }
  UINT pitch() const { return width_ * BytesPerPixel(format_); }
  // Bumped whenever the contents the device samples change.
  unsigned generation() const { return generation_.load(); }
  void MarkChanged() { ++generation_; }

  // GL side, touched only on the device's thread.
  unsigned glName = 0;
  unsigned glGeneration = ~0u;

 protected:
  void* Find(REFIID riid) override;

 private:
  UINT width_, height_;
  D3DFORMAT format_;
  bool noDirtyUpdate_ = false;
  std::atomic<unsigned> generation_{0};
};

// The state a draw reads; bound objects hold a binding each.
struct DeviceState {
  std::array<DWORD, kD3DRenderStateCount> render{};
  std::array<std::array<DWORD, kD3DStageStateCount>, kD3DStageCount> stage{};
  std::array<std::array<DWORD, kD3DSamplerStateCount>, kD3DStageCount> sampler{};
  std::array<Texture*, kD3DStageCount> textures{};
  D3DMATRIX world{}, view{}, projection{};
  D3DVIEWPORT9 viewport{};
  DWORD fvf = 0;
  VertexBuffer* stream = nullptr;
  UINT streamOffset = 0, streamStride = 0;
  IndexBuffer* indices = nullptr;
};

class StateBlock final : public Counted<IDirect3DStateBlock9> {
 public:
  explicit StateBlock(Device* device);
  ~StateBlock() override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  HRESULT Capture() override;
  HRESULT Apply() override;

  std::map<int, DWORD> render;
  std::map<std::pair<int, int>, DWORD> stage;
  std::map<std::pair<int, int>, DWORD> sampler;
  std::map<int, Texture*> textures;  // bindings
  std::map<int, D3DMATRIX> transforms;
  std::optional<DWORD> fvf;
  std::optional<D3DVIEWPORT9> viewport;
  bool hasStream = false;
  VertexBuffer* stream = nullptr;  // binding
  UINT streamOffset = 0, streamStride = 0;
  bool hasIndices = false;
  IndexBuffer* indices = nullptr;  // binding

  void SetTexture(int stage, Texture* texture);
  void SetStream(VertexBuffer* buffer, UINT offset, UINT stride);
  void SetIndices(IndexBuffer* buffer);

 protected:
  void* Find(REFIID riid) override;

 private:
  Device* device_;
};

// A draw's vertices decoded on the CPU, indices rebased to them.
struct DrawInput {
  D3DPRIMITIVETYPE primitive;
  UINT primitiveCount;
  UINT vertexCount;  // vertices the primitive uses
  bool transformed;  // XYZRHW
  bool hasNormal, hasDiffuse, hasTexture;
  std::vector<RecordedVertex> vertices;
  std::vector<WORD> indices;  // empty: the vertices in order
};

// What differs between the back ends: where pixels go.
class Renderer {
 public:
  virtual ~Renderer() = default;
  virtual HRESULT Clear(const DeviceState& state, DWORD flags, D3DCOLOR colour, float z) = 0;
  virtual HRESULT Draw(const DeviceState& state, DrawInput& input) = 0;
  virtual HRESULT Present(HWND window) = 0;
  // A GL texture name to delete when the device next runs on its thread.
  virtual void Forget(Texture* texture) {}
};

std::unique_ptr<Renderer> CreateGlRenderer(UINT width, UINT height, HRESULT* result);

class Device final : public Counted<IDirect3DDevice9> {
 public:
  Device(Direct3D* d3d, Backend backend, const D3DDEVICE_CREATION_PARAMETERS& creation,
         const D3DPRESENT_PARAMETERS& present, std::unique_ptr<Renderer> renderer, HWND window);
  ~Device() override;

  HRESULT GetDirect3D(IDirect3D9** d3d) override;
  HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
  HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
  HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
  HRESULT TestCooperativeLevel() override { return S_OK; }
  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        IDirect3DTexture9** texture, HANDLE* shared) override;
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                             HANDLE* shared) override;
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DIndexBuffer9** buffer, HANDLE* shared) override;
  HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) override;
  HRESULT Present(const RECT* source, const RECT* destination, HWND window, const void* dirtyRegion) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
  HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
  HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
  HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
  HRESULT BeginStateBlock() override;
  HRESULT EndStateBlock(IDirect3DStateBlock9** block) override;
  HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) override;
  HRESULT SetFVF(DWORD fvf) override;
  HRESULT GetFVF(DWORD* fvf) override;
  HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
  HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override;
  HRESULT SetIndices(IDirect3DIndexBuffer9* indices) override;
  HRESULT GetIndices(IDirect3DIndexBuffer9** indices) override;
  HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices,
                               UINT startIndex, UINT primitiveCount) override;

  // Applying without recording: what StateBlock::Apply uses.
  DeviceState& state() { return state_; }
  void ApplyTexture(int stage, Texture* texture) { BindPtr(state_.textures[stage], texture); }
  void ApplyStream(VertexBuffer* buffer, UINT offset, UINT stride);
  void ApplyIndices(IndexBuffer* buffer) { BindPtr(state_.indices, buffer); }
  void ApplyTransform(int which, const D3DMATRIX& m);
  bool GetTransformRef(int which, D3DMATRIX** m);

  void ChildCreated() { ++children_; Bind(); }
  void ForgetTexture(Texture* texture);
  void ChildDestroyed() { --children_; Unbind(); }
  Backend backend() const { return backend_; }
  const D3DCAPS9& caps() const { return caps_; }

 protected:
  void* Find(REFIID riid) override;
  void LastPublicRelease() override;

 private:
  bool OnDeviceThread(const char* call);
  void SetDefaults();
  HRESULT Draw(D3DPRIMITIVETYPE type, bool indexed, INT base, UINT minIndex, UINT numVertices, UINT start,
               UINT count);

  Direct3D* d3d_;
  Backend backend_;
  D3DDEVICE_CREATION_PARAMETERS creation_;
  D3DPRESENT_PARAMETERS present_;
  D3DCAPS9 caps_{};
  std::unique_ptr<Renderer> renderer_;
  std::mutex rendererMutex_;
  HWND window_;
  std::thread::id thread_;
  DeviceState state_;
  StateBlock* recording_ = nullptr;  // public reference held until EndStateBlock
  bool inScene_ = false;
  std::atomic<int> children_{0};
};

class Direct3D final : public Counted<IDirect3D9> {
 public:
  explicit Direct3D(Backend backend) : backend_(backend) {}
  UINT GetAdapterCount() override { return 1; }
  HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
  HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                            D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
  HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
  HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                       D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override;

 protected:
  void* Find(REFIID riid) override;

 private:
  Backend backend_;
};

// Fault counters: true when this call is the one to fail.
bool TakeCreateFault();
bool TakeLockFault();

D3DCAPS9 MakeCaps();
D3DDISPLAYMODE MakeDisplayMode();

// Bytes of one vertex for the formats the stand-in reads; 0 for others.
UINT FvfSize(DWORD fvf);
UINT VerticesFor(D3DPRIMITIVETYPE type, UINT primitiveCount);

}  // namespace d3d9::detail
