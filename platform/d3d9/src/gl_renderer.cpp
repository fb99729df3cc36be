// The OpenGL back end: a compatibility context through EGL without a window
// surface; the device draws into a framebuffer object that Present reads back
// into the window's surface.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "objects.h"
#include "win/window_services.h"

namespace d3d9 {
namespace detail {
namespace {

struct GlFunctions {
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;
  PFNGLCLIPCONTROLPROC ClipControl = nullptr;
  PFNGLACTIVETEXTUREPROC ActiveTexture = nullptr;
  PFNGLCLIENTACTIVETEXTUREARBPROC ClientActiveTexture = nullptr;

  template <class F>
  static bool Load(F& f, const char* name) {
    f = reinterpret_cast<F>(eglGetProcAddress(name));
    return f != nullptr;
  }
  bool LoadAll() {
    return Load(GenFramebuffers, "glGenFramebuffers") && Load(DeleteFramebuffers, "glDeleteFramebuffers") &&
           Load(BindFramebuffer, "glBindFramebuffer") && Load(GenRenderbuffers, "glGenRenderbuffers") &&
           Load(DeleteRenderbuffers, "glDeleteRenderbuffers") && Load(BindRenderbuffer, "glBindRenderbuffer") &&
           Load(RenderbufferStorage, "glRenderbufferStorage") &&
           Load(FramebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           Load(CheckFramebufferStatus, "glCheckFramebufferStatus") && Load(ClipControl, "glClipControl") &&
           Load(ActiveTexture, "glActiveTexture") && Load(ClientActiveTexture, "glClientActiveTexture");
  }
};

struct EglDisplay {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  std::string platform;
};

std::mutex g_eglMutex;
EglDisplay g_egl;
bool g_eglTried = false;

bool ChooseConfig(EglDisplay& d) {
  // No window surface is ever made: any surface type will do.
  const EGLint attributes[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
  EGLint count = 0;
  return eglChooseConfig(d.display, attributes, &d.config, 1, &count) && count > 0;
}

bool SupportsSurfaceless(EGLDisplay display) {
  const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
  return extensions && std::strstr(extensions, "EGL_KHR_surfaceless_context");
}

bool TryDisplay(EGLDisplay display, const char* name) {
  if (display == EGL_NO_DISPLAY) return false;
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) return false;
  EglDisplay d{display, nullptr, name};
  if (!eglBindAPI(EGL_OPENGL_API) || !SupportsSurfaceless(display) || !ChooseConfig(d)) {
    eglTerminate(display);
    return false;
  }
  g_egl = d;
  return true;
}

// The display's own EGL when there is a display; Mesa's surfaceless
// platform otherwise (or when the display's EGL offers no desktop GL).
const EglDisplay* OpenDisplay() {
  std::lock_guard lock(g_eglMutex);
  if (!g_eglTried) {
    g_eglTried = true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    bool ok = false;
    if ((x && *x) || (wayland && *wayland)) ok = TryDisplay(eglGetDisplay(EGL_DEFAULT_DISPLAY), "display");
    if (!ok) ok = TryDisplay(eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr),
                             "surfaceless");
    if (!ok) g_egl = EglDisplay{};
  }
  return g_egl.display == EGL_NO_DISPLAY ? nullptr : &g_egl;
}

GLenum CompareFunc(DWORD f) {
  switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
  }
}

GLenum BlendFactor(DWORD b) {
  switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    default: return GL_ONE;
  }
}

GLenum Primitive(D3DPRIMITIVETYPE t) {
  switch (t) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
  }
}

// A stage argument as a combiner source and operand.
void Argument(DWORD arg, bool alpha, GLenum* source, GLenum* operand) {
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_TEXTURE: *source = GL_TEXTURE; break;
    case D3DTA_DIFFUSE: *source = GL_PRIMARY_COLOR; break;
    case D3DTA_TFACTOR: *source = GL_CONSTANT; break;
    default: *source = GL_PREVIOUS; break;
  }
  const bool complement = (arg & D3DTA_COMPLEMENT) != 0;
  if (alpha || (arg & D3DTA_ALPHAREPLICATE))
    *operand = complement ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
  else
    *operand = complement ? GL_ONE_MINUS_SRC_COLOR : GL_SRC_COLOR;
}

