#pragma once
// A calibrated stereo rig shown live: the two cameras as frusta whose image
// quads show the left and right halves of one side-by-side video frame, a
// fixed working box with grid and tick labels, world axes, and small
// textured patches at tracked 3-D points, each showing the video around the
// point's image position.
//
// Frames and patches arrive from a capture thread while another thread
// draws: the setters and DrawScene all hold the scene's lock (recursive, so
// a caller that holds it too keeps working). The setters create and lock
// resources on the calling thread.
#include <opencv2/core/types_c.h>

#include <vector>

#include "MVG/stereo_camera.h"
#include "d3d/d3dcalibscene.h"
#include "d3d/d3dcamera.h"
#include "d3d/d3dfont.h"
#include "d3d9/d3d9.h"
#include "win/sync.h"

namespace D3D {

// A critical section: initialised by the constructor, deleted by the
// destructor.
class CCriticalSectionWrapper {
 public:
  CCriticalSectionWrapper() { InitializeCriticalSection(&section_); }
  ~CCriticalSectionWrapper() { DeleteCriticalSection(&section_); }
  CCriticalSectionWrapper(const CCriticalSectionWrapper&) = delete;
  CCriticalSectionWrapper& operator=(const CCriticalSectionWrapper&) = delete;
  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// Enters on construction and leaves on destruction, also when unwinding.
class CScopedCriticalSection {
 public:
  explicit CScopedCriticalSection(CCriticalSectionWrapper& section) : section_(section) { section_.Enter(); }
  ~CScopedCriticalSection() { section_.Leave(); }
  CScopedCriticalSection(const CScopedCriticalSection&) = delete;
  CScopedCriticalSection& operator=(const CScopedCriticalSection&) = delete;

 private:
  CCriticalSectionWrapper& section_;
};

class CD3DSurgeryScene {
 public:
  CD3DSurgeryScene();
  ~CD3DSurgeryScene();
  // The cameras, buffers and lock are owned: no copies.
  CD3DSurgeryScene(const CD3DSurgeryScene&) = delete;
  CD3DSurgeryScene& operator=(const CD3DSurgeryScene&) = delete;

  // Builds the two frusta (scale 7; the left shows u in [0, 0.5], the right
  // u in [0.5, 1]), the box from (-20, -20, -10) to (20, 20, 60) and axes of
  // length 5; video (may be null) is the first side-by-side frame, bottom-up
  // B, G, R. E_POINTER for a null device or rig, E_FAIL once built: nothing
  // is built then.
  HRESULT CreateScene(IDirect3DDevice9* device, D3DFORMAT format, CStereoCamera* rig, IplImage* video);
  // Copies a frame of the texture's size (the full side-by-side width), 8-bit
  // with three channels, into the video texture; the first frame makes the
  // texture when CreateScene had none. E_FAIL for any other frame, before
  // CreateScene, or when the texture cannot be locked: nothing is copied.
  HRESULT SetVideoTexture(IplImage* frame);
  // Rebuilds the patches of the points whose mask is set (at most 500; the
  // rest are left out). Each patch is ±0.5 world units around its point and
  // shows the ±5-pixel window of the video texture around its image point.
  // A negative count, or null arrays with a positive count, changes nothing.
  HRESULT SetPatches(CvPoint2D32f* imagePoints, CvPoint3D32f* points, char* mask, int count);
  // Nothing without a view camera or before CreateScene.
  void DrawScene(IDirect3DDevice9* device, CModelViewerCamera* camera);
  // Kept, not drawn.
  void SetFont(CD3DFont* font);

  int GetPatchCount() const { return m_nPatchCount; }

 private:
  HRESULT InitializePatchBuffers(int capacity);
  // Width and height of the video texture; 720 x 288 without one.
  void VideoSize(UINT* width, UINT* height) const;

  CCriticalSectionWrapper m_Lock;
  IDirect3DDevice9* m_pDevice = nullptr;
  D3DFORMAT m_Format = D3DFMT_UNKNOWN;
  CD3DFont* m_pFont = nullptr;
  CD3DCalibWorldAxis m_Axes;
  CD3DCalibSceneBox m_Box;
  std::vector<CD3DCalibCamera*> m_Cameras;
  IDirect3DTexture9* m_pVideoTexture = nullptr;
  int m_nPatchCapacity = 500;
  int m_nPatchCount = 0;
  IDirect3DVertexBuffer9* m_pPatchVB = nullptr;
  IDirect3DIndexBuffer9* m_pPatchIB = nullptr;
  IDirect3DVertexBuffer9* m_pLineVB = nullptr;
  IDirect3DIndexBuffer9* m_pLineIB = nullptr;
};

}  // namespace D3D
