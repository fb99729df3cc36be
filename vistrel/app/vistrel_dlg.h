#pragma once
// CVistrelDlg: the workbench's one main window, "Vistrel Toolkit". It owns
// the calibration data store, the main toolbar (Open, Save, Connect to video
// device, Project options), the sources view and the data view with their
// titles, the modeless object editor and 3D results dialog, and the options
// dialog. Clicks on the two views come here (their statics let presses pass
// to the parent) and are handed to the view under the point; every key-down
// reaching the window is taken by the key handler (W screenshots, P the
// synchronised player, O the relative orientation calculator, R moves the
// data view).
#include <memory>
#include <string>

#include "app_core/scoped_lock.h"
#include "application_options_dlg.h"
#include "calib_3d_scene.h"
#include "calibration/calibration_data_store.h"
#include "object_edit_dlg.h"
#include "quorlmfc/dialog_x.h"
#include "quorlmfc/static_ex.h"
#include "quorlmfc/toolbar_x.h"
#include "static_data_view.h"
#include "static_sources_view.h"

class CVistrelDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 102;
  static constexpr UINT kToolbarId = 1024;
  static constexpr UINT kOpen = 1005;
  static constexpr UINT kSave = 1017;
  static constexpr UINT kConnect = 1006;
  static constexpr UINT kOptions = 1008;
  // Reaches the options dialog too, though no control carries it.
  static constexpr UINT kOptionsCommand = 1015;
  static constexpr UINT kUnused1 = 1019;
  static constexpr UINT kUnused2 = 1023;
  static constexpr UINT kSourcesTitleId = 1100;
  static constexpr UINT kDataTitleId = 1101;
  static constexpr UINT kSourcesViewId = 1102;
  static constexpr UINT kDataViewId = 1103;

  explicit CVistrelDlg(CWnd* parent = nullptr);
  ~CVistrelDlg() override;

  // Where "\Graphics\..." and "default_calib_plane.txt" are looked up: the
  // executable's folder unless set before the window is made.
  void SetProgramFolder(const std::string& folder) { m_strProgramFolder = folder.c_str(); }

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;

  // State for tests.
  CalibrationDataStore& Store() { return m_Store; }
  CStaticSourcesView& SourcesView() { return m_SourcesView; }
  CStaticDataView& DataView() { return m_DataView; }
  CObjectEditDlg& Editor() { return m_ObjectEditor; }
  CCalib3DScene& Scene3D() { return m_Calib3D; }
  CApplicationOptionsDlg& Options() { return m_Options; }
  CToolbarX& Toolbar() { return m_Toolbar; }
  const CStaticEx& SourcesTitle() const { return m_SourcesTitle; }
  const CStaticEx& DataTitle() const { return m_DataTitle; }
  const CRect& SourcesViewRect() const { return m_rcSourcesView; }
  const CRect& DataViewRect() const { return m_rcDataView; }
  const CString& ProgramFolder() const { return m_strProgramFolder; }
  HICON GetIcon() const { return m_hIcon; }

 protected:
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);
  void OnKeyDown(UINT key, UINT repeat, UINT flags);
  void OnOpen();
  void OnSave();
  void OnConnect();
  void OnOptions();
  void OnUnused() {}
  DECLARE_MESSAGE_MAP()

 private:
  void LayoutViews(const CRect& client);
  void LoadIcon();
  void SaveScreenshots();
  void MoveDataView(const CRect& rect);
  // A new source's camera: a column, then the store's camera.
  void AddSourceCamera();

  // First, so that it outlives every window that points to it (the views,
  // the editor and their panels).
  CalibrationDataStore m_Store;
  CToolbarX m_Toolbar;
  CObjectEditDlg m_ObjectEditor;
  CCalib3DScene m_Calib3D;
  CApplicationOptionsDlg m_Options;
  CString m_strProgramFolder;
  bool m_bRouteDoubleClicks = false;
  CStaticEx m_SourcesTitle;
  CStaticEx m_DataTitle;
  CStaticSourcesView m_SourcesView;
  CStaticDataView m_DataView;
  HICON m_hIcon = nullptr;

  // Margins around and between the window's parts, in pixels.
  int m_nMarginLeft = 10;
  int m_nMarginTop = 10;
  int m_nMarginRight = 10;
  int m_nMarginBottom = 10;
  int m_nSpacing = 10;
  int m_nTitleHeight = 20;
  CRect m_rcToolbar;
  CRect m_rcSourcesTitle;
  CRect m_rcSourcesView;
  CRect m_rcDataTitle;
  CRect m_rcDataView;
};
