// D3DX meshes, lines and fonts over the device's own interface.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "d3d9/atlas_rasteriser.h"
#include "d3d9/d3dx9mesh.h"

namespace {

// Where each component of the supported vertex formats lies.
struct Layout {
  UINT stride = 0;
  int normal = -1, diffuse = -1, tex = -1;
  bool rhw = false;
};

bool LayoutOf(DWORD fvf, Layout* l) {
  const DWORD known = D3DFVF_XYZ | D3DFVF_XYZRHW | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
  if ((fvf & ~known) || ((fvf & D3DFVF_XYZ) != 0) == ((fvf & D3DFVF_XYZRHW) != 0)) return false;
  UINT at = (fvf & D3DFVF_XYZRHW) ? 16 : 12;
  l->rhw = (fvf & D3DFVF_XYZRHW) != 0;
  if (fvf & D3DFVF_NORMAL) l->normal = int(at), at += 12;
  if (fvf & D3DFVF_DIFFUSE) l->diffuse = int(at), at += 4;
  if (fvf & D3DFVF_TEX1) l->tex = int(at), at += 8;
  l->stride = at;
  return true;
}

D3DPOOL PoolOf(DWORD options, DWORD managed, DWORD systemmem) {
  if (options & managed) return D3DPOOL_MANAGED;
  if (options & systemmem) return D3DPOOL_SYSTEMMEM;
  return D3DPOOL_DEFAULT;
}

class Mesh final : public ComObject<Mesh, ID3DXMesh> {
 public:
  static HRESULT Create(DWORD faces, DWORD vertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                        Mesh** out) {
    *out = nullptr;
    Layout layout;
    if (!device || faces == 0 || vertices == 0 || vertices > 65535 || (options & D3DXMESH_32BIT) ||
        !LayoutOf(fvf, &layout) || std::uint64_t(faces) * 6 > 0xFFFFFFFFu)
      return D3DERR_INVALIDCALL;
    CComPtr<IDirect3DVertexBuffer9> vb;
    CComPtr<IDirect3DIndexBuffer9> ib;
    HRESULT hr = device->CreateVertexBuffer(vertices * layout.stride,
                                            (options & D3DXMESH_VB_WRITEONLY) ? D3DUSAGE_WRITEONLY : 0, fvf,
                                            PoolOf(options, D3DXMESH_VB_MANAGED, D3DXMESH_VB_SYSTEMMEM), &vb, nullptr);
    if (FAILED(hr)) return hr;
    hr = device->CreateIndexBuffer(faces * 6, (options & D3DXMESH_IB_WRITEONLY) ? D3DUSAGE_WRITEONLY : 0,
                                   D3DFMT_INDEX16, PoolOf(options, D3DXMESH_IB_MANAGED, D3DXMESH_IB_SYSTEMMEM), &ib,
                                   nullptr);
    if (FAILED(hr)) return hr;
    Mesh* m = new Mesh;
    m->device_ = device;
    m->vb_ = vb;
    m->ib_ = ib;
    m->faces_ = faces;
    m->vertices_ = vertices;
    m->options_ = options;
    m->fvf_ = fvf;
    m->layout_ = layout;
    m->attributes_.assign(faces, 0);
    *out = m;
    return S_OK;
  }