// One combiner (colour or alpha) of a stage; a disabled alpha passes the
// previous stage's alpha.
void Combine(DWORD op, DWORD arg1, DWORD arg2, bool alpha) {
  const GLenum combine = alpha ? GL_COMBINE_ALPHA : GL_COMBINE_RGB;
  const GLenum src[2] = {GLenum(alpha ? GL_SRC0_ALPHA : GL_SRC0_RGB), GLenum(alpha ? GL_SRC1_ALPHA : GL_SRC1_RGB)};
  const GLenum opn[2] = {GLenum(alpha ? GL_OPERAND0_ALPHA : GL_OPERAND0_RGB),
                         GLenum(alpha ? GL_OPERAND1_ALPHA : GL_OPERAND1_RGB)};
  GLenum mode = GL_MODULATE;
  DWORD args[2] = {arg1, arg2};
  float scale = 1.0f;
  switch (op) {
    case D3DTOP_SELECTARG1: mode = GL_REPLACE; break;
    case D3DTOP_SELECTARG2: mode = GL_REPLACE; args[0] = arg2; break;
    case D3DTOP_MODULATE2X: scale = 2.0f; break;
    case D3DTOP_MODULATE4X: scale = 4.0f; break;
    case D3DTOP_ADD: mode = GL_ADD; break;
    case D3DTOP_ADDSIGNED: mode = GL_ADD_SIGNED; break;
    case D3DTOP_SUBTRACT: mode = GL_SUBTRACT; break;
    case D3DTOP_DISABLE: mode = GL_REPLACE; args[0] = D3DTA_CURRENT; break;
    default: break;
  }
  glTexEnvi(GL_TEXTURE_ENV, combine, GLint(mode));
  for (int i = 0; i < 2; ++i) {
    GLenum s, o;
    Argument(args[i], alpha, &s, &o);
    glTexEnvi(GL_TEXTURE_ENV, src[i], GLint(s));
    glTexEnvi(GL_TEXTURE_ENV, opn[i], GLint(o));
  }
  glTexEnvf(GL_TEXTURE_ENV, alpha ? GL_ALPHA_SCALE : GL_RGB_SCALE, scale);
}

GLint Address(DWORD a) {
  switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    default: return GL_REPEAT;
  }
}

void Multiply(const D3DMATRIX& a, const D3DMATRIX& b, float out[16]) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += a.m[r][k] * b.m[k][c];
      out[r * 4 + c] = s;
    }
}

class GlRenderer final : public Renderer {
 public:
  GlRenderer(const EglDisplay& egl, UINT width, UINT height) : egl_(egl), width_(width), height_(height) {}

