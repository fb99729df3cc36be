// A results-dialog-like frame on llvmpipe: our Direct3D stand-in against the
// same arrays drawn by plain fixed-function GL in one EGL context.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include <opencv2/core/core_c.h>

#include "MVG/camera.h"
#include "d3d/d3dcalibscene.h"
#include "d3d/d3dfont.h"
#include "d3d9/d3d9.h"
#include "d3d9/d3dx9.h"
#include "d3d9/recorder.h"
#include "win/window_services.h"

namespace {

struct LineV {
  float x, y, z;
  D3DCOLOR c;
};
struct TexV {
  float x, y, z;
  D3DCOLOR c;
  float u, v;
};

// What the frame draws, as plain arrays both sides share.
struct SceneData {
  std::vector<LineV> boards;   // triangle list, chequered squares
  std::vector<TexV> frusta;    // 4 vertices (a strip) per frustum
  std::vector<LineV> lines;    // frustum edges, box and grid: line list
  std::vector<std::uint32_t> image;  // 128 x 128
  int n = 0;
};

SceneData MakeScene(int n) {
  SceneData s;
  s.n = n;
  for (int b = 0; b < n; ++b) {
    const float ox = float(b % 10) * 12 - 60, oy = float(b / 10) * 9 - 40, oz = 40 + float(b % 7) * 5;
    for (int i = 0; i < 9; ++i)
      for (int j = 0; j < 6; ++j) {
        const D3DCOLOR c = (i + j) % 2 ? 0xFFFFFFFF : 0xFF000000;
        const float x0 = ox + i, y0 = oy + j, x1 = x0 + 1, y1 = y0 + 1;
        const LineV q[6] = {{x0, y1, oz, c}, {x1, y1, oz, c}, {x0, y0, oz, c},
                            {x0, y0, oz, c}, {x1, y1, oz, c}, {x1, y0, oz, c}};
        s.boards.insert(s.boards.end(), q, q + 6);
      }
    const float fx = ox + 4, fy = oy + 3, fz = oz - 20;
    const TexV f[4] = {{fx - 2, fy - 1.5f, fz + 4, 0xFFFFFFFF, 0, 1}, {fx - 2, fy + 1.5f, fz + 4, 0xFFFFFFFF, 0, 0},
                       {fx + 2, fy - 1.5f, fz + 4, 0xFFFFFFFF, 1, 1}, {fx + 2, fy + 1.5f, fz + 4, 0xFFFFFFFF, 1, 0}};
    s.frusta.insert(s.frusta.end(), f, f + 4);
    const LineV c{fx, fy, fz, 0xFFFFFF00};
    for (int k = 0; k < 4; ++k) {
      s.lines.push_back(c);
      s.lines.push_back({f[k].x, f[k].y, f[k].z, 0xFFFFFF00});
    }
    s.lines.push_back({f[0].x, f[0].y, f[0].z, 0xFFFFFF00});
    s.lines.push_back({f[1].x, f[1].y, f[1].z, 0xFFFFFF00});
    for (int k = 0; k < 4; ++k) {
      s.lines.push_back({f[k].x, f[k].y, f[k].z, 0xFFFF00FF});
      s.lines.push_back({f[(k + 1) % 4].x, f[(k + 1) % 4].y, f[(k + 1) % 4].z, 0xFFFF00FF});
    }
  }
  for (int i = -10; i <= 10; ++i) {
    s.lines.push_back({float(i) * 8, -50, 0, 0xFF808080});
    s.lines.push_back({float(i) * 8, -50, 160, 0xFF808080});
    s.lines.push_back({-80, -50, 8.0f * (i + 10), 0xFF808080});
    s.lines.push_back({80, -50, 8.0f * (i + 10), 0xFF808080});
  }
  s.image.resize(128 * 128);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) s.image[y * 128 + x] = 0xFF000000u | (x * 2) << 16 | (y * 2) << 8 | 0x40;
  return s;
}

void Matrices(int w, int h, D3DXMATRIX* view, D3DXMATRIX* proj) {
  D3DXVECTOR3 eye(0, 20, -60), at(0, 0, 40), up(0, 1, 0);
  D3DXMatrixLookAtLH(view, &eye, &at, &up);
  D3DXMatrixPerspectiveFovLH(proj, D3DX_PI / 4, float(w) / h, 0.1f, 1000.0f);
}

