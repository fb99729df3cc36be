#pragma once
// 2-D graphs drawn with GDI+ onto a caller's Graphics (a bitmap's or a
// window's): a base graph with box, borders, axes, tick labels and titles,
// a line graph that can also roll over a fixed-size ring buffer, and a
// scatter graph.
//
// Coordinates: a value v on an axis of range [min, max] lies at
// origin + (v - min) * scale, x growing to the right and y upwards; the axis
// lines cross at the value 0 when the range straddles it, else at the range's
// end nearest to 0.
#include <cstdint>
#include <vector>

#include "gdiplus/drawing.h"
#include "gdiplus/graphics.h"
#include "gdiplus/types.h"

namespace GDI {

struct GraphLabel {
  WCHAR text[50] = {};
  float x = 0;
  float y = 0;
  Gdiplus::ARGB colour = 0xFF000000;
};

// The most recent capacity values; get(0) is the oldest held.
class FloatRingBuffer {
 public:
  // A capacity below 1 holds nothing: add is then ignored.
  explicit FloatRingBuffer(int capacity);
  FloatRingBuffer(const FloatRingBuffer&) = default;
  FloatRingBuffer& operator=(const FloatRingBuffer&) = default;

  void add(float v);
  int size() const;
  bool empty() const;
  bool full() const;
  // 0 for an index outside [0, size()).
  float get(int i) const;
  int capacity() const { return m_capacity; }

 private:
  int m_capacity;
  std::vector<float> m_storage;
  // Values ever added; 64 bits, so the oldest value's slot never jumps when
  // the count would have wrapped.
  std::uint64_t m_count = 0;
};

class CBaseGraph2D {
 public:
  CBaseGraph2D();
  // Not virtual: nothing deletes a graph through a base pointer.
  ~CBaseGraph2D();
  // The graph owns its Graphics: a copy would delete it twice.
  CBaseGraph2D(const CBaseGraph2D&) = delete;
  CBaseGraph2D& operator=(const CBaseGraph2D&) = delete;

  // Takes ownership; the one held before is deleted (the same pointer again
  // changes nothing).
  int SetGraphics(Gdiplus::Graphics* graphics);
  int SetGraphBox(Gdiplus::RectF* box);
  // Space between the box and the plot, in pixels.
  int SetBorders(float left, float right, float bottom, float top);
  int SetAxis(float xmin, float xmax, float ymin, float ymax);
  // At most 49 characters each are kept; null is empty.
  int SetTitles(const WCHAR* xTitle, const WCHAR* yTitle);
  int SetMainTitle(const WCHAR* title);
  // Tick labels from start, |end - start| / steps apart, while the label's
  // number i <= steps (a fractional count gives its whole part plus one).
  // Steps of 0 or less, not finite or above kMaxLabelSteps give no labels on
  // that axis. Call after InitializeDrawing.
  static constexpr float kMaxLabelSteps = 65536;
  int SetLabels(float xStart, float xEnd, float xSteps, float yStart, float yEnd, float ySteps);

  // With no Graphics every Draw* draws nothing and returns 0.
  virtual int DrawBase();
  virtual int DrawAxis();
  virtual int DrawLabels();
  virtual int DrawData();
  virtual int DrawTitles();
  // Scales, origin, axis lines and their crossing from the box, borders and
  // axis range; an empty range on an axis gives scale 0 there.
  virtual int InitializeDrawing();

  // Read access, for owners and tests.
  Gdiplus::Graphics* GetGraphics() const { return m_pGraphics; }
  Gdiplus::PointF GetOrigin() const { return m_origin; }
  Gdiplus::PointF GetAxisCrossing() const { return m_crossing; }
  float GetScaleX() const { return m_scaleX; }
  float GetScaleY() const { return m_scaleY; }
  // The x axis from [0] to [1], the y axis likewise.
  const Gdiplus::PointF* GetXAxisLine() const { return m_xAxis; }
  const Gdiplus::PointF* GetYAxisLine() const { return m_yAxis; }
  const std::vector<GraphLabel>& GetXLabels() const { return m_xLabels; }
  const std::vector<GraphLabel>& GetYLabels() const { return m_yLabels; }
  const GraphLabel& GetXTitle() const { return m_xTitle; }
  const GraphLabel& GetYTitle() const { return m_yTitle; }
  const GraphLabel& GetMainTitle() const { return m_mainTitle; }

