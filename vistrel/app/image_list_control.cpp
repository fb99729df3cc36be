#include "image_list_control.h"

#include <algorithm>
#include <string>

#include "calibration/calibration_data_store.h"
#include "quorlmfc/win_dib.h"
#include "win/prompts.h"

namespace {

constexpr int kMargin = 10;
constexpr int kInitialRects = 200;

struct ToolButton {
  const char* tooltip;
  const char* image;
  UINT id;
};
constexpr ToolButton kButtons[] = {
    {"Add images...", "\\Graphics\\button_open_image.png", CImageListControl::kAddImagesId},
    {"Remove image", "\\Graphics\\button_remove_image.png", CImageListControl::kRemoveImageId},
    {"Disable", "\\Graphics\\button_disable_image.png", CImageListControl::kDisableId},
};

constexpr const char* kImageFilter =
    "Image Files (*.bmp;*.jpg;*.tif;*.png;*.gif)|*.bmp; *.jpg; *.tif; *.png; *.gif|All Files (*.*)|*.*||";

}  // namespace

BEGIN_MESSAGE_MAP(CImageListControl, CStatic)
ON_WM_PAINT()
ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP()

CImageListControl::CImageListControl() : m_rects(kInitialRects), m_toolbar(0x414141) {}

CImageListControl::~CImageListControl() {
  // No paint may reach the buffer once it is gone.
  if (m_hWnd) DestroyWindow();
  m_pGraphics.reset();
  m_pBitmap.reset();
}

bool CImageListControl::CameraSelected() const {
  return m_pStore && m_nCamera >= 0 && m_nCamera < m_pStore->GetMonoCameraCount();
}

int CImageListControl::ImageCount() const { return CameraSelected() ? m_pStore->GetImageCount(m_nCamera) : 0; }

void CImageListControl::Initialize() {
  GetClientRect(&m_rcClient);
  m_pGraphics.reset();
  m_pBitmap.reset();
  m_nWidth = std::max(0, static_cast<int>(m_rcClient.right));
  m_nHeight = std::max(0, static_cast<int>(m_rcClient.bottom));
  m_pixels.assign(static_cast<size_t>(m_nWidth) * m_nHeight, kBackground);
  if (m_nWidth > 0 && m_nHeight > 0) {
    m_pBitmap = std::make_unique<Gdiplus::Bitmap>(m_nWidth, m_nHeight, 4 * m_nWidth, PixelFormat32bppARGB,
                                                  reinterpret_cast<BYTE*>(m_pixels.data()));
    m_pGraphics = std::make_unique<Gdiplus::Graphics>(m_pBitmap.get());
    m_pGraphics->SetInterpolationMode(Gdiplus::InterpolationModeHighQuality);
  }

  if (!m_toolbar.m_hWnd) {
    const int w = m_nWidth, h = m_nHeight;
    m_toolbar.m_bVertical = false;
    m_toolbar.SetParent(this);
    m_toolbar.SetRegionSize(24, 24);
    m_toolbar.SetAppPath(m_strAppPath);
    m_toolbar.Create("Toolbar Windows", 7 | WS_CHILD | WS_VISIBLE, CRect(10, h - 35, w - 20, h + 24), this,
                     kToolbarId);
    m_toolbar.Initialize(8, 2);
    m_toolbar.ShowWindow(SW_SHOW);
    for (const ToolButton& b : kButtons) m_toolbar.AddButton(m_strAppPath + b.image, b.tooltip, b.id);
  }
  RepaintBackBuffer();
}