class Surface final : public win::WindowServices {
 public:
  Surface(int w, int h) : w_(w), h_(h), pixels_(std::size_t(w) * h) {}
  bool IsWindow(HWND) override { return true; }
  bool PostMessage(HWND, UINT, WPARAM, LPARAM) override { return true; }
  LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM) override { return 0; }
  bool GetClientSize(HWND, int* w, int* h) override {
    *w = w_;
    *h = h_;
    return true;
  }
  bool WriteClient(HWND, int, int, const std::uint32_t* p, int w, int h, int stride) override {
    for (int y = 0; y < h && y < h_; ++y) std::memcpy(&pixels_[std::size_t(y) * w_], reinterpret_cast<const char*>(p) + std::size_t(y) * stride, std::size_t(std::min(w, w_)) * 4);
    return true;
  }

 private:
  int w_, h_;
  std::vector<std::uint32_t> pixels_;
};

struct Timing {
  double frameMs = 0, presentMs = 0;
};

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

Timing RunOurs(const SceneData& s, int w, int h, int frames) {
  Surface surface(w, h);
  win::WindowServices* previous = win::SetWindowServices(&surface);
  HWND window = reinterpret_cast<HWND>(0x1);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp{};
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  IDirect3DDevice9* d = nullptr;
  Timing t;
  if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &d))) {
    std::fprintf(stderr, "no device\n");
    std::exit(1);
  }
  auto buffer = [&](const void* data, UINT bytes, DWORD fvf) {
    IDirect3DVertexBuffer9* vb = nullptr;
    d->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED, &vb, nullptr);
    void* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, data, bytes);
    vb->Unlock();
    return vb;
  };
  IDirect3DVertexBuffer9* boards = buffer(s.boards.data(), UINT(s.boards.size() * sizeof(LineV)), 0x42);
  IDirect3DVertexBuffer9* frusta = buffer(s.frusta.data(), UINT(s.frusta.size() * sizeof(TexV)), 0x142);
  IDirect3DVertexBuffer9* lines = buffer(s.lines.data(), UINT(s.lines.size() * sizeof(LineV)), 0x42);
  std::vector<IDirect3DTexture9*> images(s.n);
  for (auto& tex : images) {
    d->CreateTexture(128, 128, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr);
    D3DLOCKED_RECT lr;
    tex->LockRect(0, &lr, nullptr, 0);
    std::memcpy(lr.pBits, s.image.data(), 128 * 128 * 4);
    tex->UnlockRect(0);
  }
  D3D::CD3DFont* font = new D3D::CD3DFont("Verdana", 10, D3D::D3DFONT_BOLD | D3D::D3DFONT_ZENABLE);
  font->InitDeviceObjects(d);
  font->RestoreDeviceObjects();
  D3DXMATRIX view, proj, world;
  Matrices(w, h, &view, &proj);
  D3DXMatrixIdentity(&world);

  Clock::duration total{}, present{};
  for (int f = -2; f < frames; ++f) {
    const auto start = Clock::now();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF303030, 1.0f, 0);
    d->BeginScene();
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 0x08);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTransform(D3DTS_VIEW, &view);
    d->SetTransform(D3DTS_PROJECTION, &proj);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetFVF(0x42);
    d->SetStreamSource(0, boards, 0, sizeof(LineV));
    d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(s.boards.size() / 3));
    d->SetFVF(0x142);
    d->SetStreamSource(0, frusta, 0, sizeof(TexV));
    for (int i = 0; i < s.n; ++i) {
      d->SetTexture(0, images[i]);
      d->DrawPrimitive(D3DPT_TRIANGLESTRIP, UINT(4 * i), 2);
    }
    d->SetTexture(0, nullptr);
    d->SetFVF(0x42);
    d->SetStreamSource(0, lines, 0, sizeof(LineV));
    d->DrawPrimitive(D3DPT_LINELIST, 0, UINT(s.lines.size() / 2));
    for (int i = 0; i < s.n + 20; ++i)
      font->DrawTextA(float(10 + (i % 10) * 60), float(10 + (i / 10) * 16), 0xFFFFFF00, "Camera 12");
    d->EndScene();
    const auto beforePresent = Clock::now();
    d->Present(nullptr, nullptr, nullptr, nullptr);
    const auto end = Clock::now();
    if (f >= 0) {
      total += end - start;
      present += end - beforePresent;
    }
  }
  t.frameMs = Ms(total) / frames;
  t.presentMs = Ms(present) / frames;
  font->InvalidateDeviceObjects();
  font->DeleteDeviceObjects();
  delete font;
  for (auto* tex : images) tex->Release();
  boards->Release();
  frusta->Release();
  lines->Release();
  d->Release();
  d3d->Release();
  win::SetWindowServices(previous);
  return t;
}

