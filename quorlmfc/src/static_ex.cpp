#include "quorlmfc/static_ex.h"

#include "com/bstr.h"
#include "quorlmfc/win_dib.h"

const CRuntimeClass CStaticEx::classCStaticEx = {"CStaticEx", &CStatic::classCStatic};

BEGIN_MESSAGE_MAP(CStaticEx, CStatic)
ON_WM_PAINT()
END_MESSAGE_MAP()

CStaticEx::CStaticEx() { m_format.SetLineAlignment(Gdiplus::StringAlignmentCenter); }

CStaticEx::~CStaticEx() {
  // No paint may reach the buffer once it is gone.
  if (m_hWnd) DestroyWindow();
  FreeBackBuffer();
}

void CStaticEx::FreeBackBuffer() {
  // The graphics draws on the bitmap, which lies over the pixels.
  m_pGraphics.reset();
  m_pBitmap.reset();
  m_pFont.reset();
  m_pBgBrush.reset();
  m_pTextBrush.reset();
  m_pixels.clear();
  m_pixels.shrink_to_fit();
  m_nWidth = m_nHeight = m_nStride = 0;
}

void CStaticEx::Initialize(int fontSize) {
  FreeBackBuffer();
  GetClientRect(&m_rcClient);
  if (m_rcClient.right <= 0 || m_rcClient.bottom <= 0) return;
  m_nWidth = m_rcClient.right;
  m_nHeight = m_rcClient.bottom;
  m_nStride = 4 * m_nWidth;
  m_layout = Gdiplus::RectF(2.0f, 2.0f, static_cast<REAL>(m_nWidth - 4), static_cast<REAL>(m_nHeight - 4));
  m_format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  m_pixels.assign(static_cast<size_t>(m_nWidth) * m_nHeight, 0);
  m_pBitmap = std::make_unique<Gdiplus::Bitmap>(m_nWidth, m_nHeight, m_nStride, PixelFormat32bppARGB,
                                                reinterpret_cast<BYTE*>(m_pixels.data()));
  m_pGraphics = std::make_unique<Gdiplus::Graphics>(m_pBitmap.get());
  m_pGraphics->SetInterpolationMode(Gdiplus::InterpolationModeHighQuality);
  m_pFont = std::make_unique<Gdiplus::Font>("Verdana", static_cast<REAL>(fontSize), Gdiplus::FontStyleRegular,
                                            Gdiplus::UnitPoint);
  m_pBgBrush = std::make_unique<Gdiplus::SolidBrush>(m_bgColour);
  m_pTextBrush = std::make_unique<Gdiplus::SolidBrush>(m_textColour);
  PaintBackBuffer();
}

void CStaticEx::DrawText() {
  if (!m_pGraphics || m_strText.IsEmpty()) return;
  const std::wstring text = com::Utf8ToWide(m_strText.GetString());
  m_pGraphics->DrawString(text.c_str(), static_cast<INT>(text.size()), m_pFont.get(), m_layout, &m_format,
                          m_pTextBrush.get());
}

void CStaticEx::PaintBackBuffer() {
  if (!m_pGraphics) return;
  m_pGraphics->FillRectangle(m_pBgBrush.get(), 0, 0, m_rcClient.right, m_rcClient.bottom);
  DrawText();
}

void CStaticEx::SetText(const char* text) {
  m_strText = text ? text : "";
  PaintBackBuffer();
  if (m_hWnd) Invalidate(TRUE);
}

void CStaticEx::OnPaint() {
  CPaintDC dc(this);
  if (m_pixels.empty()) return;
  winDIB dib(dc);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(m_pixels.data()), nullptr, m_nWidth, m_nHeight, 32);
  CRect client;
  GetClientRect(&client);
  dib.srcRect() = client;
  dib.dstRect() = client;
  dib.copyToDisplay();
}