void CImageListControl::RepaintBackBuffer() {
  m_nDrawn = 0;
  if (!m_pGraphics) return;
  Gdiplus::SolidBrush background{Gdiplus::Color(kBackground)};
  m_pGraphics->FillRectangle(&background, 0, 0, m_nWidth, m_nHeight);
  const int count = ImageCount();
  if (count <= 0) return;

  // A pair cell holds both cameras' thumbnails; a narrow control still gets
  // one column.
  const int cellWidth = m_nSpacing + (m_bStereo ? 2 : 1) * m_nThumbWidth;
  const int columns = std::max(1, m_nWidth / cellWidth);
  const int right = GetRightCamera();
  const int rightCount = m_bStereo && right >= 0 && right < m_pStore->GetMonoCameraCount()
                             ? m_pStore->GetImageCount(right)
                             : 0;
  if (static_cast<int>(m_rects.size()) < count) m_rects.resize(count);
  Gdiplus::SolidBrush tint{Gdiplus::Color(kDisabledTint)};
  const int pairWidth = (m_bStereo ? 2 : 1) * m_nThumbWidth;
  for (int i = 0; i < count; ++i) {
    const int x = cellWidth * (i % columns) + kMargin;
    const int y = (m_nSpacing + m_nThumbHeight) * (i / columns) + kMargin;
    if (Gdiplus::Bitmap* thumb = m_pStore->GetThumbnailBitmap(m_nCamera, i))
      m_pGraphics->DrawImage(thumb, x, y, m_nThumbWidth, m_nThumbHeight);
    // A shorter (or missing) right camera leaves its slot empty.
    if (m_bStereo && i < rightCount)
      if (Gdiplus::Bitmap* thumb = m_pStore->GetThumbnailBitmap(right, i))
        m_pGraphics->DrawImage(thumb, x + m_nThumbWidth, y, m_nThumbWidth, m_nThumbHeight);
    if (!m_pStore->IsImageEnabled(m_nCamera, i)) m_pGraphics->FillRectangle(&tint, x, y, pairWidth, m_nThumbHeight);
    m_rects[i] = CRect(x, y, x + pairWidth, y + m_nThumbHeight);
  }
  m_nDrawn = count;
  if (m_nSelected >= 0 && m_nSelected < count) {
    const CRect& r = m_rects[m_nSelected];
    Gdiplus::Pen frame(Gdiplus::Color(kSelectionColour), 1.0f);
    m_pGraphics->DrawRectangle(&frame, static_cast<int>(r.left - 1), static_cast<int>(r.top - 1),
                               static_cast<int>(r.Width() + 1), static_cast<int>(r.Height() + 1));
  }
}

void CImageListControl::OnPaint() {
  CPaintDC dc(this);
  RepaintBackBuffer();
  if (m_pixels.empty()) return;
  winDIB dib(dc);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(m_pixels.data()), nullptr, m_nWidth, m_nHeight, 32);
  dib.srcRect() = m_rcClient;
  dib.dstRect() = m_rcClient;
  dib.copyToDisplay();
}

void CImageListControl::OnLButtonDown(UINT flags, CPoint point) {
  // The thumbnails as last drawn: a click on none keeps the selection.
  for (int i = 0; i < m_nDrawn; ++i)
    if (m_rects[i].PtInRect(point)) {
      m_nSelected = i;
      break;
    }
  RepaintBackBuffer();
  Invalidate(FALSE);
  (void)flags;
  Default();
}

BOOL CImageListControl::OnCommand(WPARAM wp, LPARAM lp) {
  if (HIWORD(wp) == BN_CLICKED) {
    switch (LOWORD(wp)) {
      case kAddImagesId:
        AddImages();
        return TRUE;
      case kDisableId:
        ToggleSelected();
        return TRUE;
      default:
        break;
    }
  }
  return CStatic::OnCommand(wp, lp);
}

void CImageListControl::AddImages() {
  if (!CameraSelected()) return;
  CFileDialog dialog(TRUE, "bmp", "Image", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_ALLOWMULTISELECT, kImageFilter,
                     this);
  if (dialog.DoModal() != IDOK) return;
  const int camera = m_nCamera;
  std::string refused;
  for (CFileDialog::POSITION pos = dialog.GetStartPosition(); pos != 0;) {
    const CString path = dialog.GetNextPathName(pos);
    if (!m_pStore->AddImageFromFile(camera, path.GetString(), 1, 0, nullptr)) {
      refused += '\n';
      refused += path.str();
    }
  }
  RepaintBackBuffer();
  Invalidate(FALSE);
  // Files the store would not take must not vanish without a word.
  if (!refused.empty()) {
    std::string message = "These files could not be added as images:";
    message += refused;
    MessageBox(message.c_str(), "Add images", MB_OK | MB_ICONWARNING);
  }
}

void CImageListControl::ToggleSelected() {
  if (!CameraSelected() || m_nSelected < 0 || m_nSelected >= ImageCount()) return;
  if (m_pStore->IsImageEnabled(m_nCamera, m_nSelected)) m_pStore->DisableImage(m_nCamera, m_nSelected);
  else m_pStore->EnableImage(m_nCamera, m_nSelected);
  RepaintBackBuffer();
  Invalidate(FALSE);
}