// The equivalent in plain GL: client arrays, one texture per frustum, the
// labels as textured quads of a 256 x 256 atlas, read back each frame.
double RunPlainGl(const SceneData& s, int w, int h, int frames) {
  EGLDisplay dpy = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  EGLint major, minor;
  eglInitialize(dpy, &major, &minor);
  eglBindAPI(EGL_OPENGL_API);
  const EGLint ca[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
  EGLConfig cfg;
  EGLint count = 0;
  eglChooseConfig(dpy, ca, &cfg, 1, &count);
  EGLContext ctx = eglCreateContext(dpy, cfg, EGL_NO_CONTEXT, nullptr);
  eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx);
  auto genFb = reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(eglGetProcAddress("glGenFramebuffers"));
  auto bindFb = reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(eglGetProcAddress("glBindFramebuffer"));
  auto genRb = reinterpret_cast<PFNGLGENRENDERBUFFERSPROC>(eglGetProcAddress("glGenRenderbuffers"));
  auto bindRb = reinterpret_cast<PFNGLBINDRENDERBUFFERPROC>(eglGetProcAddress("glBindRenderbuffer"));
  auto storage = reinterpret_cast<PFNGLRENDERBUFFERSTORAGEPROC>(eglGetProcAddress("glRenderbufferStorage"));
  auto attach = reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(eglGetProcAddress("glFramebufferRenderbuffer"));
  GLuint fb, rb[2];
  genFb(1, &fb);
  bindFb(GL_FRAMEBUFFER, fb);
  genRb(2, rb);
  bindRb(GL_RENDERBUFFER, rb[0]);
  storage(GL_RENDERBUFFER, GL_RGBA8, w, h);
  attach(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[0]);
  bindRb(GL_RENDERBUFFER, rb[1]);
  storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, w, h);
  attach(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, rb[1]);
  glViewport(0, 0, w, h);
  std::vector<GLuint> tex(s.n + 1);
  glGenTextures(GLsizei(tex.size()), tex.data());
  for (int i = 0; i < s.n; ++i) {
    glBindTexture(GL_TEXTURE_2D, tex[i]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, 128, 128, 0, GL_BGRA, GL_UNSIGNED_BYTE, s.image.data());
  }
  std::vector<std::uint16_t> atlas(256 * 256, 0xF0FF);
  glBindTexture(GL_TEXTURE_2D, tex[s.n]);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA4, 256, 256, 0, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, atlas.data());
  std::vector<float> labels;  // x, y, u, v per vertex, 9 glyphs a label
  for (int i = 0; i < s.n + 20; ++i)
    for (int g = 0; g < 9; ++g) {
      const float x = float(10 + (i % 10) * 60 + g * 7), y = float(h - 10 - (i / 10) * 16), gw = 7, gh = 13;
      const float q[24] = {x, y - gh, 0, 1, x, y, 0, 0, x + gw, y - gh, 1, 1, x + gw, y, 1, 0, x + gw, y - gh, 1, 1, x, y, 0, 0};
      labels.insert(labels.end(), q, q + 24);
    }
  D3DXMATRIX view, proj, mv;
  Matrices(w, h, &view, &proj);
  mv = view;
  auto clip = reinterpret_cast<PFNGLCLIPCONTROLPROC>(eglGetProcAddress("glClipControl"));
  clip(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
  std::vector<std::uint32_t> frame(std::size_t(w) * h), out(frame.size());
  Clock::duration total{};
  for (int f = -2; f < frames; ++f) {
    const auto start = Clock::now();
    glClearColor(0.19f, 0.19f, 0.19f, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(&proj.m[0][0]);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(&mv.m[0][0]);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glDisable(GL_TEXTURE_2D);
    glVertexPointer(3, GL_FLOAT, sizeof(LineV), &s.boards[0].x);
    glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(LineV), &s.boards[0].c);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(s.boards.size()));
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(TexV), &s.frusta[0].x);
    glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(TexV), &s.frusta[0].c);
    glTexCoordPointer(2, GL_FLOAT, sizeof(TexV), &s.frusta[0].u);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    for (int i = 0; i < s.n; ++i) {
      glBindTexture(GL_TEXTURE_2D, tex[i]);
      glDrawArrays(GL_TRIANGLE_STRIP, 4 * i, 4);
    }
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(LineV), &s.lines[0].x);
    glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(LineV), &s.lines[0].c);
    glDrawArrays(GL_LINES, 0, GLsizei(s.lines.size()));
    glDisableClientState(GL_COLOR_ARRAY);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, 0, h, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, tex[s.n]);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GEQUAL, 8 / 255.0f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4ub(255, 255, 0, 255);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(2, GL_FLOAT, 16, labels.data());
    glTexCoordPointer(2, GL_FLOAT, 16, labels.data() + 2);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(labels.size() / 4));
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, frame.data());
    for (int y = 0; y < h; ++y) std::memcpy(&out[std::size_t(y) * w], &frame[std::size_t(h - 1 - y) * w], std::size_t(w) * 4);
    if (f >= 0) total += Clock::now() - start;
  }
  glDeleteTextures(GLsizei(tex.size()), tex.data());
  eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(dpy, ctx);
  return Ms(total) / frames;
}