  HRESULT DrawSubset(DWORD id) override {
    IDirect3DDevice9* d = device_;
    d->SetFVF(fvf_);
    d->SetStreamSource(0, vb_, 0, layout_.stride);
    d->SetIndices(ib_);
    HRESULT hr = S_OK;
    for (DWORD f = 0; f < faces_ && SUCCEEDED(hr);) {
      if (attributes_[f] != id) {
        ++f;
        continue;
      }
      DWORD end = f;
      while (end < faces_ && attributes_[end] == id) ++end;
      hr = d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertices_, f * 3, end - f);
      f = end;
    }
    return hr;
  }
  DWORD GetNumFaces() override { return faces_; }
  DWORD GetNumVertices() override { return vertices_; }
  DWORD GetFVF() override { return fvf_; }
  DWORD GetNumBytesPerVertex() override { return layout_.stride; }
  DWORD GetOptions() override { return options_; }
  HRESULT GetDevice(IDirect3DDevice9** d) override { return device_.CopyTo(d); }
  HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** b) override { return vb_.CopyTo(b); }
  HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** b) override { return ib_.CopyTo(b); }
  HRESULT LockVertexBuffer(DWORD flags, void** data) override { return vb_->Lock(0, 0, data, flags); }
  HRESULT UnlockVertexBuffer() override { return vb_->Unlock(); }
  HRESULT LockIndexBuffer(DWORD flags, void** data) override { return ib_->Lock(0, 0, data, flags); }
  HRESULT UnlockIndexBuffer() override { return ib_->Unlock(); }
  HRESULT LockAttributeBuffer(DWORD, DWORD** data) override {
    if (!data || attributesLocked_) return D3DERR_INVALIDCALL;
    attributesLocked_ = true;
    *data = attributes_.data();
    return S_OK;
  }
  HRESULT UnlockAttributeBuffer() override {
    if (!attributesLocked_) return D3DERR_INVALIDCALL;
    attributesLocked_ = false;
    return S_OK;
  }

  HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** clone) override {
    if (!clone) return D3DERR_INVALIDCALL;
    *clone = nullptr;
    Mesh* m = nullptr;
    HRESULT hr = Create(faces_, vertices_, options, fvf, device ? device : device_.p(), &m);
    if (FAILED(hr)) return hr;
    std::vector<std::uint8_t> vertices;
    std::vector<WORD> indices;
    if (FAILED(hr = Read(&vertices, &indices)) || FAILED(hr = m->Write(Convert(vertices, layout_, m->layout_), indices))) {
      m->Release();
      return hr;
    }
    m->attributes_ = attributes_;
    *clone = m;
    return S_OK;
  }

  HRESULT OptimizeInplace(DWORD flags, const DWORD*, DWORD*, DWORD*, ID3DXBuffer** vertexRemap) override {
    if (vertexRemap) *vertexRemap = nullptr;
    std::vector<std::uint8_t> vertices;
    std::vector<WORD> indices;
    HRESULT hr = Read(&vertices, &indices);
    if (FAILED(hr)) return hr;
    if (flags & (D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE)) {
      std::vector<DWORD> order(faces_);
      for (DWORD i = 0; i < faces_; ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return attributes_[a] < attributes_[b]; });
      std::vector<WORD> sorted(indices.size());
      std::vector<DWORD> attributes(faces_);
      for (DWORD i = 0; i < faces_; ++i) {
        std::copy_n(&indices[order[i] * 3], 3, &sorted[i * 3]);
        attributes[i] = attributes_[order[i]];
      }
      indices.swap(sorted);
      attributes_.swap(attributes);
    }
    if (flags & (D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE)) Compact(&vertices, &indices);
    return Rebuild(vertices, indices);
  }

  // Vertices at one position become the first of them.
  HRESULT Weld(bool removeVertices) {
    std::vector<std::uint8_t> vertices;
    std::vector<WORD> indices;
    HRESULT hr = Read(&vertices, &indices);
    if (FAILED(hr)) return hr;
    std::map<std::tuple<float, float, float>, WORD> first;
    std::vector<WORD> map(vertices_);
    for (DWORD v = 0; v < vertices_; ++v) {
      float p[3];
      std::memcpy(p, &vertices[v * layout_.stride], 12);
      map[v] = first.try_emplace({p[0], p[1], p[2]}, WORD(v)).first->second;
    }
    for (WORD& i : indices) i = map[i];
    if (removeVertices) Compact(&vertices, &indices);
    return Rebuild(vertices, indices);
  }

  HRESULT ComputeNormals() {
    if (layout_.normal < 0) return D3DERR_INVALIDCALL;
    std::vector<std::uint8_t> vertices;
    std::vector<WORD> indices;
    HRESULT hr = Read(&vertices, &indices);
    if (FAILED(hr)) return hr;
    std::vector<D3DXVECTOR3> sums(vertices_);
    auto position = [&](WORD i) {
      D3DXVECTOR3 p;
      std::memcpy(&p, &vertices[i * layout_.stride], 12);
      return p;
    };
    for (DWORD f = 0; f < faces_; ++f) {
      const WORD* t = &indices[f * 3];
      const D3DXVECTOR3 e1 = position(t[1]) - position(t[0]), e2 = position(t[2]) - position(t[0]);
      D3DXVECTOR3 n;
      D3DXVec3Cross(&n, &e1, &e2);
      for (int k = 0; k < 3; ++k) sums[t[k]] += n;
    }
    for (DWORD v = 0; v < vertices_; ++v) {
      D3DXVec3Normalize(&sums[v], &sums[v]);
      std::memcpy(&vertices[v * layout_.stride + layout_.normal], &sums[v], 12);
    }
    return Write(vertices, indices);
  }

 private:
  HRESULT Read(std::vector<std::uint8_t>* vertices, std::vector<WORD>* indices) {
    void* p = nullptr;
    HRESULT hr = vb_->Lock(0, 0, &p, 0);
    if (FAILED(hr)) return hr;
    vertices->assign(static_cast<std::uint8_t*>(p), static_cast<std::uint8_t*>(p) + vertices_ * layout_.stride);
    vb_->Unlock();
    if (FAILED(hr = ib_->Lock(0, 0, &p, 0))) return hr;
    indices->assign(static_cast<WORD*>(p), static_cast<WORD*>(p) + faces_ * 3);
    ib_->Unlock();
    // Indices past the vertices would be read as vertices later.
    for (WORD i : *indices)
      if (i >= vertices_) return D3DERR_INVALIDCALL;
    return S_OK;
  }

  HRESULT Write(const std::vector<std::uint8_t>& vertices, const std::vector<WORD>& indices) {
    void* p = nullptr;
    HRESULT hr = vb_->Lock(0, 0, &p, 0);
    if (FAILED(hr)) return hr;
    std::memcpy(p, vertices.data(), vertices.size());
    vb_->Unlock();
    if (FAILED(hr = ib_->Lock(0, 0, &p, 0))) return hr;
    std::memcpy(p, indices.data(), indices.size() * 2);
    return ib_->Unlock();
  }

  // Unreferenced vertices go; the rest keep their order.
  void Compact(std::vector<std::uint8_t>* vertices, std::vector<WORD>* indices) const {
    std::vector<int> remap(vertices_, -1);
    for (WORD i : *indices) remap[i] = 0;
    std::vector<std::uint8_t> kept;
    int next = 0;
    for (DWORD v = 0; v < vertices_; ++v) {
      if (remap[v] < 0) continue;
      remap[v] = next++;
      kept.insert(kept.end(), vertices->begin() + v * layout_.stride, vertices->begin() + (v + 1) * layout_.stride);
    }
    for (WORD& i : *indices) i = WORD(remap[i]);
    vertices->swap(kept);
  }

  HRESULT Rebuild(const std::vector<std::uint8_t>& vertices, const std::vector<WORD>& indices) {
    const DWORD count = DWORD(vertices.size() / layout_.stride);
    if (count != vertices_) {
      D3DVERTEXBUFFER_DESC desc{};
      vb_->GetDesc(&desc);
      CComPtr<IDirect3DVertexBuffer9> vb;
      HRESULT hr = device_->CreateVertexBuffer(std::max<DWORD>(count, 1) * layout_.stride, desc.Usage, fvf_, desc.Pool,
                                               &vb, nullptr);
      if (FAILED(hr)) return hr;
      vb_ = vb;
      vertices_ = count;
    }
    return Write(vertices, indices);
  }

  static std::vector<std::uint8_t> Convert(const std::vector<std::uint8_t>& from, const Layout& a, const Layout& b) {
    const std::size_t n = from.size() / a.stride;
    std::vector<std::uint8_t> out(n * b.stride, 0);
    for (std::size_t v = 0; v < n; ++v) {
      const std::uint8_t* s = &from[v * a.stride];
      std::uint8_t* d = &out[v * b.stride];
      std::memcpy(d, s, 12);
      if (b.diffuse >= 0) {
        const DWORD white = 0xFFFFFFFF;
        std::memcpy(d + b.diffuse, a.diffuse >= 0 ? s + a.diffuse : reinterpret_cast<const std::uint8_t*>(&white), 4);
      }
      if (a.normal >= 0 && b.normal >= 0) std::memcpy(d + b.normal, s + a.normal, 12);
      if (a.tex >= 0 && b.tex >= 0) std::memcpy(d + b.tex, s + a.tex, 8);
    }
    return out;
  }

  CComPtr<IDirect3DDevice9> device_;
  CComPtr<IDirect3DVertexBuffer9> vb_;
  CComPtr<IDirect3DIndexBuffer9> ib_;
  DWORD faces_ = 0, vertices_ = 0, options_ = 0, fvf_ = 0;
  Layout layout_;
  std::vector<DWORD> attributes_;
  bool attributesLocked_ = false;
};

