#include "source_details_panel.h"

#include "com/bstr.h"
#include "quorlmfc/win_dib.h"

const CRuntimeClass CSourceDetailsPanel::classCSourceDetailsPanel = {"CSourceDetailsPanel", &CStatic::classCStatic};

BEGIN_MESSAGE_MAP(CSourceDetailsPanel, CStatic)
ON_WM_PAINT()
END_MESSAGE_MAP()

namespace {

// Title on the first line, the information text from the next line down
// (one line spacing of the font below it); both leave a 4-pixel margin. A
// collapsed panel (30 pixels) shows the title and the text's first line.
constexpr float kMargin = 4.0f;

}  // namespace

CSourceDetailsPanel::CSourceDetailsPanel() = default;

CSourceDetailsPanel::~CSourceDetailsPanel() {
  // No paint may reach the buffer once it is gone.
  if (m_hWnd) DestroyWindow();
  FreeBuffer();
}

void CSourceDetailsPanel::FreeBuffer() {
  // The graphics draws on the bitmap, which lies over the pixels.
  m_pGraphics.reset();
  m_pBitmap.reset();
  m_pFont.reset();
  m_pixels.clear();
  m_pixels.shrink_to_fit();
  m_nWidth = m_nHeight = 0;
}

bool CSourceDetailsPanel::EnsureBuffer() {
  if (!m_hWnd) return false;
  CRect client;
  GetClientRect(&client);
  if (client.right <= 0 || client.bottom <= 0) {
    FreeBuffer();
    return false;
  }
  if (m_pGraphics && client.right == m_nWidth && client.bottom == m_nHeight) return true;
  FreeBuffer();
  m_nWidth = client.right;
  m_nHeight = client.bottom;
  m_pixels.assign(static_cast<size_t>(m_nWidth) * m_nHeight, 0);
  m_pBitmap = std::make_unique<Gdiplus::Bitmap>(m_nWidth, m_nHeight, 4 * m_nWidth, PixelFormat32bppARGB,
                                                reinterpret_cast<BYTE*>(m_pixels.data()));
  m_pGraphics = std::make_unique<Gdiplus::Graphics>(m_pBitmap.get());
  m_pGraphics->SetInterpolationMode(Gdiplus::InterpolationModeHighQuality);
  m_pFont = std::make_unique<Gdiplus::Font>("Verdana", 7.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
  return true;
}

void CSourceDetailsPanel::Redraw() {
  if (DrawBuffer()) Invalidate(FALSE);
}

bool CSourceDetailsPanel::DrawBuffer() {
  if (!EnsureBuffer()) return false;
  Gdiplus::SolidBrush background{Gdiplus::Color(m_colour)};
  Gdiplus::SolidBrush white{Gdiplus::Color(0xFFFFFFFF)};
  m_pGraphics->FillRectangle(&background, 0, 0, m_nWidth, m_nHeight);
  Gdiplus::StringFormat format;
  const float width = static_cast<float>(m_nWidth) - 2 * kMargin;
  const float line = m_pFont->GetHeight(m_pGraphics.get());
  if (!m_title.empty()) {
    const std::wstring title = com::Utf8ToWide(m_title.c_str());
    const Gdiplus::RectF box(kMargin, kMargin, width, line);
    m_pGraphics->DrawString(title.c_str(), static_cast<INT>(title.size()), m_pFont.get(), box, &format, &white);
  }
  const float textTop = kMargin + line;
  if (!m_text.empty() && m_nHeight > textTop + kMargin) {
    const std::wstring text = com::Utf8ToWide(m_text.c_str());
    const Gdiplus::RectF box(kMargin, textTop, width, static_cast<float>(m_nHeight) - textTop - kMargin);
    m_pGraphics->DrawString(text.c_str(), static_cast<INT>(text.size()), m_pFont.get(), box, &format, &white);
  }
  return true;
}

void CSourceDetailsPanel::SetText(const char* title, const char* text) {
  if (title) m_title = title;
  if (text) m_text = text;
  Redraw();
}

void CSourceDetailsPanel::SetColour(Gdiplus::ARGB colour) {
  m_colour = colour;
  Redraw();
}

void CSourceDetailsPanel::OnPaint() {
  CPaintDC dc(this);
  // A grown or shrunk window gets a buffer of its new size first.
  CRect client;
  GetClientRect(&client);
  if ((client.right != m_nWidth || client.bottom != m_nHeight) && !DrawBuffer()) return;
  if (m_pixels.empty()) return;
  winDIB dib(dc);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(m_pixels.data()), nullptr, m_nWidth, m_nHeight, 32);
  dib.srcRect() = client;
  dib.dstRect() = client;
  dib.copyToDisplay();
}