// ---- the real calibration scene against the same draws replayed in GL ----

// n views of a 9 x 6 board of 25 mm squares seen by a 640 x 480 camera, with
// 160 x 120 view images.
struct CalibViews {
  CCamera camera;
  std::vector<double> R, T;
  std::vector<IplImage*> images;
  explicit CalibViews(int n) {
    const double K[9] = {800, 0, 320, 0, 800, 240, 0, 0, 1}, d[4] = {0, 0, 0, 0}, I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1},
                 t0[3] = {0, 0, 0};
    camera = CCamera(K, d, I, t0, 640, 480);
    for (int i = 0; i < n; ++i) {
      const double a = 0.4 * std::sin(0.7 * i), b = 0.3 * std::cos(1.3 * i);
      const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
      const double r[9] = {ca, 0, sa, sa * sb, cb, -ca * sb, -sa * cb, sb, ca * cb};
      const double t[3] = {-100.0 + 10 * (i % 20), -60.0 + 6 * (i % 15), 500.0 + 5 * (i % 30)};
      R.insert(R.end(), r, r + 9);
      T.insert(T.end(), t, t + 3);
      IplImage* image = cvCreateImage(cvSize(160, 120), IPL_DEPTH_8U, 3);
      cvSet(image, cvScalar(20 * (i % 12), 128, 255 - 20 * (i % 12)));
      images.push_back(image);
    }
  }
  ~CalibViews() {
    for (IplImage*& i : images) cvReleaseImage(&i);
  }
};

void CalibViewer(D3D::CModelViewerCamera* viewer, int w, int h) {
  D3DXVECTOR3 eye(150, -250, -600), at(0, 0, 0);
  viewer->SetViewParams(&eye, &at);
  viewer->SetProjParams(D3DX_PI / 4, float(w) / h, 10.0f, 5000.0f);
  viewer->SetWindow(w, h);
}

// The frame states of the results dialog.
void CalibStates(IDirect3DDevice9* d) {
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  d->SetRenderState(D3DRS_ALPHAREF, 16);
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
}

