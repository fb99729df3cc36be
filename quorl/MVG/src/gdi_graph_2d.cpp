#include "MVG/gdi_graph_2d.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace GDI {
namespace {

bool Finite(const Gdiplus::PointF& p) { return std::isfinite(p.X) && std::isfinite(p.Y); }

// glibc's swprintf fails outright (-1, nothing useful written) when the text
// does not fit, so the text is cut to the label's 49 characters first.
void SetLabelText(GraphLabel& label, const WCHAR* text) {
  constexpr size_t kMax = sizeof(label.text) / sizeof(label.text[0]) - 1;
  WCHAR cut[kMax + 1] = {};
  if (text) std::wcsncpy(cut, text, kMax);
  std::swprintf(label.text, kMax + 1, L"%ls", cut);
}

// Scale of an axis range over a length in pixels; 0 when the range is empty
// or the result is not finite, so no such coordinate reaches the Graphics.
float Scale(float pixels, float min, float max) {
  const float range = max - min;
  if (range == 0) return 0;
  const float s = pixels / range;
  return std::isfinite(s) ? s : 0;
}

void CrossAt(Gdiplus::Graphics* g, const Gdiplus::Pen& pen, const Gdiplus::PointF& p) {
  if (!Finite(p)) return;
  g->DrawLine(&pen, p.X - 2, p.Y - 2, p.X + 2, p.Y + 2);
  g->DrawLine(&pen, p.X + 2, p.Y - 2, p.X - 2, p.Y + 2);
}

}  // namespace

// ---- FloatRingBuffer ----------------------------------------------------------

FloatRingBuffer::FloatRingBuffer(int capacity)
    : m_capacity(std::max(capacity, 0)), m_storage(static_cast<size_t>(m_capacity), 0.0f) {}

void FloatRingBuffer::add(float v) {
  if (m_capacity == 0) return;
  m_storage[m_count % static_cast<std::uint64_t>(m_capacity)] = v;
  ++m_count;
}

int FloatRingBuffer::size() const { return full() ? m_capacity : static_cast<int>(m_count); }
bool FloatRingBuffer::empty() const { return m_count == 0; }
bool FloatRingBuffer::full() const { return m_count >= static_cast<std::uint64_t>(m_capacity); }

float FloatRingBuffer::get(int i) const {
  if (i < 0 || i >= size()) return 0;
  if (!full()) return m_storage[static_cast<size_t>(i)];
  const std::uint64_t cap = static_cast<std::uint64_t>(m_capacity);
  return m_storage[(m_count % cap + static_cast<std::uint64_t>(i)) % cap];
}

// ---- CBaseGraph2D ---------------------------------------------------------------

CBaseGraph2D::CBaseGraph2D() : m_labelFont(L"Arial", 6), m_titleFont(L"Arial", 6) {}

CBaseGraph2D::~CBaseGraph2D() { delete m_pGraphics; }

int CBaseGraph2D::SetGraphics(Gdiplus::Graphics* graphics) {
  if (graphics == m_pGraphics) return 0;
  delete m_pGraphics;
  m_pGraphics = graphics;
  return 0;
}

int CBaseGraph2D::SetGraphBox(Gdiplus::RectF* box) {
  if (box) m_box = *box;
  return 0;
}

int CBaseGraph2D::SetBorders(float left, float right, float bottom, float top) {
  m_borders[0] = left;
  m_borders[1] = right;
  m_borders[2] = bottom;
  m_borders[3] = top;
  return 0;
}

int CBaseGraph2D::SetAxis(float xmin, float xmax, float ymin, float ymax) {
  m_xmin = xmin;
  m_xmax = xmax;
  m_ymin = ymin;
  m_ymax = ymax;
  return 0;
}

int CBaseGraph2D::SetTitles(const WCHAR* xTitle, const WCHAR* yTitle) {
  SetLabelText(m_xTitle, xTitle);
  SetLabelText(m_yTitle, yTitle);
  return 0;
}

int CBaseGraph2D::SetMainTitle(const WCHAR* title) {
  SetLabelText(m_mainTitle, title);
  return 0;
}