struct ScreenVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Screen-space drawing with the caller's state saved and restored.
class ScreenDrawer {
 public:
  explicit ScreenDrawer(IDirect3DDevice9* device) : device_(device) {}
  HRESULT Begin(bool textured) {
    HRESULT hr = device_->CreateStateBlock(D3DSBT_ALL, &saved_);
    if (FAILED(hr)) return hr;
    IDirect3DDevice9* d = device_;
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetTextureStageState(0, D3DTSS_COLOROP, textured ? D3DTOP_MODULATE : D3DTOP_SELECTARG2);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, textured ? D3DTOP_MODULATE : D3DTOP_SELECTARG2);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    d->SetPixelShader(nullptr);
    d->SetFVF(kScreenFvf);
    return S_OK;
  }
  HRESULT Draw(const std::vector<ScreenVertex>& triangles, IDirect3DTexture9* texture) {
    if (triangles.empty()) return S_OK;
    const UINT bytes = UINT(triangles.size() * sizeof(ScreenVertex));
    if (bytes > capacity_) {
      buffer_.Release();
      HRESULT hr = device_->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT,
                                               &buffer_, nullptr);
      if (FAILED(hr)) hr = device_->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &buffer_, nullptr);
      if (FAILED(hr)) return hr;
      capacity_ = bytes;
    }
    void* p = nullptr;
    HRESULT hr = buffer_->Lock(0, bytes, &p, D3DLOCK_DISCARD);
    if (FAILED(hr)) return hr;
    std::memcpy(p, triangles.data(), bytes);
    buffer_->Unlock();
    device_->SetTexture(0, texture);
    device_->SetStreamSource(0, buffer_, 0, sizeof(ScreenVertex));
    return device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(triangles.size() / 3));
  }
  void End() {
    if (saved_) saved_->Apply();
    saved_.Release();
  }
  void Forget() { buffer_.Release(), capacity_ = 0; }

 private:
  IDirect3DDevice9* device_;
  CComPtr<IDirect3DStateBlock9> saved_;
  CComPtr<IDirect3DVertexBuffer9> buffer_;
  UINT capacity_ = 0;
};

