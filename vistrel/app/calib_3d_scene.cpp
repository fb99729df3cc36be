#include "calib_3d_scene.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "app_core/scoped_lock.h"
#include "win/dialog.h"

namespace {

// 345 x 262 dialog units with one static (the view) that OnInitDialog lays
// out beside the toolbar.
win::DialogTemplate Calib3DSceneTemplate() {
  win::DialogTemplate t;
  t.id = CCalib3DScene::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 345;
  t.cy = 262;
  t.caption = "Extrinsic Calibration Results 3D View";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {{"STATIC", CCalib3DScene::kViewId, "", 40, 25, 298, 230, SS_LEFT | WS_VISIBLE}};
  return t;
}

// The template comes with the class: whoever links the dialog has it.
const bool g_registered = [] {
  win::RegisterDialogTemplate(Calib3DSceneTemplate());
  return true;
}();

constexpr COLORREF kWhite = RGB(255, 255, 255);

bool IsMouseMessage(UINT message) {
  return (message >= WM_MOUSEMOVE && message <= WM_MOUSEWHEEL) || message == WM_CAPTURECHANGED;
}

}  // namespace

// ---------------------------------------------------------------- view

BEGIN_MESSAGE_MAP(CCalib3DView, CStatic)
ON_WM_ERASEBKGND()
ON_WM_PAINT()
END_MESSAGE_MAP()

BOOL CCalib3DView::OnEraseBkgnd(CDC* dc) {
  if (m_bHasDevice || !dc) return TRUE;
  CRect client;
  GetClientRect(&client);
  dc->FillSolidRect(&client, kWhite);
  return TRUE;
}

void CCalib3DView::OnPaint() {
  CPaintDC dc(this);
  if (m_bHasDevice) return;
  CRect client;
  GetClientRect(&client);
  dc.FillSolidRect(&client, kWhite);
}

// ---------------------------------------------------------------- dialog

BEGIN_MESSAGE_MAP(CCalib3DScene, CDialogX)
ON_WM_PAINT()
END_MESSAGE_MAP()

CCalib3DScene::CCalib3DScene(CWnd* parent)
    : CDialogX(IDD, parent, "Extrinsic Calibration Results 3D View", 1, nullptr) {
  InitializeCriticalSection(&m_RenderLock);
  D3DXMatrixIdentity(&m_matWorldViewProjection);
}

CCalib3DScene::~CCalib3DScene() {
  m_nViewMode = -1;
  // The window goes first: no message can reach a half-destroyed dialog.
  if (CWnd::m_hWnd) DestroyWindow();
  {
    CScopedLock lock(&m_RenderLock);
    for (D3D::CD3DCalibScene* scene : m_Scenes) delete scene;
    m_Scenes.clear();
    m_Keys.clear();
    m_nSelected = -1;
  }
  DeleteLock(&m_RenderLock);
}

void CCalib3DScene::DoDataExchange(CDataExchange* dx) {
  CDialogX::DoDataExchange(dx);
  DDX_Control(dx, kViewId, m_View);
}

BOOL CCalib3DScene::OnInitDialog() {
  CDialogX::OnInitDialog();
  m_ClearColor = 0xFFFFFFFF;
  CRect client;
  GetClientRect(&client);

  m_Toolbar.Create("Toolbar Windows", WS_CHILD | WS_VISIBLE, CRect(10, 40, 58, client.Height() - 10), this,
                   kToolbarId);
  m_Toolbar.SetParent(this);
  m_Toolbar.m_bVertical = true;
  m_Toolbar.Initialize(8, 2);
  m_Toolbar.AddButton(GetAppPath() + "\\Graphics\\button_3d_move.png", "New", kCommandNew);
  m_Toolbar.AddButton(GetAppPath() + "\\Graphics\\button_3d_view.png", "Open", kCommandOpen);

  if (!m_View.m_hWnd) {
    CDataExchange dx(this, FALSE);
    DDX_Control(&dx, kViewId, m_View);
  }
  const int width = client.Width() - 70, height = client.Height() - 50;
  m_View.MoveWindow(kViewLeft, kViewTop, width, height);
  m_View.GetClientRect(&m_rcViewClient);
  m_rcView = CRect(kViewLeft, kViewTop, kViewLeft + m_rcViewClient.Width(), kViewTop + m_rcViewClient.Height());
  SetSceneDimensions(m_rcViewClient.Width(), m_rcViewClient.Height());
  Init(m_View.GetSafeHwnd());
  m_nSelected = -1;
  return TRUE;
}

HRESULT CCalib3DScene::Init(HWND window) {
  const HRESULT hr = D3D::CD3DBaseScene::Init(window);
  ConfigureCamera();
  // The base keeps the device when only the font failed; labels are then
  // skipped.
  m_bDeviceReady = m_pd3dDevice != nullptr;
  m_View.SetHasDevice(m_bDeviceReady);
  if (!m_bDeviceReady) ReportNoDevice();
  return hr;
}

