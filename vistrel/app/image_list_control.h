#pragma once
// CImageListControl: the data view's panel of a camera's calibration images
// (or a stereo pair's, side by side) as 40 x 40 thumbnails. A click selects
// one, its toolbar adds image files and disables or re-enables the selected
// image. It paints from a 32-bit back buffer drawn with GDI+; the images,
// thumbnails and enabled flags are the data store's.
#include <cstdint>
#include <memory>
#include <vector>

#include "gdiplus/gdiplus.h"
#include "quorlmfc/toolbar_x.h"
#include "win/controls.h"

class CalibrationDataStore;

class CImageListControl : public CStatic {
 public:
  static constexpr UINT kToolbarId = 1024;
  static constexpr UINT kAddImagesId = 1044;
  static constexpr UINT kRemoveImageId = 1043;
  static constexpr UINT kDisableId = 1045;
  static constexpr std::uint32_t kBackground = 0xFF414141;
  static constexpr std::uint32_t kDisabledTint = 0x96FFBF64;
  static constexpr std::uint32_t kSelectionColour = 0xFFFFBF00;

  CImageListControl();
  ~CImageListControl() override;

  void SetDataStore(CalibrationDataStore* store) { m_pStore = store; }
  // A camera index (among the mono cameras); in stereo mode the pair is this
  // camera and the next.
  void SetCurrentCamera(int camera) {
    m_nCamera = camera;
    m_nRightCamera = -1;
  }
  void SetStereoMode(bool stereo) { m_bStereo = stereo; }
  // Stereo mode on any two cameras: a rig's cameras need not be neighbours
  // (a camera inserted between them separates them). SetCurrentCamera
  // afterwards goes back to pairing with the next camera.
  void SetStereoCameras(int left, int right) {
    m_nCamera = left;
    m_nRightCamera = right;
    m_bStereo = true;
  }
  // The right camera of stereo mode.
  int GetRightCamera() const { return m_nRightCamera >= 0 ? m_nRightCamera : m_nCamera + 1; }
  void SetAppPath(CString folder) { m_strAppPath = folder; }
  // Once the window exists: the back buffer at the client size and the
  // toolbar with its three buttons.
  void Initialize();
  void RepaintBackBuffer();

  // State for the owner and tests.
  int GetSelectedIndex() const { return m_nSelected; }
  int GetCurrentCamera() const { return m_nCamera; }
  // The thumbnails the last repaint drew, in image order.
  const std::vector<CRect>& ThumbnailRects() const { return m_rects; }
  int DrawnCount() const { return m_nDrawn; }
  const std::uint32_t* BackBuffer() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
  int BufferWidth() const { return m_nWidth; }
  int BufferHeight() const { return m_nHeight; }
  CToolbarX& Toolbar() { return m_toolbar; }

 protected:
  BOOL OnCommand(WPARAM wp, LPARAM lp) override;
  void OnPaint();
  void OnLButtonDown(UINT flags, CPoint point);
  DECLARE_MESSAGE_MAP()

 private:
  bool CameraSelected() const;
  int ImageCount() const;
  void AddImages();
  void ToggleSelected();

  bool m_bStereo = false;
  std::vector<std::uint32_t> m_pixels;  // rows of width pixels, 0xAARRGGBB
  int m_nWidth = 0;
  int m_nHeight = 0;
  std::unique_ptr<Gdiplus::Bitmap> m_pBitmap;
  std::unique_ptr<Gdiplus::Graphics> m_pGraphics;
  CRect m_rcClient;
  CString m_strAppPath;
  int m_nThumbWidth = 40;
  int m_nThumbHeight = 40;
  int m_nSpacing = 5;
  int m_nSelected = -1;
  // One entry per thumbnail position; grows with the images.
  std::vector<CRect> m_rects;
  int m_nDrawn = 0;
  int m_nCamera = -1;
  int m_nRightCamera = -1;  // -1: the camera after m_nCamera
  CalibrationDataStore* m_pStore = nullptr;
  CToolbarX m_toolbar;
};