void Quad(std::vector<ScreenVertex>* out, const float (&x)[4], const float (&y)[4], D3DCOLOR c, float u0, float v0,
          float u1, float v1) {
  // Corners: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right.
  const ScreenVertex v[4] = {{x[0], y[0], 0, 1, c, u0, v0}, {x[1], y[1], 0, 1, c, u1, v0},
                             {x[2], y[2], 0, 1, c, u0, v1}, {x[3], y[3], 0, 1, c, u1, v1}};
  for (int i : {0, 1, 2, 2, 1, 3}) out->push_back(v[i]);
}

class Line final : public ComObject<Line, ID3DXLine> {
 public:
  explicit Line(IDirect3DDevice9* device) : device_(device), drawer_(device) {}
  HRESULT GetDevice(IDirect3DDevice9** d) override { return device_.CopyTo(d); }
  HRESULT Begin() override {
    if (begun_) return D3DERR_INVALIDCALL;
    HRESULT hr = drawer_.Begin(false);
    begun_ = SUCCEEDED(hr);
    return hr;
  }
  HRESULT Draw(const D3DXVECTOR2* points, DWORD count, D3DCOLOR colour) override {
    if (!points || count < 2) return D3DERR_INVALIDCALL;
    const bool implicit = !begun_;
    if (implicit && FAILED(Begin())) return E_FAIL;
    // Pixel centres at integers: the band straddles the line.
    const float half = std::max(width_, 1.0f) / 2;
    std::vector<ScreenVertex> tris;
    for (DWORD i = 0; i + 1 < count; ++i) {
      const D3DXVECTOR2 a = points[i], b = points[i + 1];
      D3DXVECTOR2 d = b - a;
      D3DXVec2Normalize(&d, &d);
      const D3DXVECTOR2 n(-d.y * half, d.x * half);
      const float x[4] = {a.x + n.x, b.x + n.x, a.x - n.x, b.x - n.x};
      const float y[4] = {a.y + n.y, b.y + n.y, a.y - n.y, b.y - n.y};
      Quad(&tris, x, y, colour, 0, 0, 0, 0);
    }
    const HRESULT hr = drawer_.Draw(tris, nullptr);
    if (implicit) End();
    return hr;
  }
  HRESULT End() override {
    if (!begun_) return D3DERR_INVALIDCALL;
    drawer_.End();
    begun_ = false;
    return S_OK;
  }
  HRESULT SetWidth(float width) override {
    width_ = width;
    return S_OK;
  }
  float GetWidth() override { return width_; }
  HRESULT SetAntialias(BOOL antialias) override {
    antialias_ = antialias;
    return S_OK;
  }
  BOOL GetAntialias() override { return antialias_; }
  HRESULT OnLostDevice() override {
    drawer_.Forget();
    return S_OK;
  }
  HRESULT OnResetDevice() override { return S_OK; }

