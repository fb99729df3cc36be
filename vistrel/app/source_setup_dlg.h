#pragma once
// CSourceSetupDlg: "Video Source Setup", how a source's frames carry camera
// images: stream splitting (none, stereo side by side, quad) and
// deinterlacing (none, one field), chosen by clicking option boxes drawn
// with GDI+, plus the capture device's property pages for a live source.
#include <cstdint>
#include <memory>
#include <vector>

#include "gdiplus/gdiplus.h"
#include "quorlmfc/dialog_x.h"

class CVideoCapture;

class CSourceSetupDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 149;
  static constexpr UINT kInfoText = 1031;
  static constexpr UINT kCaptureFilter = 4;
  static constexpr UINT kCapturePin = 5;

  explicit CSourceSetupDlg(CWnd* parent = nullptr);
  ~CSourceSetupDlg() override;

  // The source's values, shown when the dialog opens. The capture object
  // (may be null) serves the property pages of a live source only.
  void Prepare(bool live, CVideoCapture* capture, int splitting, int deinterlace, const CString& appFolder);
  int GetSplitting() const { return m_nSplitting; }
  int GetDeinterlace() const { return m_nDeinterlace; }

  // Option boxes in client pixels, below the title bar: splitting 0-2 and
  // deinterlace 0-1. A point in none changes nothing (false).
  static CRect SplittingBox(int option);
  static CRect DeinterlaceBox(int option);
  bool SelectAt(CPoint point);

  BOOL OnInitDialog() override;
  const std::uint32_t* BackBuffer() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
  int BufferWidth() const { return m_nWidth; }
  int BufferHeight() const { return m_nHeight; }

 protected:
  void OnPaint();
  BOOL OnEraseBkgnd(CDC*) { return FALSE; }
  void OnLButtonDown(UINT flags, CPoint point);
  void OnCaptureFilter();
  void OnCapturePin();
  DECLARE_MESSAGE_MAP()

 private:
  void Draw();
  void FreeBuffer();

  bool m_bLive = false;
  CVideoCapture* m_pCapture = nullptr;
  int m_nSplitting = 0;
  int m_nDeinterlace = 0;
  std::vector<std::uint32_t> m_pixels;
  int m_nWidth = 0, m_nHeight = 0;
  std::unique_ptr<Gdiplus::Bitmap> m_pBitmap;
  std::unique_ptr<Gdiplus::Graphics> m_pGraphics;
};
