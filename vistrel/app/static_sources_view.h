#pragma once
// CStaticSourcesView: the main dialog's "Source View": a strip of source
// details panels on the left and, right of the separator, one video panel
// per connected source (a capture device or a video file). Its toolbar sets
// up how a source's frames carry camera images and removes a source.
//
// The view owns no cameras: the store holds them and the data view shows
// them. A source's stream configuration names its cameras by camera index;
// every change the view makes to the store it reports to the data view
// column by column, so the data view never has to guess.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_core/panel_strip_layout.h"
#include "app_core/source_cameras.h"
#include "app_core/source_panel_places.h"
#include "gdi_back_buffer.h"
#include "gdiplus/gdiplus.h"
#include "quorlmfc/toolbar_x.h"
#include "source_details_panel.h"
#include "source_setup_dlg.h"
#include "video_capture_control.h"
#include "win/controls.h"

class CalibrationDataStore;
class IDataViewColumns;

class CStaticSourcesView : public CStatic {
 public:
  static const CRuntimeClass classCStaticSourcesView;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCStaticSourcesView; }

  static constexpr UINT kToolbarId = 1024;
  static constexpr UINT kSetupStreams = 1041;
  static constexpr UINT kRemoveSource = 1040;
  static constexpr std::uint32_t kBackground = 0xFF4B4B4B;
  static constexpr std::uint32_t kSeparator = 0xFF969696;
  static constexpr std::uint32_t kHighlight = 0xFFFFBF00;
  static constexpr std::uint32_t kPanelColour = 0xFF3C3C3C;
  static constexpr int kSeparatorX = 215;
  // Presses left of this reach the details strip; the rest is video.
  static constexpr int kVideoAreaLeft = SourcePanelPlaces::kVideoLeft;

  CStaticSourcesView();
  ~CStaticSourcesView() override;

  // Set before Create: the program folder (button images of the view, its
  // video panels and dialogs).
  void SetApplicationFolder(const char* folder) { m_strAppFolder = folder ? folder : ""; }
  void SetDataStore(CalibrationDataStore* store) { m_pStore = store; }
  // The data view: its columns follow every camera the view inserts or
  // removes; its window is repainted after a grab (may be null).
  void SetDataView(IDataViewColumns* columns, CWnd* window = nullptr) {
    m_pColumns = columns;
    m_pDataViewWindow = window;
  }
  // The calibration object editor, told of every grab (may be null). Set
  // before the first source is added.
  void SetObjectEditor(CObjectEditDlg* editor) { m_pEditor = editor; }

  // The window itself, as every static makes it.
  using CStatic::Create;
  // Once the window exists: back buffer, separator and toolbar.
  void Create();
  // A source whose stream 0 will be the camera the caller appends next (the
  // store's mono camera count now). 0 on success; E_FAIL when the source
  // cannot be opened: its panel is gone and the user was told, and the
  // caller must add no column and no camera. Devices count from 1.
  HRESULT AddDeviceSource(int deviceIndex, const char* name = nullptr);
  HRESULT AddFileSource(const char* path, const char* name);

  // A press at a point of the view's client area. The main dialog routes
  // its presses here; a view created with SS_NOTIFY gets them itself.
  void PressAt(CPoint point);

  // The commands (also reached through the toolbar).
  void SetupDataStreams();
  void RemoveSource();

  // A camera inserted into the store by hand (not by this view): every
  // source's camera at or above it moves up by one.
  void OnCameraInserted(int camera);

  // State for the main dialog and tests.
  int SourceCount() const { return static_cast<int>(m_sources.size()); }
  int GetSelected() const { return m_places.Selected(); }
  CVideoCaptureControl* VideoPanel(int source) const;
  CSourceDetailsPanel* DetailsPanel(int source) const;
  bool IsLive(int source) const { return InRange(source) && m_sources[source].live; }
  const SourcePanelPlaces& Places() const { return m_places; }
  CToolbarX& Toolbar() { return m_toolbar; }
  CSourceSetupDlg& SetupDialog() { return m_setupDlg; }
  const std::uint32_t* BackBuffer() const { return m_back.Pixels(); }
  int BufferWidth() const { return m_back.Width(); }
  int BufferHeight() const { return m_back.Height(); }

 protected:
  void OnPaint();
  void OnLButtonDown(UINT flags, CPoint point);
  DECLARE_MESSAGE_MAP()

 private:
  struct Source {
    std::unique_ptr<CVideoCaptureControl> video;
    std::unique_ptr<CSourceDetailsPanel> details;
    bool live = false;
    std::string name;
  };

  bool InRange(int source) const { return source >= 0 && source < SourceCount(); }
  // Opens through `open`; on failure the panel is destroyed and the user
  // told "Cannot open: <what>!".
  HRESULT AddSource(bool live, const std::string& title, const std::string& what,
                    const std::function<HRESULT(CVideoCaptureControl&)>& open);
  // Moves every source but `except` by map (old camera index in, new out),
  // camera by camera.
  void MoveSourceCameras(int except, const std::function<int(int)>& map);
  // Follows the store's entry changes with the data view's columns.
  void FollowEntryChanges(const std::vector<EntryChange>& changes);
  // Details panel windows to their places and texts, then the back buffer.
  void LayOutDetails();
  void RefreshDetailsText(int source);
  void DrawBackBuffer();
  int ClientHeight();

  std::string m_strAppFolder = "C:\\";
  CalibrationDataStore* m_pStore = nullptr;
  IDataViewColumns* m_pColumns = nullptr;
  CWnd* m_pDataViewWindow = nullptr;
  CObjectEditDlg* m_pEditor = nullptr;

  std::vector<Source> m_sources;  // in order of creation
  SourcePanelPlaces m_places;     // one place pair per source, same order
  // Video panels take ids from 100123 and details panels from 100190, each
  // counter moving on and never handing out a live or a sibling's id.
  ColumnControlIds m_ids;

  GdiBackBuffer m_back;
  CToolbarX m_toolbar{0x4B4B4B};
  CSourceSetupDlg m_setupDlg;
};