 private:
  CComPtr<IDirect3DDevice9> device_;
  ScreenDrawer drawer_;
  float width_ = 1.0f;
  BOOL antialias_ = FALSE;
  bool begun_ = false;
};

class Font final : public ComObject<Font, ID3DXFont> {
 public:
  Font(IDirect3DDevice9* device) : device_(device), drawer_(device) {}

  HRESULT Build(INT height, UINT weight, BOOL italic, const char* face) {
    std::unique_ptr<d3d9::AtlasRasteriser> r = d3d9::CreateAtlasRasteriser();
    if (height == 0 || !r->SelectFont(face ? face : "", height, int(weight), italic != FALSE)) return E_FAIL;
    lineHeight_ = r->Extent("x", 1).cy;
    for (int c = 32; c < 127; ++c) {
      const char ch = char(c);
      advance_[c - 32] = r->Extent(&ch, 1).cx;
    }
    D3DCAPS9 caps{};
    device_->GetDeviceCaps(&caps);
    // Rows of glyph cells, growing the square texture until they fit.
    for (width_ = 64; width_ <= caps.MaxTextureWidth; width_ *= 2) {
      int x = 0, y = 0;
      for (int c = 0; c < 95; ++c) {
        if (x + advance_[c] + 1 > int(width_)) x = 0, y += lineHeight_ + 1;
        cellX_[c] = x, cellY_[c] = y;
        x += advance_[c] + 1;
      }
      if (y + lineHeight_ <= int(width_)) break;
    }
    if (width_ > caps.MaxTextureWidth) return E_FAIL;
    HRESULT hr = device_->CreateTexture(width_, width_, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture_, nullptr);
    if (FAILED(hr)) return hr;
    if (!r->CreateSurface(int(width_), int(width_))) return E_FAIL;
    for (int c = 0; c < 95; ++c) {
      const char ch = char(c + 32);
      r->DrawOpaque(cellX_[c], cellY_[c], &ch, 1);
    }
    D3DLOCKED_RECT locked{};
    if (FAILED(hr = texture_->LockRect(0, &locked, nullptr, 0))) return hr;
    const std::uint32_t* pixels = r->Pixels();
    for (UINT y = 0; y < width_; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch);
      for (UINT x = 0; x < width_; ++x) row[x] = (pixels[y * width_ + x] & 0xFF) << 24 | 0x00FFFFFF;
    }
    return texture_->UnlockRect(0);
  }

  HRESULT GetDevice(IDirect3DDevice9** d) override { return device_.CopyTo(d); }

  INT DrawTextA(ID3DXSprite*, const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR colour) override {
    if (!text || !rect) return 0;
    const std::size_t n = count < 0 ? std::strlen(text) : std::size_t(count);
    std::vector<std::pair<std::size_t, std::size_t>> lines;  // begin, end
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= n; ++i)
      if (i == n || (text[i] == '\n' && !(format & DT_SINGLELINE))) {
        lines.emplace_back(begin, i);
        begin = i + 1;
      }
    auto lineWidth = [&](std::pair<std::size_t, std::size_t> l) {
      int w = 0;
      for (std::size_t i = l.first; i < l.second; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 32 && c <= 126) w += advance_[c - 32];
      }
      return w;
    };
    int width = 0;
    for (const auto& l : lines) width = std::max(width, lineWidth(l));
    const int height = int(lines.size()) * lineHeight_;
    if (format & DT_CALCRECT) {
      rect->right = rect->left + width;
      rect->bottom = rect->top + height;
      return height;
    }
    float y = float(rect->top);
    if (format & DT_VCENTER) y = rect->top + (rect->bottom - rect->top - height) / 2.0f;
    else if (format & DT_BOTTOM) y = float(rect->bottom - height);
    std::vector<ScreenVertex> tris;
    const float texel = 1.0f / float(width_);
    for (const auto& l : lines) {
      const int w = lineWidth(l);
      float x = float(rect->left);
      if (format & DT_CENTER) x = rect->left + (rect->right - rect->left - w) / 2.0f;
      else if (format & DT_RIGHT) x = float(rect->right - w);
      for (std::size_t i = l.first; i < l.second; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 32 || c > 126) continue;
        const int g = c - 32;
        const float l0 = x - 0.5f, t0 = y - 0.5f, r0 = l0 + advance_[g], b0 = t0 + lineHeight_;
        const float xs[4] = {l0, r0, l0, r0}, ys[4] = {t0, t0, b0, b0};
        Quad(&tris, xs, ys, colour, cellX_[g] * texel, cellY_[g] * texel, (cellX_[g] + advance_[g]) * texel,
             (cellY_[g] + lineHeight_) * texel);
        x += advance_[g];
      }
      y += lineHeight_;
    }
    if (FAILED(drawer_.Begin(true))) return 0;
    const HRESULT hr = drawer_.Draw(tris, texture_);
    drawer_.End();
    return SUCCEEDED(hr) ? height : 0;
  }
  HRESULT OnLostDevice() override {
    drawer_.Forget();
    return S_OK;
  }
  HRESULT OnResetDevice() override { return S_OK; }

 private:
  CComPtr<IDirect3DDevice9> device_;
  ScreenDrawer drawer_;
  CComPtr<IDirect3DTexture9> texture_;
  UINT width_ = 0;
  int lineHeight_ = 0;
  int advance_[95] = {}, cellX_[95] = {}, cellY_[95] = {};
};

}  // namespace

HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          ID3DXMesh** mesh) {
  if (!mesh) return D3DERR_INVALIDCALL;
  Mesh* m = nullptr;
  const HRESULT hr = Mesh::Create(numFaces, numVertices, options, fvf, device, &m);
  *mesh = m;
  return hr;
}

HRESULT D3DXWeldVertices(ID3DXMesh* mesh, DWORD flags, const D3DXWELDEPSILONS*, const DWORD*, DWORD*, DWORD*,
                         ID3DXBuffer** vertexRemap) {
  if (vertexRemap) *vertexRemap = nullptr;
  auto* m = dynamic_cast<Mesh*>(mesh);
  if (!m || !(flags & D3DXWELDEPSILONS_WELDALL)) return D3DERR_INVALIDCALL;
  return m->Weld(!(flags & D3DXWELDEPSILONS_DONOTREMOVEVERTICES));
}

HRESULT D3DXComputeNormals(ID3DXBaseMesh* mesh, const DWORD*) {
  auto* m = dynamic_cast<Mesh*>(mesh);
  return m ? m->ComputeNormals() : D3DERR_INVALIDCALL;
}

HRESULT D3DXCreateLine(IDirect3DDevice9* device, ID3DXLine** line) {
  if (!line) return D3DERR_INVALIDCALL;
  *line = device ? new Line(device) : nullptr;
  return device ? S_OK : D3DERR_INVALIDCALL;
}

HRESULT D3DXCreateFontA(IDirect3DDevice9* device, INT height, UINT, UINT weight, UINT, BOOL italic, DWORD, DWORD, DWORD,
                        DWORD, const char* faceName, ID3DXFont** font) {
  if (!font) return D3DERR_INVALIDCALL;
  *font = nullptr;
  if (!device) return D3DERR_INVALIDCALL;
  Font* f = new Font(device);
  const HRESULT hr = f->Build(height, weight, italic, faceName);
  if (FAILED(hr)) {
    f->Release();
    return hr;
  }
  *font = f;
  return S_OK;
}
