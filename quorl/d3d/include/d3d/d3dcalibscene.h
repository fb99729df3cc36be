#pragma once
// The 3-D picture of a finished calibration: boards, camera frusta with their
// view images, two bounding boxes with grids and tick labels, and world axes.
// Drawn either world-centred (the board at the origin, one frustum per view)
// or camera-centred (the camera at the origin, one board per view).
//
// A scene is built once (SetFont, then one Create) and drawn any number of
// times between the caller's BeginScene and EndScene. Its buffers live in the
// default pool: a reset device needs a new scene.
#include <opencv2/core/types_c.h>

#include <vector>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "d3d/d3dcamera.h"
#include "d3d/d3dfont.h"
#include "d3d9/d3d9.h"
#include "d3d9/d3dx9.h"
#include "d3d9/d3dx9mesh.h"

namespace D3D {

// Label and frustum colours, by view (mod 8) or by rig side. Entries 6 and 7
// repeat entries 3 and 5.
constexpr int kLabelColorCount = 8;
extern const D3DCOLOR LabelColorTable[kLabelColorCount];

// Which of the six grid faces stay drawn when a corner is nearest the eye
// (the three faces without that corner), and which box edge carries the
// tick labels of each axis.
extern const int BoxFacesForCorner[8][3];
extern const int TickEdgeTable[8][3];

// The screen layout of the box's tick labels (pixels, y down). A label
// already drawn: its rectangle, its axis, and whether it left its centred
// place.
struct PlacedTick {
  RECT rect;
  int axis;
  bool moved;
};
// Whether two labels stand far enough apart to read as two numbers.
bool TickLabelsApart(const RECT& a, const RECT& b);
// Where a label of `axis`, centred on its tick in `centred` and pushed off
// the box in the screen direction (pushX, pushY), is drawn: its centred
// place unless that comes near a label of another axis or one that moved,
// else the nearest clear place found from the push direction round; its
// centred place again when none lies within three of its sizes.
RECT PlaceTickLabel(const RECT& centred, int axis, float pushX, float pushY, const std::vector<PlacedTick>& placed);

// One board in one pose.
class CD3DCalibPlane {
 public:
  CD3DCalibPlane();
  CD3DCalibPlane(IDirect3DDevice9* device, double* R, double* T, int boardW, int boardH, double square, DWORD colour);
  ~CD3DCalibPlane();
  // Copies share the COM objects and hold a reference each.
  CD3DCalibPlane(const CD3DCalibPlane& other);
  CD3DCalibPlane& operator=(const CD3DCalibPlane& other);

  // Releases what the plane held, then builds the mesh, outline and label
  // position. A failure leaves the plane empty (it draws nothing).
  HRESULT CreatePlane(IDirect3DDevice9* device, double* R, double* T, int boardW, int boardH, double square,
                      DWORD colour);
  // The mesh with whatever texture is set, then the outline untextured. The
  // font and matrix are not used.
  void DrawPlane(IDirect3DDevice9* device, CD3DFont* font, D3DXMATRIX* matrix);
  // The four outline corners' extent; zero when the plane is empty.
  void GetBoundingBox(D3DXVECTOR3* min, D3DXVECTOR3* max);
  void SetLabel(const char* label);
  const char* GetLabel() const { return m_szLabel; }
  void SetLabelPosition(float x, float y, float z) { m_vLabelPosition = D3DXVECTOR3(x, y, z); }
  const D3DXVECTOR3* GetLabelPosition() const { return &m_vLabelPosition; }
  DWORD GetLabelColor() const;
  ID3DXMesh* GetMesh() const { return m_pMesh; }
  bool IsComplete() const { return m_pMesh && m_pOutlineVB && m_pOutlineIB; }

 private:
  void Release();

  char m_szLabel[256];
  D3DXVECTOR3 m_vLabelPosition;
  D3DXCOLOR m_Color;
  IDirect3DVertexBuffer9* m_pOutlineVB = nullptr;
  IDirect3DIndexBuffer9* m_pOutlineIB = nullptr;
  ID3DXMesh* m_pMesh = nullptr;
};

// One camera frustum with its view image on the image quad.
class CD3DCalibCamera {
 public:
  CD3DCalibCamera();
  CD3DCalibCamera(IDirect3DDevice9* device, D3DFORMAT format, CCamera* camera, IplImage* image, float scale,
                  DWORD colour);
  ~CD3DCalibCamera();
  CD3DCalibCamera(const CD3DCalibCamera& other);
  CD3DCalibCamera& operator=(const CD3DCalibCamera& other);

