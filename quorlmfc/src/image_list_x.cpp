#include "quorlmfc/image_list_x.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "MVG/gdi_image_files.h"
#include "com/bstr.h"

BEGIN_MESSAGE_MAP(CImageListX, CStatic)
ON_WM_PAINT()
ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP()

namespace {

// The overlay of a selected slot: translucent orange over image and caption.
constexpr Gdiplus::ARGB kSelectionOverlay = 0x96FFBF64;

// Row step of an 8-bit three-channel image: rows padded to 4 bytes.
long long RowStep(long long width) { return (width * 3 + 3) / 4 * 4; }

std::int32_t ReadInt32(const std::vector<BYTE>& bytes, size_t offset) {
  std::int32_t v = 0;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

}  // namespace

CImageListX::CImageListX() = default;

CImageListX::~CImageListX() {
  // The window goes before the slots and drawing tools its handlers use.
  if (m_hWnd) DestroyWindow();
  for (Slot& s : m_images) FreeSlot(s);
  FreeDrawing();
}

CImageListX::Slot CImageListX::MakeSlot(int width, int height) {
  Slot s;
  if (width <= 0 || height <= 0) return s;
  s.image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
  std::memset(s.image->imageData, 0, static_cast<size_t>(s.image->imageSize));
  s.bitmap = new Gdiplus::Bitmap(width, height, s.image->widthStep, PixelFormat24bppRGB,
                                 reinterpret_cast<BYTE*>(s.image->imageData));
  return s;
}

void CImageListX::FreeSlot(Slot& s) {
  // The bitmap lies over the image's pixels: it goes first.
  delete s.bitmap;
  if (s.image) cvReleaseImage(&s.image);
  s = Slot{};
}

void CImageListX::FreeDrawing() {
  delete m_pGraphics;
  delete m_pBackBuffer;
  delete[] m_pBackPixels;
  delete m_pBackgroundBrush;
  delete m_pFont;
  delete m_pFormat;
  delete m_pCaptionBrush;
  delete m_pTextBrush;
  delete m_pSelectionPen;
  m_pGraphics = nullptr;
  m_pBackBuffer = nullptr;
  m_pBackPixels = nullptr;
  m_pBackgroundBrush = nullptr;
  m_pFont = nullptr;
  m_pFormat = nullptr;
  m_pCaptionBrush = m_pTextBrush = nullptr;
  m_pSelectionPen = nullptr;
  m_nBackWidth = m_nBackHeight = 0;
}

void CImageListX::Initialize() {
  FreeDrawing();
  GetClientRect(&m_clientRect);
  m_bounds = Gdiplus::RectF(static_cast<REAL>(m_clientRect.left), static_cast<REAL>(m_clientRect.top),
                            static_cast<REAL>(m_clientRect.right - m_clientRect.left),
                            static_cast<REAL>(m_clientRect.bottom - m_clientRect.top));
  m_nBackWidth = std::max(0, static_cast<int>(m_clientRect.right - m_clientRect.left));
  m_nBackHeight = std::max(0, static_cast<int>(m_clientRect.bottom - m_clientRect.top));
  if (m_nBackWidth > 0 && m_nBackHeight > 0) {
    m_pBackPixels = new BYTE[static_cast<size_t>(m_nBackWidth) * m_nBackHeight * 4]();
    m_pBackBuffer = new Gdiplus::Bitmap(m_nBackWidth, m_nBackHeight, m_nBackWidth * 4, PixelFormat32bppARGB,
                                        m_pBackPixels);
    m_pGraphics = new Gdiplus::Graphics(m_pBackBuffer);
    m_pGraphics->SetInterpolationMode(Gdiplus::InterpolationModeLowQuality);
  }
  m_pFont = new Gdiplus::Font(L"Verdana Bold", 8, Gdiplus::FontStyleRegular);
  m_pFormat = new Gdiplus::StringFormat();
  m_pFormat->SetLineAlignment(Gdiplus::StringAlignmentCenter);
  m_pCaptionBrush = new Gdiplus::SolidBrush(Gdiplus::Color(0xFF323232));
  m_pTextBrush = new Gdiplus::SolidBrush(Gdiplus::Color(0xFFC8C800));
  m_pSelectionPen = new Gdiplus::Pen(Gdiplus::Color(0xFF00FF00), 1.0f);
  m_pBackgroundBrush = new Gdiplus::SolidBrush(Gdiplus::Color(m_backgroundColour));
  m_bInitialized = true;
}

void CImageListX::AddImageElement(CString* caption) {
  m_images.push_back(MakeSlot(m_nImageWidth, m_nImageHeight));
  m_selected.push_back(false);
  CString text;
  if (caption) text = *caption;
  else text.Format("Server %d", static_cast<int>(m_images.size()) - 1);
  m_captions.push_back(text);
}

BOOL CImageListX::SetImageDataSize(UINT width, UINT height) {
  if (width > INT_MAX / 3 - 3 || height > INT_MAX || RowStep(width) * static_cast<long long>(height) > INT_MAX)
    return FALSE;
  m_nImageWidth = static_cast<int>(width);
  m_nImageHeight = static_cast<int>(height);
  for (Slot& s : m_images) {
    FreeSlot(s);
    s = MakeSlot(m_nImageWidth, m_nImageHeight);
  }
  return TRUE;
}

void CImageListX::SetImagePreviewSize(UINT width, UINT height) {
  m_nPreviewWidth = static_cast<int>(std::min<UINT>(width, INT_MAX));
  m_nPreviewHeight = static_cast<int>(std::min<UINT>(height, INT_MAX));
  CalculateImagePositions();
}

void CImageListX::CalculateImagePositions() {
  const double hm = m_nHorizontalMargin, vm = m_nVerticalMargin;
  const double cellW = hm + m_nPreviewWidth, cellH = vm + m_nCaptionHeight + m_nPreviewHeight;
  // Bounds smaller than the margins give negative counts, whose product
  // would wrap to a huge size: no positions then.
  const double cols = std::trunc((m_bounds.Width - 3 * hm) / cellW);
  const double rows = std::trunc((m_bounds.Height - 3 * vm) / cellH);
  const int columns = cols > 0 ? static_cast<int>(cols) : 0;
  const int rowCount = rows > 0 ? static_cast<int>(rows) : 0;
  const size_t n = static_cast<size_t>(columns) * static_cast<size_t>(rowCount);
  m_imageRects.assign(n, Gdiplus::RectF());
  m_captionRects.assign(n, Gdiplus::RectF());
  for (int r = 0; r < rowCount; ++r)
    for (int c = 0; c < columns; ++c) {
      const size_t p = static_cast<size_t>(r) * columns + c;
      const REAL x = static_cast<REAL>(hm + c * cellW);
      const REAL y = static_cast<REAL>(vm + r * cellH);
      const REAL pw = static_cast<REAL>(m_nPreviewWidth), ph = static_cast<REAL>(m_nPreviewHeight);
      m_imageRects[p] = Gdiplus::RectF(x, y, pw, ph);
      m_captionRects[p] = Gdiplus::RectF(x, y + ph, pw, static_cast<REAL>(m_nCaptionHeight));
    }
}

size_t CImageListX::ShownSlots() const { return std::min(m_images.size(), m_imageRects.size()); }

void CImageListX::DrawSlot(Gdiplus::Graphics& g, size_t i, const CString& caption) {
  if (m_images[i].bitmap) g.DrawImage(m_images[i].bitmap, m_imageRects[i]);
  g.FillRectangle(m_pCaptionBrush, m_captionRects[i]);
  const std::wstring text = com::Utf8ToWide(caption.GetString());
  g.DrawString(text.c_str(), -1, m_pFont, m_captionRects[i], m_pFormat, m_pTextBrush);
}

void CImageListX::PaintBackBuffer() {
  if (!m_bInitialized || !m_pGraphics) return;
  m_pGraphics->FillRectangle(m_pBackgroundBrush, m_bounds);
  Gdiplus::SolidBrush overlay{Gdiplus::Color(kSelectionOverlay)};
  for (size_t i = 0; i < ShownSlots(); ++i) {
    DrawSlot(*m_pGraphics, i, m_captions[i]);
    if (m_selected[i]) {
      const Gdiplus::RectF& r = m_imageRects[i];
      m_pGraphics->FillRectangle(&overlay, r.X, r.Y, r.Width, r.Height + static_cast<REAL>(m_nCaptionHeight));
    }
  }
}

void CImageListX::ShowBackBuffer() {
  if (!m_pBackBuffer) return;
  Gdiplus::Graphics window(m_hWnd);
  window.DrawImage(m_pBackBuffer, 0, 0);
}

void CImageListX::OnPaint() {
  CStatic::OnPaint();
  if (m_bInitialized) ShowBackBuffer();
}

void CImageListX::OnLButtonDown(UINT flags, CPoint point) {
  // The hit slot alone is selected; a miss clears every slot. Slots without
  // a position cannot be hit.
  size_t hit = m_images.size();
  for (size_t i = 0; i < ShownSlots(); ++i)
    if (GDI::IsPointInRect(point.x, point.y, &m_imageRects[i])) {
      hit = i;
      break;
    }
  for (size_t i = 0; i < m_selected.size(); ++i) m_selected[i] = i == hit;
  m_bWindowPainted = true;
  if (m_bInitialized) {
    // The pen rectangle goes last, over the repainted slots.
    PaintBackBuffer();
    ShowBackBuffer();
    if (hit < m_images.size()) {
      const Gdiplus::RectF& r = m_imageRects[hit];
      Gdiplus::Graphics window(m_hWnd);
      window.DrawRectangle(m_pSelectionPen, r.X, r.Y, r.Width, r.Height + static_cast<REAL>(m_nCaptionHeight));
    }
  }
  CStatic::OnLButtonDown(flags, point);
}

BOOL CImageListX::IsSelected(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_selected.size()) return FALSE;
  return m_selected[static_cast<size_t>(index)] ? TRUE : FALSE;
}

