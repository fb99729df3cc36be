#pragma once
// CObjectEditDlg: the modeless "Calibration Object Editor", where the user
// clicks a board's four outer corners in each image of a camera and the
// whole grid is predicted, refined and stored. Window code only: every
// decision is ObjectEditorModel's; this class lays out the children, hands
// the model the mouse, the commands and the typed text, and draws its scene.
#include <memory>

#include "app_core/object_editor_model.h"
#include "gdiplus/gdiplus.h"
#include "quorlmfc/dialog_x.h"
#include "quorlmfc/static_ex.h"
#include "quorlmfc/toolbar_x.h"
#include "win/controls.h"

class CalibrationDataStore;
class CObjectEditDlg;

// The image view (static 1010). Its erase does nothing and its paint runs the
// editor's drawing, so any repaint of the view keeps the image and marks.
class CObjectEditView : public CStatic {
 public:
  void SetEditor(CObjectEditDlg* editor) { m_pEditor = editor; }

 protected:
  BOOL OnEraseBkgnd(CDC*) { return TRUE; }
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  CObjectEditDlg* m_pEditor = nullptr;
};

class CObjectEditDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 129;
  static constexpr UINT kViewId = 1010;
  static constexpr UINT kGridToolbarId = 2123;
  static constexpr UINT kImageToolbarId = 2124;
  static constexpr UINT kEditId = 255;
  static constexpr UINT kInfoId = 255;
  static constexpr UINT kSelectCursor = 148;

  explicit CObjectEditDlg(CWnd* parent = nullptr);
  ~CObjectEditDlg() override;

  void SetDataStore(CalibrationDataStore* store) { m_model.SetDataStore(store); }
  // The camera index (among the mono cameras); the caller sets the image.
  void OpenForCamera(int camera) { m_model.OpenForCamera(camera); }
  void SetImageIndex(int image) { m_model.SetImageIndex(image); }
  // Images were appended to the store for camera (a grab from live video).
  // The model reads the image count and the current image from the store at
  // each use, so only the view and its info line need painting again; the
  // current image and its marks stay.
  void OnCameraImagesAdded(int camera);

  BOOL OnInitDialog() override;
  // Enter in the distortion box: the setting is read, the dialog stays.
  void OnOK() override;

  // Draws the scene on the view (the view's paint, and at once after a
  // magnification, a pan or a drag).
  void DrawView();

  // State for tests.
  const ObjectEditorModel& Model() const { return m_model; }
  CWnd& View() { return m_view; }
  const CRect& ViewRect() const { return m_rcView; }
  CToolbarX& GridToolbar() { return m_gridToolbar; }
  CToolbarX& ImageToolbar() { return m_imageToolbar; }
  CEdit* DistortionEdit() const { return m_pEdit; }
  CStaticEx* InfoLabel() const { return m_pInfo; }

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wp, LPARAM lp) override;
  void OnLButtonDown(UINT flags, CPoint point);
  void OnMouseMove(UINT flags, CPoint point);
  void OnLButtonUp(UINT flags, CPoint point);
  void OnRButtonDown(UINT flags, CPoint point);
  void OnRButtonUp(UINT flags, CPoint point);
  BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
  DECLARE_MESSAGE_MAP()

 private:
  ObjectEditorModel::ViewPoint ToView(CPoint point) const;
  void DrawMarks(const ObjectEditorModel::ClickResult& click);
  void EditGridProperties();
  void ShowDistortionText();

  ObjectEditorModel m_model;
  CObjectEditView m_view;
  CRect m_rcViewClient;
  CRect m_rcView;  // in the dialog's client coordinates
  std::unique_ptr<Gdiplus::Graphics> m_pGraphics;
  CToolbarX m_gridToolbar;
  CToolbarX m_imageToolbar;
  // The edit box and the label share id 255: each is held by pointer.
  CEdit* m_pEdit = nullptr;
  CStaticEx* m_pInfo = nullptr;
  std::unique_ptr<Gdiplus::Font> m_pLabelFont;
  std::unique_ptr<Gdiplus::SolidBrush> m_pLabelBrush;
  std::unique_ptr<Gdiplus::Pen> m_pBoardPen;
  std::unique_ptr<Gdiplus::Pen> m_pPointPen;
};
