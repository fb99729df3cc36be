#pragma once
// CCalib3DScene: the modeless dialog "Extrinsic Calibration Results 3D View".
// It keeps one calibration scene per calibrated data-view entry (its key),
// shows the selected one camera-centred (view mode 0) or world-centred (1),
// and turns the mouse over its view into a model-viewer camera.
//
// The data view's contract:
// - AddScene(key, camera, R, T, n, ...): R and T hold the n poses of the
//   board in the camera's frame (9 and 3 doubles each); images[i] is view
//   i's image and may be missing past the end of the list. n <= 0 or a null
//   R or T shows the camera and the board at the origin only. The scene
//   replaces any scene of that key and is selected.
// - AddStereoScene: the same with the rig; R and T are relative to the left
//   camera, and left and right image i both belong to view i.
// - Entry keys follow the data view's entries: OnEntryInserted(e) moves
//   keys >= e up by one, OnEntryRemoved(e) deletes e's scene and moves keys
//   above it down; the selection follows its scene.
//
// Without a device (no 3D back end) scenes are not built or drawn, the view
// stays white and the camera still follows the mouse.
#include <opencv2/core/types_c.h>

#include <vector>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "d3d/d3dbasescene.h"
#include "d3d/d3dcalibscene.h"
#include "calib_scene_target.h"
#include "d3d/d3dcamera.h"
#include "quorlmfc/dialog_x.h"
#include "quorlmfc/toolbar_x.h"
#include "win/sync.h"

// The drawing surface (control 1027). While a device exists the presented
// frame is left alone by erasing and painting; without one it is white.
class CCalib3DView : public CStatic {
 public:
  void SetHasDevice(bool hasDevice) { m_bHasDevice = hasDevice; }

 protected:
  BOOL OnEraseBkgnd(CDC* dc);
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  bool m_bHasDevice = false;
};

class CCalib3DScene : public CDialogX, public D3D::CD3DBaseScene, public ICalibSceneTarget {
 public:
  static constexpr UINT IDD = 147;
  static constexpr UINT kViewId = 1027;
  static constexpr UINT kToolbarId = 2124;
  // Toolbar and menu commands.
  static constexpr UINT kCommandNew = 5;
  static constexpr UINT kCommandOpen = 7;
  static constexpr UINT kCommandUnused8 = 8;
  static constexpr UINT kCommandUnused9 = 9;
  static constexpr UINT kCommandFlag = 10;
  // Where the view starts in the dialog's client area.
  static constexpr int kViewLeft = 60;
  static constexpr int kViewTop = 40;

  explicit CCalib3DScene(CWnd* parent = nullptr);
  ~CCalib3DScene() override;

  // The device for the view's window, then the view camera.
  HRESULT Init(HWND window) override;

  void AddScene(int key, CCamera camera, double* R, double* T, int views, int boardW, int boardH, double square,
                std::vector<IplImage*>& images) override;
  void AddStereoScene(int key, CStereoCamera rig, double* R, double* T, int views, int boardW, int boardH,
                      double square, std::vector<IplImage*>& leftImages,
                      std::vector<IplImage*>& rightImages) override;
  void RemoveScene(int key) override;
  // Selects the scene and resets the view; -1 (selection unchanged) when the
  // scene is not in the list.
  int SelectScene(D3D::CD3DCalibScene* scene);
  void Render();

  int GetShownKey() const override;
  void OnEntryInserted(int entry) override;
  void OnEntryRemoved(int entry) override;
  void ShowResults() override;

  // State for tests and the main dialog.
  int GetViewMode() const { return m_nViewMode; }
  int GetSelectedIndex() const { return m_nSelected; }
  int GetSceneCount() const { return int(m_Scenes.size()); }
  int GetKey(int index) const { return m_Keys[std::size_t(index)]; }
  D3D::CD3DCalibScene* GetScene(int index) const { return m_Scenes[std::size_t(index)]; }
  D3D::CModelViewerCamera& GetViewCamera() { return m_Camera; }
  CCalib3DView& GetView() { return m_View; }
  const CRect& GetViewRect() const { return m_rcView; }
  CToolbarX& GetToolbar() { return m_Toolbar; }
  bool IsDeviceReady() const { return m_bDeviceReady; }
  bool GetUnreadFlag() const { return m_bUnreadFlag; }
  const D3DXMATRIX& GetLastTransform() const { return m_matWorldViewProjection; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wp, LPARAM lp) override;
  LRESULT WindowProc(UINT message, WPARAM wp, LPARAM lp) override;
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  void ResetView();
  void ConfigureCamera();
  void AppendScene(int key, D3D::CD3DCalibScene* scene);
  int IndexOfKey(int key) const;
  void ReportNoDevice();

  D3D::CModelViewerCamera m_Camera;
  CCalib3DView m_View;
  CRect m_rcViewClient;
  // The view's rectangle in the dialog's client coordinates: its top-left
  // turns dialog mouse positions into view positions.
  CRect m_rcView;
  CRITICAL_SECTION m_RenderLock{};
  std::vector<int> m_Keys;
  std::vector<D3D::CD3DCalibScene*> m_Scenes;
  int m_nSelected = -1;
  int m_nViewMode = 0;
  D3DCOLOR m_ClearColor = 0xFFFFFFFF;
  bool m_bDeviceReady = false;
  bool m_bReportedNoDevice = false;
  bool m_bUnreadFlag = false;
  CToolbarX m_Toolbar;
  D3DXMATRIX m_matWorldViewProjection;
};