// One world-centred frame of a scene; with `log`, the draws it made.
double RunCalibScene(int n, int w, int h, int frames, std::vector<d3d9::DrawRecord>* log) {
  Surface surface(w, h);
  win::WindowServices* previous = win::SetWindowServices(&surface);
  HWND window = reinterpret_cast<HWND>(0x1);
  d3d9::SelectBackend(log ? d3d9::Backend::Recorder : d3d9::Backend::OpenGL);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp{};
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  IDirect3DDevice9* d = nullptr;
  if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &d))) {
    std::fprintf(stderr, "no device\n");
    std::exit(1);
  }
  CalibViews views(n);
  auto* font = new D3D::CD3DFont("Verdana", 10, D3D::D3DFONT_BOLD | D3D::D3DFONT_ZENABLE);
  font->InitDeviceObjects(d);
  font->RestoreDeviceObjects();
  auto* scene = new D3D::CD3DCalibScene();
  scene->SetFont(font);
  scene->CreateScene(d, D3DFMT_X8R8G8B8, views.camera, views.R.data(), views.T.data(), n, 9, 6, 25.0, views.images);
  D3D::CModelViewerCamera viewer;
  CalibViewer(&viewer, w, h);
  Clock::duration total{};
  const int count = log ? 1 : frames;
  for (int f = log ? 0 : -2; f < count; ++f) {
    const auto start = Clock::now();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f, 0);
    CalibStates(d);
    d->BeginScene();
    d->SetTransform(D3DTS_WORLD, viewer.GetWorldMatrix());
    d->SetTransform(D3DTS_VIEW, viewer.GetViewMatrix());
    d->SetTransform(D3DTS_PROJECTION, viewer.GetProjMatrix());
    if (log) d3d9::ClearLog();
    scene->DrawWorldCenteredScene(d, &viewer);
    if (log) *log = d3d9::GetLog().draws;
    d->EndScene();
    d->Present(nullptr, nullptr, nullptr, nullptr);
    if (f >= 0) total += Clock::now() - start;
  }
  delete scene;
  font->InvalidateDeviceObjects();
  font->DeleteDeviceObjects();
  delete font;
  d->Release();
  d3d->Release();
  win::SetWindowServices(previous);
  d3d9::SelectBackend(d3d9::Backend::OpenGL);
  return Ms(total) / count;
}

// The recorded draws as flat GL arrays.
struct GlDraw {
  GLenum mode = GL_TRIANGLES;
  bool screen = false;
  int texture = -1;  // index into the replay's textures, -1 for none
  std::vector<float> xyz, uv;
  std::vector<std::uint32_t> colour;
  D3DXMATRIX modelViewProjection;
};

std::vector<GlDraw> Flatten(const std::vector<d3d9::DrawRecord>& draws, int* textures) {
  std::map<const void*, int> ids;
  std::vector<GlDraw> out;
  for (const auto& r : draws) {
    GlDraw g;
    g.mode = r.primitive == D3DPT_LINELIST ? GL_LINES : r.primitive == D3DPT_TRIANGLESTRIP ? GL_TRIANGLE_STRIP
                                                                                         : GL_TRIANGLES;
    g.screen = (r.state.fvf & D3DFVF_XYZRHW) != 0;
    if (r.state.texture0) g.texture = ids.emplace(r.state.texture0, int(ids.size())).first->second;
    g.modelViewProjection = D3DXMATRIX(r.state.world) * D3DXMATRIX(r.state.view) * D3DXMATRIX(r.state.projection);
    auto put = [&](const d3d9::RecordedVertex& v) {
      g.xyz.insert(g.xyz.end(), {v.x, v.y, v.z});
      g.uv.insert(g.uv.end(), {v.u, v.v});
      g.colour.push_back(v.diffuse);
    };
    if (r.indexed)
      for (WORD i : r.indices) put(r.vertices[std::size_t(i + r.baseVertexIndex - int(r.minIndex))]);
    else
      for (const auto& v : r.vertices) put(v);
    out.push_back(std::move(g));
  }
  *textures = int(ids.size());
  return out;
}