  // Releases the frustum's buffers, then builds them; the texture stays.
  HRESULT CreateCamera(IDirect3DDevice9* device, CCamera* camera, float scale, DWORD colour);
  // The image shrunk to 128 x 128 as the quad's texture. An image that is
  // not 8-bit 3-channel leaves the camera untextured (E_FAIL). The float is
  // not used.
  HRESULT CreateTexture(IDirect3DDevice9* device, D3DFORMAT format, IplImage* image, float);
  void SetTexture(IDirect3DTexture9* texture);
  IDirect3DTexture9* GetTexture() const { return m_pTexture; }
  HRESULT SetTextureCoordinates(float* uv);
  void DrawCamera(IDirect3DDevice9* device);
  // The four image corners and the centre; zero when the camera is empty.
  void GetBoundingBox(D3DXVECTOR3* min, D3DXVECTOR3* max);
  void SetLabel(const char* label);
  void SetLabel(int label);
  void SetLabelColor(DWORD colour) { m_LabelColor = colour; }
  const char* GetLabel() const { return m_szLabel; }
  DWORD GetLabelColor() const { return m_LabelColor; }
  void SetLabelPosition(float x, float y, float z) { m_vLabelPosition = D3DXVECTOR3(x, y, z); }
  D3DXVECTOR3 GetLabelPosition() const { return m_vLabelPosition; }
  bool IsComplete() const { return m_pLinesVB && m_pQuadVB && m_pLinesIB; }

 private:
  void ReleaseFrustum();

  int m_nTextureWidth = 0;
  int m_nTextureHeight = 0;
  char m_szLabel[256];
  D3DXVECTOR3 m_vLabelPosition;
  D3DCOLOR m_LabelColor = 0;
  IDirect3DVertexBuffer9* m_pLinesVB = nullptr;
  IDirect3DVertexBuffer9* m_pQuadVB = nullptr;
  IDirect3DIndexBuffer9* m_pLinesIB = nullptr;
  IDirect3DTexture9* m_pTexture = nullptr;
};

// A bounding box drawn as the nine edges away from the eye, a grid on the
// three far faces and tick labels along three edges.
class CD3DCalibSceneBox {
 public:
  // Tick labels: position, then text.
  struct TickLabel {
    D3DXVECTOR3 position;
    char text[100];
  };
  static constexpr int kTicks = 5;
  static constexpr int kGridVertices = 4 * 3 * kTicks;
  // 24 + 18 x 8 indices are written; the buffer keeps its historic 312.
  static constexpr int kBoxIndices = 312;

  CD3DCalibSceneBox();
  CD3DCalibSceneBox(IDirect3DDevice9* device, D3DXVECTOR3 min, D3DXVECTOR3 max);
  ~CD3DCalibSceneBox();
  // The tick-label array is owned: no copies.
  CD3DCalibSceneBox(const CD3DCalibSceneBox&) = delete;
  CD3DCalibSceneBox& operator=(const CD3DCalibSceneBox&) = delete;

  HRESULT CreateBoundingBox(IDirect3DDevice9* device, D3DXVECTOR3 min, D3DXVECTOR3 max);
  // The corner nearest the eye once moved by world; the lower index on a tie.
  int CullPlanes(const D3DXMATRIX* world, const D3DXVECTOR3* eye) const;
  // Skips the tick labels when the tick font is missing.
  void DrawBoundingBox(IDirect3DDevice9* device, CModelViewerCamera* camera);
  D3DXVECTOR3 GetBoxCentre() const { return m_vCentre; }
  float GetBoxRadius() const;
  void GetBoundingBox(D3DXVECTOR3* min, D3DXVECTOR3* max) const;

  const D3DXVECTOR3* GetCorners() const { return m_vCorners; }
  const TickLabel* GetTickLabels() const { return m_pTickLabels; }
  int GetGridStart(int corner) const { return m_nGridStart[corner]; }
  int GetGridCount(int corner) const { return m_nGridCount[corner]; }
  int GetGridVertexCount() const { return m_nGridVertices; }
  IDirect3DIndexBuffer9* GetBoxIndices() const { return m_pBoxIB; }
  IDirect3DIndexBuffer9* GetGridIndices() const { return m_pGridIB; }
  IDirect3DVertexBuffer9* GetGridVertices() const { return m_pGridVB; }
  bool IsComplete() const { return m_pBoxVB && m_pBoxIB && m_pGridVB && m_pGridIB; }
  // Back to the empty box, everything released.
  void Release();

 private:
  HRESULT CreateGrid(IDirect3DDevice9* device, D3DXVECTOR3* corners);