int CBaseGraph2D::InitializeDrawing() {
  const float left = m_borders[0], right = m_borders[1], bottom = m_borders[2], top = m_borders[3];
  const float plotWidth = m_box.Width - left - right;
  const float plotHeight = m_box.Height - top - bottom;
  m_scaleX = Scale(plotWidth, m_xmin, m_xmax);
  m_scaleY = Scale(plotHeight, m_ymin, m_ymax);
  m_origin = Gdiplus::PointF(m_box.X + left, m_box.Y + m_box.Height - bottom);
  // The axes cross at 0 when the range straddles it, else at the range's end
  // nearest to it.
  float v = 0, w = 0;
  if (m_ymin < 0 && m_ymax < 0) v = -plotHeight;
  else if (m_ymin < 0 && m_ymax > 0) v = -std::fabs(m_ymin) * m_scaleY;
  if (m_xmin < 0 && m_xmax < 0) w = plotWidth;
  else if (m_xmin < 0 && m_xmax > 0) w = std::fabs(m_xmin) * m_scaleX;
  m_xAxis[0] = Gdiplus::PointF(m_origin.X, m_origin.Y + v);
  m_xAxis[1] = Gdiplus::PointF(m_box.X + m_box.Width - right, m_origin.Y + v);
  m_yAxis[0] = Gdiplus::PointF(m_origin.X + w, m_origin.Y);
  m_yAxis[1] = Gdiplus::PointF(m_origin.X + w, m_origin.Y - plotHeight);
  m_crossing = Gdiplus::PointF(m_origin.X + w, m_origin.Y + v);
  return 0;
}

Gdiplus::PointF CBaseGraph2D::ToPixel(float x, float y) const {
  return Gdiplus::PointF(m_origin.X + (x - m_xmin) * m_scaleX, m_origin.Y - (y - m_ymin) * m_scaleY);
}

namespace {
bool UsableSteps(float steps) { return std::isfinite(steps) && steps > 0 && steps <= CBaseGraph2D::kMaxLabelSteps; }
}  // namespace

int CBaseGraph2D::SetLabels(float xStart, float xEnd, float xSteps, float yStart, float yEnd, float ySteps) {
  m_xLabels.clear();
  m_yLabels.clear();
  // Steps of 0 would divide by zero, infinite ones never end the loop.
  if (UsableSteps(xSteps)) {
    const float step = std::fabs(xEnd - xStart) / xSteps;
    for (int i = 0; static_cast<float>(i) <= xSteps; ++i) {
      GraphLabel l;
      const float value = xStart + static_cast<float>(i) * step;
      l.x = m_origin.X + (xStart - m_xmin) * m_scaleX + static_cast<float>(i) * step * m_scaleX;
      l.y = m_xAxis[0].Y;
      std::swprintf(l.text, 50, L"%.2f", static_cast<double>(value));
      m_xLabels.push_back(l);
    }
  }
  if (UsableSteps(ySteps)) {
    const float step = std::fabs(yEnd - yStart) / ySteps;
    for (int i = 0; static_cast<float>(i) <= ySteps; ++i) {
      GraphLabel l;
      const float value = yStart + static_cast<float>(i) * step;
      l.x = m_yAxis[0].X;
      l.y = m_origin.Y - (yStart - m_ymin) * m_scaleY - static_cast<float>(i) * step * m_scaleY;
      std::swprintf(l.text, 50, L"%.1f", static_cast<double>(value));
      m_yLabels.push_back(l);
    }
  }
  return 0;
}

bool CBaseGraph2D::HasRange() const {
  return m_xmax != m_xmin && m_ymax != m_ymin && m_scaleX != 0 && m_scaleY != 0 && Finite(m_origin) &&
         Finite(m_crossing);
}

void CBaseGraph2D::FillBackground() {
  Gdiplus::SolidBrush brush{Gdiplus::Color(m_backgroundColour)};
  m_pGraphics->FillRectangle(&brush, m_box);
}

int CBaseGraph2D::DrawAxis() {
  if (!m_pGraphics) return 0;
  Gdiplus::Pen pen(Gdiplus::Color(m_axisColour), 1);
  if (Finite(m_xAxis[0]) && Finite(m_xAxis[1])) m_pGraphics->DrawLine(&pen, m_xAxis[0], m_xAxis[1]);
  if (Finite(m_yAxis[0]) && Finite(m_yAxis[1])) m_pGraphics->DrawLine(&pen, m_yAxis[0], m_yAxis[1]);
  return 0;
}