void CCalib3DScene::ConfigureCamera() {
  const float width = float(std::max(1, int(m_rcViewClient.Width())));
  const float height = float(std::max(1, int(m_rcViewClient.Height())));
  D3DXVECTOR3 eye(100, 100, -100), at(0, 0, 30);
  m_Camera.SetViewParams(&eye, &at);
  m_Camera.SetProjParams(D3DX_PI / 4, width / height, 0.1f, 1000.0f);
  m_Camera.SetWindow(int(width), int(height), 0.9f);
  // Positions reach the camera already relative to the view: the drag area
  // is the whole view.
  RECT drag{0, 0, LONG(width), LONG(height)};
  m_Camera.SetDragRect(drag);
  m_Camera.SetAttachCameraToModel(true);
  m_Camera.SetEnablePositionMovement(true);
  m_Camera.SetModelCenter(D3DXVECTOR3(0, 0, 30));
  m_Camera.SetRadius(500.0f, 1.0f, FLT_MAX);
}

void CCalib3DScene::ReportNoDevice() {
  if (m_bReportedNoDevice) return;
  m_bReportedNoDevice = true;
  std::fprintf(stderr, "Extrinsic Calibration Results 3D View: no Direct3D device, nothing is drawn\n");
}

int CCalib3DScene::IndexOfKey(int key) const {
  for (std::size_t i = 0; i < m_Keys.size(); ++i)
    if (m_Keys[i] == key) return int(i);
  return -1;
}

void CCalib3DScene::AppendScene(int key, D3D::CD3DCalibScene* scene) {
  {
    CScopedLock lock(&m_RenderLock);
    m_Keys.push_back(key);
    m_Scenes.push_back(scene);
  }
  SelectScene(scene);
}

void CCalib3DScene::AddScene(int key, CCamera camera, double* R, double* T, int views, int boardW, int boardH,
                             double square, std::vector<IplImage*>& images) {
  if (!m_pd3dDevice) return ReportNoDevice();
  RemoveScene(key);
  auto* scene = new D3D::CD3DCalibScene();
  scene->CreateScene(m_pd3dDevice, m_d3dDisplayMode.Format, camera, R, T, views, boardW, boardH, square, images);
  scene->SetFont(D3D::CD3DBaseScene::m_pFont);
  AppendScene(key, scene);
}

void CCalib3DScene::AddStereoScene(int key, CStereoCamera rig, double* R, double* T, int views, int boardW,
                                   int boardH, double square, std::vector<IplImage*>& leftImages,
                                   std::vector<IplImage*>& rightImages) {
  if (!m_pd3dDevice) return ReportNoDevice();
  RemoveScene(key);
  auto* scene = new D3D::CD3DCalibScene();
  scene->CreateStereoScene(m_pd3dDevice, m_d3dDisplayMode.Format, &rig, R, T, views, boardW, boardH, square,
                           leftImages, rightImages);
  scene->SetFont(D3D::CD3DBaseScene::m_pFont);
  AppendScene(key, scene);
}

void CCalib3DScene::RemoveScene(int key) {
  const int index = IndexOfKey(key);
  if (index < 0) return;
  CScopedLock lock(&m_RenderLock);
  delete m_Scenes[std::size_t(index)];
  m_Scenes.erase(m_Scenes.begin() + index);
  m_Keys.erase(m_Keys.begin() + index);
  // The selection follows its scene: cleared with it, or one down.
  if (m_nSelected == index) m_nSelected = -1;
  else if (m_nSelected > index) --m_nSelected;
}

int CCalib3DScene::SelectScene(D3D::CD3DCalibScene* scene) {
  for (std::size_t i = 0; i < m_Scenes.size(); ++i)
    if (m_Scenes[i] == scene) {
      m_nSelected = int(i);
      ResetView();
      return m_nSelected;
    }
  return -1;
}

int CCalib3DScene::GetShownKey() const { return m_nSelected >= 0 ? m_Keys[std::size_t(m_nSelected)] : -1; }

void CCalib3DScene::ShowResults() {
  if (GetSafeHwnd() != nullptr) ShowWindow(SW_SHOW);
}

void CCalib3DScene::OnEntryInserted(int entry) {
  for (int& key : m_Keys)
    if (key >= entry) ++key;
}

void CCalib3DScene::OnEntryRemoved(int entry) {
  RemoveScene(entry);
  for (int& key : m_Keys)
    if (key > entry) --key;
}