double ReplayPlainGl(const std::vector<GlDraw>& draws, int textures, int w, int h, int frames) {
  EGLDisplay dpy = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  EGLint major, minor;
  eglInitialize(dpy, &major, &minor);
  eglBindAPI(EGL_OPENGL_API);
  const EGLint ca[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
  EGLConfig cfg;
  EGLint count = 0;
  eglChooseConfig(dpy, ca, &cfg, 1, &count);
  EGLContext ctx = eglCreateContext(dpy, cfg, EGL_NO_CONTEXT, nullptr);
  eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx);
  auto genFb = reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(eglGetProcAddress("glGenFramebuffers"));
  auto bindFb = reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(eglGetProcAddress("glBindFramebuffer"));
  auto genRb = reinterpret_cast<PFNGLGENRENDERBUFFERSPROC>(eglGetProcAddress("glGenRenderbuffers"));
  auto bindRb = reinterpret_cast<PFNGLBINDRENDERBUFFERPROC>(eglGetProcAddress("glBindRenderbuffer"));
  auto storage = reinterpret_cast<PFNGLRENDERBUFFERSTORAGEPROC>(eglGetProcAddress("glRenderbufferStorage"));
  auto attach = reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(eglGetProcAddress("glFramebufferRenderbuffer"));
  auto clip = reinterpret_cast<PFNGLCLIPCONTROLPROC>(eglGetProcAddress("glClipControl"));
  GLuint fb, rb[2];
  genFb(1, &fb);
  bindFb(GL_FRAMEBUFFER, fb);
  genRb(2, rb);
  bindRb(GL_RENDERBUFFER, rb[0]);
  storage(GL_RENDERBUFFER, GL_RGBA8, w, h);
  attach(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[0]);
  bindRb(GL_RENDERBUFFER, rb[1]);
  storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, w, h);
  attach(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, rb[1]);
  glViewport(0, 0, w, h);
  clip(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
  std::vector<GLuint> tex(std::size_t(std::max(textures, 1)));
  glGenTextures(GLsizei(tex.size()), tex.data());
  std::vector<std::uint32_t> texels(128 * 128);
  for (std::size_t i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | std::uint32_t(i * 2654435761u >> 8);
  for (GLuint t : tex) {
    glBindTexture(GL_TEXTURE_2D, t);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 128, 128, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
  }
  std::vector<std::uint32_t> frame(std::size_t(w) * h), out(frame.size());
  Clock::duration total{};
  for (int f = -2; f < frames; ++f) {
    const auto start = Clock::now();
    glClearColor(1, 1, 1, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 16 / 255.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    for (const GlDraw& g : draws) {
      glMatrixMode(GL_PROJECTION);
      if (g.screen) {
        glLoadIdentity();
        glOrtho(0, w, h, 0, 0, 1);
      } else {
        glLoadMatrixf(&g.modelViewProjection.m[0][0]);
      }
      glMatrixMode(GL_MODELVIEW);
      glLoadIdentity();
      if (g.texture >= 0) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, tex[std::size_t(g.texture)]);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
      } else {
        glDisable(GL_TEXTURE_2D);
      }
      glVertexPointer(3, GL_FLOAT, 0, g.xyz.data());
      glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, 0, g.colour.data());
      glTexCoordPointer(2, GL_FLOAT, 0, g.uv.data());
      glDrawArrays(g.mode, 0, GLsizei(g.colour.size()));
    }
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, frame.data());
    for (int y = 0; y < h; ++y) std::memcpy(&out[std::size_t(y) * w], &frame[std::size_t(h - 1 - y) * w], std::size_t(w) * 4);
    if (f >= 0) total += Clock::now() - start;
  }
  glDeleteTextures(GLsizei(tex.size()), tex.data());
  eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(dpy, ctx);
  return Ms(total) / frames;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("LIBGL_ALWAYS_SOFTWARE", "true", 0);
  const int frames = argc > 1 ? std::atoi(argv[1]) : 30;
  const char* threads = std::getenv("LP_NUM_THREADS");
  std::printf("llvmpipe threads: %s (hardware threads %u)\n", threads ? threads : "default, one per CPU",
              std::thread::hardware_concurrency());
  std::printf("%-5s %-10s %12s %12s %10s %14s\n", "N", "size", "ours ms", "plain GL ms", "ours/GL", "Present share");
  for (int n : {20, 100})
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1280, 960}}) {
      const SceneData s = MakeScene(n);
      const Timing ours = RunOurs(s, w, h, frames);
      const double gl = RunPlainGl(s, w, h, frames);
      char size[32];
      std::snprintf(size, sizeof size, "%dx%d", w, h);
      std::printf("%-5d %-10s %12.2f %12.2f %10.2f %13.0f%%\n", n, size, ours.frameMs, gl, ours.frameMs / gl,
                  100.0 * ours.presentMs / ours.frameMs);
    }
  std::printf("\nCalibration scene (world-centred, labels, box, axes) against its own draws replayed in plain GL\n");
  std::printf("%-5s %-10s %12s %12s %10s %8s\n", "N", "size", "ours ms", "plain GL ms", "ours/GL", "draws");
  for (int n : {20, 100})
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1280, 960}}) {
      std::vector<d3d9::DrawRecord> recorded;
      RunCalibScene(n, w, h, 1, &recorded);
      int textures = 0;
      const std::vector<GlDraw> draws = Flatten(recorded, &textures);
      const double ours = RunCalibScene(n, w, h, frames, nullptr);
      const double gl = ReplayPlainGl(draws, textures, w, h, frames);
      char size[32];
      std::snprintf(size, sizeof size, "%dx%d", w, h);
      std::printf("%-5d %-10s %12.2f %12.2f %10.2f %8zu\n", n, size, ours, gl, ours / gl, draws.size());
    }
  return 0;
}