int CBaseGraph2D::DrawLabels() {
  if (!m_pGraphics) return 0;
  Gdiplus::Pen pen(Gdiplus::Color(m_labelColour), 1);
  Gdiplus::SolidBrush brush{Gdiplus::Color(m_labelColour)};
  Gdiplus::StringFormat centred;
  centred.SetAlignment(Gdiplus::StringAlignmentCenter);
  for (const GraphLabel& l : m_xLabels) {
    if (!std::isfinite(l.x) || !std::isfinite(l.y)) continue;
    m_pGraphics->DrawLine(&pen, l.x, l.y, l.x, l.y + static_cast<float>(m_tickLength));
    m_pGraphics->DrawString(l.text, -1, &m_labelFont,
                            Gdiplus::PointF(l.x + static_cast<float>(m_xLabelOffset[0]),
                                            l.y + static_cast<float>(m_xLabelOffset[1])),
                            &centred, &brush);
  }
  for (const GraphLabel& l : m_yLabels) {
    if (!std::isfinite(l.x) || !std::isfinite(l.y)) continue;
    m_pGraphics->DrawLine(&pen, l.x, l.y, l.x - static_cast<float>(m_tickLength), l.y);
    m_pGraphics->DrawString(l.text, -1, &m_labelFont,
                            Gdiplus::PointF(l.x + static_cast<float>(m_yLabelOffset[0]),
                                            l.y + static_cast<float>(m_yLabelOffset[1])),
                            &centred, &brush);
  }
  return 0;
}

int CBaseGraph2D::DrawTitles() {
  if (!m_pGraphics) return 0;
  Gdiplus::SolidBrush brush{Gdiplus::Color(m_labelColour)};
  m_pGraphics->DrawString(m_mainTitle.text, -1, &m_titleFont, Gdiplus::PointF(200, 5), &brush);
  // Each axis title hangs on a tick label near the middle of its axis; with
  // no such label it has no place and is left out.
  const size_t nx = m_xLabels.size(), ny = m_yLabels.size();
  if (nx > 0) {
    const GraphLabel& a = m_xLabels[nx / 2];
    const Gdiplus::PointF at(a.x + static_cast<float>(m_xLabelOffset[0]) - 25,
                             a.y + static_cast<float>(m_xLabelOffset[1]) + 15);
    if (Finite(at)) m_pGraphics->DrawString(m_xTitle.text, -1, &m_titleFont, at, &brush);
  }
  if (ny >= 2) {
    const GraphLabel& a = m_yLabels[ny / 2 - 1];
    const Gdiplus::PointF at(a.x - 23 - 30, a.y);
    Gdiplus::StringFormat vertical(Gdiplus::StringFormatFlagsDirectionVertical);
    if (Finite(at)) m_pGraphics->DrawString(m_yTitle.text, -1, &m_titleFont, at, &vertical, &brush);
  }
  return 0;
}

int CBaseGraph2D::DrawData() { return 0; }

int CBaseGraph2D::DrawBase() {
  if (!m_pGraphics) return 0;
  FillBackground();
  if (!HasRange()) return 0;
  DrawAxis();
  DrawLabels();
  DrawTitles();
  DrawData();
  return 0;
}

// ---- CLineGraph2D ---------------------------------------------------------------

CLineGraph2D::CLineGraph2D() = default;

CLineGraph2D::~CLineGraph2D() { delete m_pRing; }

int CLineGraph2D::AddPoint(float x, float y, Gdiplus::Color* colour) {
  if (m_bCyclic) {
    m_pRing->add(y);
    return 0;
  }
  m_x.push_back(x);
  m_y.push_back(y);
  m_colours.push_back(colour ? colour->GetValue() : m_lineColour);
  ++m_count;
  return 0;
}

int CLineGraph2D::SetCyclicMode(bool cyclic) {
  if (!cyclic) {
    if (m_bCyclic) {
      delete m_pRing;
      m_pRing = nullptr;
      m_bCyclic = false;
    }
    return 0;
  }
  if (m_bCyclic) return 0;
  const double span = std::fabs(static_cast<double>(m_xmax) - static_cast<double>(m_xmin));
  if (!std::isfinite(span) || span < 1 || std::trunc(span) > kMaxCyclicPoints) return -1;
  const int capacity = static_cast<int>(span);
  m_pRing = new FloatRingBuffer(capacity);
  m_positions.assign(static_cast<size_t>(capacity), Gdiplus::PointF());
  m_bCyclic = true;
  return 0;
}