void CCalib3DScene::ResetView() {
  if (m_nViewMode == 0 || m_nViewMode == 1) {
    m_Camera.Reset();
    RECT drag{0, 0, LONG(m_rcViewClient.Width()), LONG(m_rcViewClient.Height())};
    m_Camera.SetDragRect(drag);
    m_Camera.SetAttachCameraToModel(true);
    m_Camera.SetEnablePositionMovement(true);
    // Mode 1 frames the cameras (box 0), mode 0 the boards (box 1).
    const int box = m_nViewMode == 1 ? 0 : 1;
    D3DXVECTOR3 eye = m_nViewMode == 1 ? D3DXVECTOR3(100, -100, 100) : D3DXVECTOR3(100, 100, -100);
    D3DXVECTOR3 at(0, 0, 0);
    const D3D::CD3DCalibScene* scene = m_nSelected >= 0 ? m_Scenes[std::size_t(m_nSelected)] : nullptr;
    float radius = scene ? scene->GetSceneRadius(box) : 0.0f;
    // An empty box (no views, a board that failed) has radius 0: near and far
    // would meet and the projection turn NaN.
    if (!(radius > 0.0f) || !std::isfinite(radius)) radius = 1.0f;
    m_Camera.SetViewParams(&eye, &at);
    m_Camera.SetProjParams(D3DX_PI / 4, float(m_nSceneWidth) / float(std::max(1, m_nSceneHeight)), radius / 10.0f,
                           radius * 10.0f);
    m_Camera.SetModelCenter(scene ? scene->GetSceneCentre(box) : D3DXVECTOR3(0, 0, 0));
    m_Camera.SetRadius(4.0f * radius, 1.0f, FLT_MAX);
  }
  m_Camera.FrameMove(1.0f);
  Render();
}

void CCalib3DScene::Render() {
  if (!m_pd3dDevice) return ReportNoDevice();
  CScopedLock lock(&m_RenderLock);
  IDirect3DDevice9* d = m_pd3dDevice;
  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, m_ClearColor, 1.0f, 0);
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
  d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
  if (m_nViewMode != 0 && m_nViewMode != 1) return;
  d->BeginScene();
  d->SetTransform(D3DTS_WORLD, m_Camera.GetWorldMatrix());
  d->SetTransform(D3DTS_VIEW, m_Camera.GetViewMatrix());
  d->SetTransform(D3DTS_PROJECTION, m_Camera.GetProjMatrix());
  m_matWorldViewProjection = *m_Camera.GetWorldMatrix() * *m_Camera.GetViewMatrix() * *m_Camera.GetProjMatrix();
  if (m_bDeviceReady && m_nSelected >= 0 && m_nSelected < int(m_Scenes.size())) {
    D3D::CD3DCalibScene* scene = m_Scenes[std::size_t(m_nSelected)];
    if (m_nViewMode == 0) scene->DrawCameraCenteredScene(d, &m_Camera);
    else scene->DrawWorldCenteredScene(d, &m_Camera);
  }
  d->EndScene();
  d->Present(nullptr, nullptr, nullptr, nullptr);
}

BOOL CCalib3DScene::OnCommand(WPARAM wp, LPARAM lp) {
  switch (LOWORD(wp)) {
    case kCommandOpen:
      m_nViewMode = m_nViewMode == 0 ? 1 : 0;
      ResetView();
      return TRUE;
    case kCommandNew:
    case kCommandUnused8:
    case kCommandUnused9:
      return TRUE;
    case kCommandFlag:
      m_bUnreadFlag = !m_bUnreadFlag;
      return TRUE;
    default:
      return CDialogX::OnCommand(wp, lp);
  }
}

LRESULT CCalib3DScene::WindowProc(UINT message, WPARAM wp, LPARAM lp) {
  if (IsMouseMessage(message)) {
    // Client positions move into the view; the wheel's screen position and
    // WM_CAPTURECHANGED's window handle pass unchanged.
    LPARAM moved = lp;
    if (message != WM_MOUSEWHEEL && message != WM_CAPTURECHANGED)
      moved = MAKELPARAM(WORD(GET_X_LPARAM(lp) - m_rcView.left), WORD(GET_Y_LPARAM(lp) - m_rcView.top));
    m_Camera.HandleMessages(CWnd::m_hWnd, message, wp, moved);
  }
  const LRESULT result = CDialogX::WindowProc(message, wp, lp);
  bool render = false;
  switch (message) {
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MOUSEWHEEL:
      render = true;
      break;
    case WM_MOUSEMOVE:
      render = (wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) != 0;
      break;
    default:
      break;
  }
  if (render && CWnd::m_hWnd) {
    m_Camera.FrameMove(1.0f);
    Render();
  }
  return result;
}

void CCalib3DScene::OnPaint() {
  CPaintDC dc(this);
  m_Camera.FrameMove(1.0f);
  Render();
}
