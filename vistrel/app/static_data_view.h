#pragma once
// CStaticDataView: the main dialog's "Data View". One column per store
// entry: a panel in the strip on the left (title and result text) and an
// image list to the right of the separator, laid out from the entry index.
// Its toolbar runs the calibration commands. Columns, the selection and the
// 3D dialog's scene keys all use store entry indices; the image lists and
// the object editor get camera indices.
//
// Presses: the view is a static without SS_NOTIFY, so a press on it (or on
// a panel or an image list inside it) goes to the main dialog, which hands
// it back through OnLButtonDown / OnLButtonDblClk in view coordinates. The
// view passes a press right of the strip on to the column's image list, so
// each press reaches an image list exactly once.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app_core/panel_strip_layout.h"
#include "data_view_columns.h"
#include "gdiplus/gdiplus.h"
#include "quorlmfc/toolbar_x.h"
#include "win/controls.h"

class CalibrationDataStore;
class CCalibrationCommands;
class CImageListControl;
class CObjectEditDlg;
class CSourceDetailsPanel;
class ICalibSceneTarget;

class CStaticDataView : public CStatic, public IDataViewColumns, public IDataViewPanels {
 public:
  static const CRuntimeClass classCStaticDataView;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCStaticDataView; }

  static constexpr UINT kToolbarId = 1024;
  static constexpr UINT kInsertCamera = 1046;
  static constexpr UINT kLoadCameraParameters = 1075;
  static constexpr UINT kCalibrate = 1039;
  static constexpr UINT kCalibrateStereo = 1042;
  static constexpr UINT kShow3DView = 1074;
  // Has no control; its handler does nothing.
  static constexpr UINT kIdleCommand = 1066;

  static constexpr std::uint32_t kBackground = 0xFF4B4B4B;
  static constexpr std::uint32_t kSeparatorColour = 0xFF969696;
  static constexpr std::uint32_t kSelectionColour = 0xFFFFBF00;
  static constexpr std::uint32_t kPanelColour = 0xFF3C3C3C;
  static constexpr int kSeparatorX = 215;
  static constexpr int kButtonSize = 32;

  CStaticDataView();
  ~CStaticDataView() override;

  // Before Initialize. The three are the main dialog's and outlive the view.
  void SetDataStore(CalibrationDataStore* store);
  void SetObjectEditor(CObjectEditDlg* editor) { m_pEditor = editor; }
  void SetSceneTarget(ICalibSceneTarget* scenes);
  // Where "\Graphics\..." is looked up; the executable's folder unless set.
  void SetProgramFolder(const std::string& folder) { m_strProgramFolder = folder; }

  // Once the window exists: the back buffer at the client size (background
  // and separator) and the toolbar at the bottom of the panel strip.
  void Initialize();

  // IDataViewColumns.
  void AddCameraColumn() override;
  void BuildStereoRigPanel(int entryA, int entryB) override;
  void InsertCameraColumn(int entry) override;
  void RemoveCameraColumn(int entry) override;
  void RefreshPanels(int what) override;
  // IDataViewPanels.
  void SetPanelText(int entry, const char* title, const char* text) override;

  // Clears an entry's images in the store (a rig: both cameras') and drops
  // the scenes that showed them.
  void ClearEntryImages(int entry) override;

  // Presses in view coordinates (the main dialog's routing, or messages sent
  // to the view itself).
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);

  // The toolbar's commands.
  void InsertNewCamera();
  void LoadCameraParameters();
  void Calibrate();
  void CalibrateStereo();
  void Show3DView();

  // State for the main dialog and tests.
  int GetSelectedEntry() const { return m_layout.Selected(); }
  int GetColumnCount() const { return static_cast<int>(m_columns.size()); }
  // Empty rectangles out of range; view coordinates.
  CRect GetPanelRect(int entry) const;
  CRect GetColumnRect(int entry) const;
  CSourceDetailsPanel* GetPanel(int entry) const;
  CImageListControl* GetImageList(int entry) const;
  CToolbarX& Toolbar() { return m_toolbar; }
  const std::uint32_t* BackBuffer() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
  int BufferWidth() const { return m_nWidth; }
  int BufferHeight() const { return m_nHeight; }

 protected:
  BOOL OnCommand(WPARAM wp, LPARAM lp) override;
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  struct Column;

  void FreeBuffer();
  // Background, separator and the selected panel's frame.
  void RepaintBackBuffer();
  // A column's two windows for entry, not yet in the list.
  std::unique_ptr<Column> MakeColumn(int entry, const std::string& title, const std::string& text);
  // Panels and columns to their places, image lists to their cameras, titles
  // from the store.
  void Relayout(bool renumber);
  void PointImageList(int entry);
  int ColumnAt(CPoint point) const;
  CCalibrationCommands* Commands();

  CalibrationDataStore* m_pStore = nullptr;
  CObjectEditDlg* m_pEditor = nullptr;
  ICalibSceneTarget* m_pScenes = nullptr;
  std::string m_strProgramFolder;

  PanelStripLayout m_layout;
  ColumnControlIds m_ids;
  std::vector<std::unique_ptr<Column>> m_columns;

  std::vector<std::uint32_t> m_pixels;  // rows of m_nWidth pixels, 0xAARRGGBB
  int m_nWidth = 0;
  int m_nHeight = 0;
  std::unique_ptr<Gdiplus::Bitmap> m_pBitmap;
  std::unique_ptr<Gdiplus::Graphics> m_pGraphics;
  CToolbarX m_toolbar{0x4B4B4B};

  std::unique_ptr<ICalibSceneTarget> m_pNoScenes;
  std::unique_ptr<CCalibrationCommands> m_pCommands;
};