int CLineGraph2D::SetClampMode(bool clamp) {
  m_bClamp = clamp;
  return 0;
}

int CLineGraph2D::SetDataForDrawing() {
  const float xlo = std::min(m_xmin, m_xmax), xhi = std::max(m_xmin, m_xmax);
  const float ylo = std::min(m_ymin, m_ymax), yhi = std::max(m_ymin, m_ymax);
  if (m_bCyclic) {
    const int n = m_pRing->size();
    for (int i = 0; i < n; ++i) {
      float y = m_pRing->get(i);
      if (m_bClamp) y = std::clamp(y, ylo, yhi);
      m_positions[static_cast<size_t>(i)] = ToPixel(m_xmin + static_cast<float>(i), y);
    }
    return 0;
  }
  m_positions.resize(static_cast<size_t>(m_count));
  for (size_t i = 0; i < m_positions.size(); ++i) {
    float x = m_x[i], y = m_y[i];
    if (m_bClamp) {
      x = std::clamp(x, xlo, xhi);
      y = std::clamp(y, ylo, yhi);
    }
    m_positions[i] = ToPixel(x, y);
  }
  return 0;
}

int CLineGraph2D::DrawData() {
  if (!m_pGraphics) return 0;
  const size_t n = m_bCyclic ? static_cast<size_t>(m_pRing->size()) : static_cast<size_t>(m_count);
  if (n < 2 || n > m_positions.size()) return 0;
  Gdiplus::Pen pen(Gdiplus::Color(m_lineColour), 1);
  for (size_t i = 1; i < n; ++i) {
    const Gdiplus::PointF& a = m_positions[i - 1];
    const Gdiplus::PointF& b = m_positions[i];
    if (Finite(a) && Finite(b)) m_pGraphics->DrawLine(&pen, a, b);
  }
  return 0;
}

int CLineGraph2D::DrawBase() {
  if (!m_pGraphics) return 0;
  FillBackground();
  if (!HasRange()) return 0;
  DrawAxis();
  DrawLabels();
  DrawTitles();
  SetDataForDrawing();
  DrawData();
  return 0;
}

int CLineGraph2D::DrawMarker(Gdiplus::PointF* point) {
  if (!m_pGraphics || !point) return 0;
  CrossAt(m_pGraphics, Gdiplus::Pen(Gdiplus::Color(m_lineColour), 1), *point);
  return 0;
}

// ---- CScatterGraph2D ------------------------------------------------------------

CScatterGraph2D::CScatterGraph2D() = default;

CScatterGraph2D::~CScatterGraph2D() = default;

int CScatterGraph2D::AddPoint(float x, float y, Gdiplus::Color* colour) {
  m_x.push_back(x);
  m_y.push_back(y);
  m_colours.push_back(colour ? colour->GetValue() : m_markerColour);
  ++m_count;
  return 0;
}

int CScatterGraph2D::SetDataForDrawing() {
  m_positions.clear();
  for (size_t i = 0; i < static_cast<size_t>(m_count); ++i) m_positions.push_back(ToPixel(m_x[i], m_y[i]));
  return 0;
}

int CScatterGraph2D::DrawData() {
  if (!m_pGraphics) return 0;
  const size_t n = std::min(m_positions.size(), m_colours.size());
  for (size_t i = 0; i < n; ++i) CrossAt(m_pGraphics, Gdiplus::Pen(Gdiplus::Color(m_colours[i]), 1), m_positions[i]);
  return 0;
}

int CScatterGraph2D::DrawBase() {
  if (!m_pGraphics) return 0;
  FillBackground();
  if (!HasRange()) return 0;
  DrawAxis();
  DrawLabels();
  DrawData();
  return 0;
}

int CScatterGraph2D::DrawMarker(Gdiplus::PointF* point) {
  if (!m_pGraphics || !point) return 0;
  CrossAt(m_pGraphics, Gdiplus::Pen(Gdiplus::Color(m_markerColour), 1), *point);
  return 0;
}

}  // namespace GDI