  ~GlRenderer() override {
    if (context_ == EGL_NO_CONTEXT) return;
    if (MakeCurrent()) {
      DeletePending();
      if (fbo_) gl_.DeleteFramebuffers(1, &fbo_);
      GLuint rb[2] = {colour_, depth_};
      gl_.DeleteRenderbuffers(2, rb);
    }
    eglMakeCurrent(egl_.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(egl_.display, context_);
  }

  HRESULT Init() {
    if (!eglBindAPI(EGL_OPENGL_API)) return E_FAIL;
    const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                 EGL_NONE};
    context_ = eglCreateContext(egl_.display, egl_.config, EGL_NO_CONTEXT, attributes);
    if (context_ == EGL_NO_CONTEXT) return E_FAIL;
    if (!MakeCurrent() || !gl_.LoadAll()) return E_FAIL;
    gl_.GenFramebuffers(1, &fbo_);
    gl_.BindFramebuffer(GL_FRAMEBUFFER, fbo_);
    gl_.GenRenderbuffers(1, &colour_);
    gl_.BindRenderbuffer(GL_RENDERBUFFER, colour_);
    gl_.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, GLsizei(width_), GLsizei(height_));
    gl_.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    gl_.GenRenderbuffers(1, &depth_);
    gl_.BindRenderbuffer(GL_RENDERBUFFER, depth_);
    gl_.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, GLsizei(width_), GLsizei(height_));
    gl_.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
    if (gl_.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return E_FAIL;
    gl_.ClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glDisable(GL_DITHER);
    return glGetError() == GL_NO_ERROR ? S_OK : E_FAIL;
  }

  HRESULT Clear(const DeviceState& s, DWORD flags, D3DCOLOR colour, float z) override {
    if (!MakeCurrent()) return D3DERR_INVALIDCALL;
    const D3DVIEWPORT9& v = s.viewport;
    glEnable(GL_SCISSOR_TEST);
    glScissor(GLint(v.X), GLint(height_ - v.Y - v.Height), GLsizei(v.Width), GLsizei(v.Height));
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(((colour >> 16) & 0xFF) / 255.0f, ((colour >> 8) & 0xFF) / 255.0f, (colour & 0xFF) / 255.0f,
                 ((colour >> 24) & 0xFF) / 255.0f);
    glClearDepth(z);
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) mask |= GL_COLOR_BUFFER_BIT;
    if (flags & D3DCLEAR_ZBUFFER) mask |= GL_DEPTH_BUFFER_BIT;
    glClear(mask);
    glDisable(GL_SCISSOR_TEST);
    return S_OK;
  }

  HRESULT Draw(const DeviceState& s, DrawInput& in) override {
    if (!MakeCurrent()) return D3DERR_INVALIDCALL;
    DeletePending();
    ApplyFixedState(s);
    ApplyStages(s);
    ApplyTransforms(s, in);

    const bool lit = !in.transformed && s.render[D3DRS_LIGHTING];
    for (RecordedVertex& v : in.vertices) {
      // No lights exist: a lit vertex keeps only its alpha.
      if (lit) v.diffuse &= 0xFF000000u;
      if (in.transformed) {
        v.x += 0.5f;
        v.y = float(height_) - v.y - 0.5f;
      }
    }
    const GLsizei stride = sizeof(RecordedVertex);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, &in.vertices[0].x);
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, stride, &in.vertices[0].diffuse);
    for (int unit = 0; unit < 2; ++unit) {
      gl_.ClientActiveTexture(GL_TEXTURE0 + unit);
      if (in.hasTexture) {
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, stride, &in.vertices[0].u);
      } else {
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
      }
    }
    if (in.indices.empty())
      glDrawArrays(Primitive(in.primitive), 0, GLsizei(in.vertexCount));
    else
      glDrawElements(Primitive(in.primitive), GLsizei(in.indices.size()), GL_UNSIGNED_SHORT, in.indices.data());
    return glGetError() == GL_NO_ERROR ? S_OK : D3DERR_INVALIDCALL;
  }

  HRESULT Present(HWND window) override {
    if (!MakeCurrent()) return D3DERR_INVALIDCALL;
    std::vector<std::uint32_t> frame(std::size_t(width_) * height_);
    glReadPixels(0, 0, GLsizei(width_), GLsizei(height_), GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, frame.data());
    win::WindowServices* services = win::GetWindowServices();
    int cw = 0, ch = 0;
    if (!services || !services->GetClientSize(window, &cw, &ch)) return D3DERR_INVALIDCALL;
    if (cw <= 0 || ch <= 0) return S_OK;
    // GL rows run bottom-up; the surface is top-down and opaque.
    std::vector<std::uint32_t> out(std::size_t(cw) * ch);
    for (int y = 0; y < ch; ++y) {
      const std::size_t sy = height_ - 1 - std::size_t(y) * height_ / ch;
      const std::uint32_t* row = frame.data() + sy * width_;
      std::uint32_t* dst = out.data() + std::size_t(y) * cw;
      if (UINT(cw) == width_) {
        for (int x = 0; x < cw; ++x) dst[x] = row[x] | 0xFF000000u;
      } else {
        for (int x = 0; x < cw; ++x) dst[x] = row[std::size_t(x) * width_ / cw] | 0xFF000000u;
      }
    }
    return services->WriteClient(window, 0, 0, out.data(), cw, ch, cw * 4) ? S_OK : D3DERR_INVALIDCALL;
  }

  void Forget(Texture* texture) override {
    if (!texture->glName) return;
    std::lock_guard lock(pendingMutex_);
    pending_.push_back(texture->glName);
  }

 private:
  bool MakeCurrent() {
    if (eglGetCurrentContext() == context_) return true;
    return eglBindAPI(EGL_OPENGL_API) &&
           eglMakeCurrent(egl_.display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
  }

  void DeletePending() {
    std::lock_guard lock(pendingMutex_);
    if (!pending_.empty()) glDeleteTextures(GLsizei(pending_.size()), pending_.data());
    pending_.clear();
  }

  void ApplyFixedState(const DeviceState& s) {
    const auto& r = s.render;
    const D3DVIEWPORT9& v = s.viewport;
    glViewport(GLint(v.X), GLint(height_ - v.Y - v.Height), GLsizei(v.Width), GLsizei(v.Height));
    glDepthRange(v.MinZ, v.MaxZ);
    if (r[D3DRS_ZENABLE]) glEnable(GL_DEPTH_TEST);
    else glDisable(GL_DEPTH_TEST);
    glDepthFunc(CompareFunc(r[D3DRS_ZFUNC]));
    glDepthMask(r[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    // The platform's front faces are clockwise on screen.
    if (r[D3DRS_CULLMODE] == D3DCULL_NONE) {
      glDisable(GL_CULL_FACE);
    } else {
      glEnable(GL_CULL_FACE);
      glFrontFace(r[D3DRS_CULLMODE] == D3DCULL_CCW ? GL_CW : GL_CCW);
      glCullFace(GL_BACK);
    }
    const GLenum fill = r[D3DRS_FILLMODE] == D3DFILL_POINT ? GL_POINT
                        : r[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL;
    glPolygonMode(GL_FRONT_AND_BACK, fill);
    glShadeModel(r[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? GL_FLAT : GL_SMOOTH);
    if (r[D3DRS_ALPHATESTENABLE]) {
      glEnable(GL_ALPHA_TEST);
      glAlphaFunc(CompareFunc(r[D3DRS_ALPHAFUNC]), float(r[D3DRS_ALPHAREF] & 0xFF) / 255.0f);
    } else {
      glDisable(GL_ALPHA_TEST);
    }
    if (r[D3DRS_ALPHABLENDENABLE]) {
      glEnable(GL_BLEND);
      glBlendFunc(BlendFactor(r[D3DRS_SRCBLEND]), BlendFactor(r[D3DRS_DESTBLEND]));
    } else {
      glDisable(GL_BLEND);
    }
    const DWORD w = r[D3DRS_COLORWRITEENABLE];
    glColorMask(w & 1 ? GL_TRUE : GL_FALSE, w & 2 ? GL_TRUE : GL_FALSE, w & 4 ? GL_TRUE : GL_FALSE,
                w & 8 ? GL_TRUE : GL_FALSE);
    if (r[D3DRS_ANTIALIASEDLINEENABLE]) glEnable(GL_LINE_SMOOTH);
    else glDisable(GL_LINE_SMOOTH);
  }

  void Upload(Texture* t) {
    if (!t->glName) glGenTextures(1, &t->glName);
    glBindTexture(GL_TEXTURE_2D, t->glName);
    const unsigned generation = t->generation();
    if (t->glGeneration == generation) return;
    std::lock_guard lock(t->mutex());
    GLint internal = GL_RGBA8;
    GLenum format = GL_BGRA, type = GL_UNSIGNED_BYTE;
    switch (t->format()) {
      case D3DFMT_X8R8G8B8: internal = GL_RGB8; break;  // samples alpha 1
      case D3DFMT_A4R4G4B4: internal = GL_RGBA4; type = GL_UNSIGNED_SHORT_4_4_4_4_REV; break;
      case D3DFMT_R5G6B5: internal = GL_RGB; format = GL_RGB; type = GL_UNSIGNED_SHORT_5_6_5; break;
      case D3DFMT_X1R5G5B5: internal = GL_RGB5; type = GL_UNSIGNED_SHORT_1_5_5_5_REV; break;
      case D3DFMT_A1R5G5B5: internal = GL_RGB5_A1; type = GL_UNSIGNED_SHORT_1_5_5_5_REV; break;
      case D3DFMT_L8: internal = GL_LUMINANCE8; format = GL_LUMINANCE; break;
      default: break;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, internal, GLsizei(t->width()), GLsizei(t->height()), 0, format, type, t->data());
    t->glGeneration = generation;
  }

  void ApplyStages(const DeviceState& s) {
    bool enabled = true;
    for (int unit = 0; unit < 2; ++unit) {
      gl_.ActiveTexture(GL_TEXTURE0 + unit);
      const auto& st = s.stage[unit];
      Texture* t = s.textures[unit];
      enabled = enabled && st[D3DTSS_COLOROP] != D3DTOP_DISABLE;
      // Without a texture the stage is off, so the vertex colour passes.
      if (!enabled || !t) {
        glDisable(GL_TEXTURE_2D);
        if (unit == 0) enabled = false;
        continue;
      }
      glEnable(GL_TEXTURE_2D);
      Upload(t);
      const auto& sm = s.sampler[unit];
      const bool magLinear = sm[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR;
      const bool minLinear = sm[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minLinear ? GL_LINEAR : GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, Address(sm[D3DSAMP_ADDRESSU]));
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, Address(sm[D3DSAMP_ADDRESSV]));
      glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
      const DWORD factor = s.render[D3DRS_TEXTUREFACTOR];
      const float c[4] = {((factor >> 16) & 0xFF) / 255.0f, ((factor >> 8) & 0xFF) / 255.0f, (factor & 0xFF) / 255.0f,
                          ((factor >> 24) & 0xFF) / 255.0f};
      glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, c);
      Combine(st[D3DTSS_COLOROP], st[D3DTSS_COLORARG1], st[D3DTSS_COLORARG2], false);
      Combine(st[D3DTSS_ALPHAOP], st[D3DTSS_ALPHAARG1], st[D3DTSS_ALPHAARG2], true);
    }
    gl_.ActiveTexture(GL_TEXTURE0);
  }

  void ApplyTransforms(const DeviceState& s, const DrawInput& in) {
    glMatrixMode(GL_PROJECTION);
    if (in.transformed) {
      // Window coordinates (already moved to GL's pixel centres) straight to
      // clip space; depth as given.
      const float w = float(s.viewport.Width), h = float(s.viewport.Height);
      const float x0 = float(s.viewport.X), y0 = float(height_ - s.viewport.Y - s.viewport.Height);
      const float p[16] = {2 / w, 0, 0, 0, 0, 2 / h, 0, 0, 0, 0, 1, 0, -1 - 2 * x0 / w, -1 - 2 * y0 / h, 0, 1};
      glLoadMatrixf(p);
      glMatrixMode(GL_MODELVIEW);
      glLoadIdentity();
      glDepthRange(0, 1);
      return;
    }
    // Row vectors times row-major matrices read as GL's column vectors times
    // column-major ones: the arrays load unchanged.
    glLoadMatrixf(&s.projection.m[0][0]);
    glMatrixMode(GL_MODELVIEW);
    float mv[16];
    Multiply(s.world, s.view, mv);
    glLoadMatrixf(mv);
  }

  const EglDisplay& egl_;
  UINT width_, height_;
  EGLContext context_ = EGL_NO_CONTEXT;
  GlFunctions gl_;
  GLuint fbo_ = 0, colour_ = 0, depth_ = 0;
  std::mutex pendingMutex_;
  std::vector<GLuint> pending_;
};

}  // namespace

std::unique_ptr<Renderer> CreateGlRenderer(UINT width, UINT height, HRESULT* result) {
  const EglDisplay* egl = OpenDisplay();
  if (!egl) {
    *result = E_FAIL;
    return nullptr;
  }
  auto renderer = std::make_unique<GlRenderer>(*egl, width, height);
  *result = renderer->Init();
  if (FAILED(*result)) return nullptr;
  return renderer;
}

}  // namespace detail

std::string EglPlatformInUse() {
  std::lock_guard lock(detail::g_eglMutex);
  return detail::g_egl.platform;
}

}  // namespace d3d9