  D3DXVECTOR3 m_vCentre;
  D3DXVECTOR3 m_vMin, m_vMax;
  D3DXVECTOR3 m_vCorners[8];
  IDirect3DVertexBuffer9* m_pBoxVB = nullptr;
  IDirect3DIndexBuffer9* m_pBoxIB = nullptr;
  D3DXCOLOR m_GridColor;
  IDirect3DVertexBuffer9* m_pGridVB = nullptr;
  IDirect3DIndexBuffer9* m_pGridIB = nullptr;
  int m_nGridVertices = 0;
  int m_nGridCount[8]{};
  int m_nGridStart[8]{};
  int m_nTicks[3] = {kTicks, kTicks, kTicks};
  ID3DXFont* m_pTickFont = nullptr;
  TickLabel* m_pTickLabels = nullptr;
};

// Three world axes drawn as screen-space lines with "O", "X", "Y", "Z".
class CD3DCalibWorldAxis {
 public:
  CD3DCalibWorldAxis();
  CD3DCalibWorldAxis(IDirect3DDevice9* device, float length, float width, DWORD colour);
  ~CD3DCalibWorldAxis();
  CD3DCalibWorldAxis(const CD3DCalibWorldAxis& other);
  CD3DCalibWorldAxis& operator=(const CD3DCalibWorldAxis& other);

  HRESULT CreateAxes(IDirect3DDevice9* device, float length, float width, DWORD colour);
  void DrawAxes(IDirect3DDevice9* device, CModelViewerCamera* camera);
  const D3DXVECTOR3* GetSegments() const { return &m_vSegments[0][0]; }
  const D3DXVECTOR3* GetLabelPositions() const { return m_vLabelPositions; }
  DWORD GetLineColor() const { return m_LineColor; }
  void Release();

 private:

  D3DXVECTOR3 m_vLabelPositions[4];
  char m_szLabels[4][10];
  D3DXCOLOR m_LineColor;
  D3DXVECTOR3 m_vSegments[3][2];
  ID3DXLine* m_pLine = nullptr;
  ID3DXFont* m_pFont = nullptr;
};

class CD3DCalibScene {
 public:
  CD3DCalibScene();
  ~CD3DCalibScene();
  // Owns its planes, cameras and boxes: no copies.
  CD3DCalibScene(const CD3DCalibScene&) = delete;
  CD3DCalibScene& operator=(const CD3DCalibScene&) = delete;

  // A mono scene. R holds n row-major rotations (9 doubles each) and T n
  // translations (3 each), the poses of the board in the camera's frame;
  // images[i] is view i's image (the list may be shorter than n). n <= 0 or
  // a null R or T means no views. A second Create replaces the first.
  void CreateScene(IDirect3DDevice9* device, D3DFORMAT format, CCamera camera, double* R, double* T, int n,
                   int boardW, int boardH, double square, std::vector<IplImage*>& images);
  // A stereo scene: R and T are the views' poses relative to the left
  // camera; left and right image i both belong to view i.
  void CreateStereoScene(IDirect3DDevice9* device, D3DFORMAT format, CStereoCamera* rig, double* R, double* T, int n,
                         int boardW, int boardH, double square, std::vector<IplImage*>& leftImages,
                         std::vector<IplImage*>& rightImages);
  void DrawWorldCenteredScene(IDirect3DDevice9* device, CModelViewerCamera* camera);
  void DrawCameraCenteredScene(IDirect3DDevice9* device, CModelViewerCamera* camera);
  // Box 0 bounds the cameras, box 1 the planes; other boxes give 0 and zero.
  float GetSceneRadius(int box) const;
  D3DXVECTOR3 GetSceneCentre(int box) const;
  void SetFont(CD3DFont* font) { m_pLabelFont = font; }

  int IsStereo() const { return m_nStereo; }
  const std::vector<CD3DCalibPlane*>& GetPlanes() const { return m_Planes; }
  const std::vector<CD3DCalibCamera*>& GetCameras() const { return m_Cameras; }
  const CD3DCalibSceneBox& GetBox(int box) const { return m_Boxes[box]; }
  IDirect3DTexture9* GetGridTexture() const { return m_pGridTexture; }

 private:
  void Release();
  // Boxes, grid texture, scene font and axes once the parts exist.
  void Finish(IDirect3DDevice9* device, D3DFORMAT format, int boardW, int boardH, double square, double* R, double* T,
              int n);
  void DrawLabel(CModelViewerCamera* camera, const D3DXVECTOR3& position, DWORD colour, const char* text);

  int m_nStereo = 0;
  CD3DFont* m_pLabelFont = nullptr;
  ID3DXFont* m_pSceneFont = nullptr;
  CD3DCalibWorldAxis m_Axes;
  CD3DCalibSceneBox m_Boxes[2];
  std::vector<CD3DCalibPlane*> m_Planes;
  std::vector<CD3DCalibCamera*> m_Cameras;
  IDirect3DTexture9* m_pGridTexture = nullptr;
};

}  // namespace D3D