const IplImage* CImageListX::GetImage(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_images.size()) return nullptr;
  return m_images[static_cast<size_t>(index)].image;
}

CString CImageListX::GetCaption(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_captions.size()) return CString();
  return m_captions[static_cast<size_t>(index)];
}

const BYTE* CImageListX::GetBackBuffer(int* width, int* height) const {
  if (width) *width = m_nBackWidth;
  if (height) *height = m_nBackHeight;
  return m_pBackPixels;
}

void CImageListX::CopyPixels(size_t index, const BYTE* pixels) {
  IplImage* image = m_images[index].image;
  if (image) std::memcpy(image->imageData, pixels, static_cast<size_t>(image->imageSize));
}

void CImageListX::SetImageData(UINT index, BYTE* pixels) {
  if (index >= m_images.size() || !pixels) return;
  CopyPixels(index, pixels);
  if (!m_bInitialized || index >= ShownSlots()) return;
  Gdiplus::Graphics window(m_hWnd);
  DrawSlot(window, index, m_captions[index]);
}

void CImageListX::SetNodeData(UINT index, QuorlMFC::Tarvesh::Network::DataPacket* packet) {
  if (index >= m_images.size() || !packet) return;
  const IplImage* image = m_images[index].image;
  // The packet comes from the network: it must hold every byte read.
  const size_t pixelBytes = image ? static_cast<size_t>(image->imageSize) : 0;
  if (packet->bytes.size() < kPacketPixels + pixelBytes) return;
  CopyPixels(index, packet->bytes.data() + kPacketPixels);
  if (!m_bInitialized || index >= ShownSlots()) return;
  CString caption = m_captions[index];
  caption.AppendFormat(" - %d / %d", static_cast<int>(ReadInt32(packet->bytes, kPacketFirstNumber)),
                       static_cast<int>(ReadInt32(packet->bytes, kPacketSecondNumber)));
  if (m_bPaintToBackBuffer) {
    if (m_pGraphics) DrawSlot(*m_pGraphics, index, caption);
  } else {
    Gdiplus::Graphics window(m_hWnd);
    DrawSlot(window, index, caption);
  }
}