 protected:
  // Both ranges non-empty and the scales finite: only then are axes, labels
  // and data drawn.
  bool HasRange() const;
  // Fills the box with the background colour.
  void FillBackground();
  // Pixel position of a value pair.
  Gdiplus::PointF ToPixel(float x, float y) const;

  Gdiplus::Graphics* m_pGraphics = nullptr;
  Gdiplus::RectF m_box;
  float m_borders[4] = {60, 40, 40, 25};  // left, right, bottom, top
  Gdiplus::PointF m_origin;
  Gdiplus::PointF m_crossing;
  Gdiplus::ARGB m_backgroundColour = 0xFFFFFFFF;
  Gdiplus::ARGB m_axisColour = 0xFF000000;
  Gdiplus::ARGB m_labelColour = 0xFF000000;
  Gdiplus::ARGB m_extraColour = 0xFF000000;
  Gdiplus::Font m_labelFont;
  Gdiplus::Font m_titleFont;
  GraphLabel m_xTitle;
  GraphLabel m_yTitle;
  GraphLabel m_mainTitle;
  int m_xLabelOffset[2] = {0, 4};
  int m_yLabelOffset[2] = {-23, -6};
  int m_tickLength = 3;
  float m_markerSize[2] = {3.0f, 3.0f};
  std::vector<GraphLabel> m_xLabels;
  std::vector<GraphLabel> m_yLabels;
  float m_xmin = 0, m_xmax = 0, m_ymin = 0, m_ymax = 0;
  Gdiplus::PointF m_xAxis[2];
  Gdiplus::PointF m_yAxis[2];
  float m_scaleX = 0;
  float m_scaleY = 0;
};

class CLineGraph2D : public CBaseGraph2D {
 public:
  // The longest rolling plot: a plot is a few thousand pixels wide, and
  // larger buffers would take gigabytes.
  static constexpr int kMaxCyclicPoints = 1 << 24;

  CLineGraph2D();
  ~CLineGraph2D();

  // colour null takes the line colour. In cyclic mode only y is kept, as the
  // newest value of the rolling plot.
  int AddPoint(float x, float y, Gdiplus::Color* colour);
  // True makes a rolling plot of |xmax - xmin| points (set the axis first);
  // it is refused (-1, the graph stays plain) when that is not finite, below
  // 1 or above kMaxCyclicPoints. True again keeps the buffer. False leaves
  // cyclic mode, dropping its values; the points added outside it are drawn
  // again.
  int SetCyclicMode(bool cyclic);
  // Values outside the axis range are drawn at its edge.
  int SetClampMode(bool clamp);
  int SetDataForDrawing();
  int DrawData() override;
  int DrawBase() override;
  int DrawMarker(Gdiplus::PointF* point);

  bool IsCyclic() const { return m_bCyclic; }
  const FloatRingBuffer* GetRingBuffer() const { return m_pRing; }
  const std::vector<Gdiplus::PointF>& GetPositions() const { return m_positions; }

 private:
  Gdiplus::ARGB m_lineColour = 0xFFFF0000;
  std::vector<float> m_x;
  std::vector<float> m_y;
  std::vector<Gdiplus::PointF> m_positions;
  std::vector<Gdiplus::ARGB> m_colours;
  int m_count = 0;
  bool m_bCyclic = false;
  bool m_bClamp = false;
  FloatRingBuffer* m_pRing = nullptr;
};

class CScatterGraph2D : public CBaseGraph2D {
 public:
  CScatterGraph2D();
  ~CScatterGraph2D();

  int AddPoint(float x, float y, Gdiplus::Color* colour);
  int SetDataForDrawing();
  // One cross per position, in its point's colour.
  int DrawData() override;
  // Background, axes, labels and data: no titles, and the positions are the
  // ones the owner's last SetDataForDrawing made.
  int DrawBase() override;
  int DrawMarker(Gdiplus::PointF* point);

  const std::vector<Gdiplus::PointF>& GetPositions() const { return m_positions; }

 private:
  Gdiplus::ARGB m_markerColour = 0xFFFF0000;
  std::vector<float> m_x;
  std::vector<float> m_y;
  std::vector<Gdiplus::PointF> m_positions;
  std::vector<Gdiplus::ARGB> m_colours;
  int m_count = 0;
};

}  // namespace GDI
