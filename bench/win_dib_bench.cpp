// Software frame buffer and DIB transfer costs: winDIB primitives on a VGA
// buffer, the two-channel >> 8 blend against a per-channel division by
// 255, and a VGA frame shown through SetDIBitsToDevice and StretchDIBits
// (the video panels' road) against QPainter::drawImage of the same frame.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <vector>

#include "quorlmfc/win_dib.h"
#include "win/gdi.h"

namespace {

constexpr int kW = 640, kH = 480;

struct Target {
  Target() {
    dc.CreateCompatibleDC(nullptr);
    bmp.CreateCompatibleBitmap(&dc, kW, kH);
    old = dc.SelectObject(&bmp);
  }
  ~Target() { dc.SelectObject(old); }
  CDC dc;
  CBitmap bmp;
  CBitmap* old;
};

// A VGA frame of one colour and the DIB that draws into it.
struct VgaDib {
  explicit VgaDib(std::uint32_t fill) : px(kW * kH, fill), dib(target.dc) {
    dib.frameBuffer(reinterpret_cast<unsigned char*>(px.data()), nullptr, kW, kH, 32);
  }
  std::vector<std::uint32_t> px;
  Target target;
  winDIB dib;
};

void BM_FillRectTranslucent(benchmark::State& s) {
  VgaDib v(0xFFFFFFFF);
  std::vector<std::uint32_t>& px = v.px;
  winDIB& d = v.dib;
  for (auto _ : s) {
    d.fillRect(0, 0, kW - 1, kH - 1, 0x80336699);
    benchmark::DoNotOptimize(px.data());
  }
  s.SetItemsProcessed(s.iterations() * kW * kH);
}
BENCHMARK(BM_FillRectTranslucent);

void BM_FillRectDivisionReference(benchmark::State& s) {
  std::vector<std::uint32_t> px(kW * kH, 0xFFFFFFFF);
  const std::uint32_t c = 0x80336699, a = c >> 24;
  for (auto _ : s) {
    for (std::uint32_t& p : px) {
      std::uint32_t out = 0;
      for (int sh = 0; sh < 24; sh += 8) {
        const std::uint32_t dch = (p >> sh) & 0xFF, sch = (c >> sh) & 0xFF;
        out |= ((dch * (255 - a) + sch * a) / 255) << sh;
      }
      p = out;
    }
    benchmark::DoNotOptimize(px.data());
  }
  s.SetItemsProcessed(s.iterations() * kW * kH);
}
BENCHMARK(BM_FillRectDivisionReference);

void BM_Lines(benchmark::State& s) {
  VgaDib v(0);
  std::vector<std::uint32_t>& px = v.px;
  winDIB& d = v.dib;
  d.srcRect() = CRect(0, 0, kW, kH);
  const bool aa = s.range(0) != 0;
  for (auto _ : s) {
    for (int i = 0; i < 100; ++i) {
      const float f = static_cast<float>(i);
      if (aa) d.aaLine(f, 0.5f * f, kW - 10 - f, kH - 10 - 0.3f * f, 0xC0FFFFFF);
      else d.line(f, 0.5f * f, kW - 10 - f, kH - 10 - 0.3f * f, 0xFFFFFFFF);
    }
    benchmark::DoNotOptimize(px.data());
  }
  s.SetItemsProcessed(s.iterations() * 100);
}
BENCHMARK(BM_Lines)->Arg(0)->Arg(1);

void BM_ShowFrame(benchmark::State& s) {
  VgaDib v(0xFF204060);
  winDIB& d = v.dib;
  d.srcRect() = CRect(0, 0, kW, kH);
  const bool stretch = s.range(0) != 0;
  d.dstRect() = stretch ? CRect(0, 0, kW / 2, kH / 2) : CRect(0, 0, kW, kH);
  for (auto _ : s) benchmark::DoNotOptimize(stretch ? d.stretchToDisplay() : d.copyToDisplay());
  s.SetItemsProcessed(s.iterations());
}
BENCHMARK(BM_ShowFrame)->Arg(0)->Arg(1);

void BM_ShowFrameQPainterReference(benchmark::State& s) {
  std::vector<std::uint32_t> px(kW * kH, 0xFF204060);
  const QImage src(reinterpret_cast<const uchar*>(px.data()), kW, kH, kW * 4, QImage::Format_RGB32);
  QImage dst(kW, kH, QImage::Format_RGB32);
  for (auto _ : s) {
    QPainter p(&dst);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, src);
    benchmark::DoNotOptimize(dst.constBits());
  }
  s.SetItemsProcessed(s.iterations());
}
BENCHMARK(BM_ShowFrameQPainterReference);

}  // namespace

BENCHMARK_MAIN();
