#include "transformation.h"

#include <cmath>
#include <cstdint>

namespace MIR {
namespace Cubic {

void ScaleableRigidTrafo::SetNativeParams(const double* v) {
  tx = v[0];
  ty = v[1];
  angle = v[2];
  scale = v[3];
}

void ScaleableRigidTrafo::GetNativeParams(double* v) {
  v[0] = tx;
  v[1] = ty;
  v[2] = angle;
  v[3] = scale;
}

void ScaleableRigidTrafo::TransformPoint(double x, double y, double* xOut, double* yOut) {
  const double dx = (x - centreX) * scale, dy = (y - centreY) * scale;
  const double c = std::cos(angle), s = std::sin(angle);
  *xOut = dx * c - dy * s + tx + centreX;
  *yOut = dy * c + dx * s + ty + centreY;
}

void ScaleableRigidTrafo::TransformGrid(double* xs, double* ys, int L) {
  const int m = (1 << L) + 1;
  const double d = 1.0 / (m - 1);
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) TransformPoint(c * d, r * d, xs + r * m + c, ys + r * m + c);
}

void ScaleableRigidTrafo::SetParams(const double* p) {
  tx = 0.5 * p[1];
  ty = 0.5 * p[2];
  angle = 0.05 * p[3];
  scale = 0.05 * (p[4] + 19.0);
}

void ScaleableRigidTrafo::GetParams(double* p) {
  p[1] = 2.0 * tx;
  p[2] = 2.0 * ty;
  p[3] = 20.0 * angle;
  p[4] = 20.0 * scale - 19.0;
}

void ScaleableRigidTrafo::GetGradient(double* g) {
  g[1] = -0.5 * gradient[0];
  g[2] = -0.5 * gradient[1];
  g[3] = -0.05 * gradient[2];
  g[4] = -0.05 * gradient[3];
}

void ScaleableRigidTrafo::Cost(const double* p, double* costOut) {
  if (!source || !reference || !source->pixels || !reference->pixels) return;
  SetParams(p);
  ComputeCost(source->pixels, reference->pixels, source->background, source->log2Width);
  *costOut = GetCost();
}

void ScaleableRigidTrafo::CostAndGradient(const double* p, double* g, double* costOut) {
  if (!source || !reference || !source->pixels || !reference->pixels) return;
  SetParams(p);
  ComputeCostAndGradient(source->pixels, reference->pixels, source->background, source->log2Width);
  GetGradient(g);
  *costOut = GetCost();
}

namespace {

// One bilinear sample of the rigid walk in 10-bit fixed point.
struct RigidSample {
  bool inside = false;
  std::int64_t top = 0, bot = 0;  // 1024 x the patch's top and bottom rows at fx
  int fx = 0, fy = 0;
  int p00 = 0, p01 = 0, p10 = 0, p11 = 0;
  // The plain sum 2^20 x the bilinear value.
  std::int64_t Sum() const { return (bot - top) * fy + 1024 * top; }
};

// Walks the reference grid row by row and hands each pixel's sample, its
// reference offsets from the centre (pixels) and its index to visit.
template <class Visit>
void WalkRigid(const ScaleableRigidTrafo& t, const unsigned short* src, int log2Size, Visit&& visit) {
  const int n = 1 << log2Size;
  const double c = std::cos(t.angle), s = std::sin(t.angle);
  const double toFixed = std::ldexp(1.0, log2Size + 10);
  // Positions further out than this are outside whatever the side; keeping
  // them in range keeps the integer conversion defined.
  const double limit = std::ldexp(1.0, 40);
  for (int j = 0; j < n; ++j) {
    const double w = static_cast<double>(j) / n;
    for (int i = 0; i < n; ++i) {
      const double u = static_cast<double>(i) / n;
      const double dx = (u - t.centreX) * t.scale, dy = (w - t.centreY) * t.scale;
      const double fxd = (dx * c - dy * s + t.tx + t.centreX) * toFixed;
      const double fyd = (dx * s + dy * c + t.ty + t.centreY) * toFixed;
      RigidSample sample;
      if (std::fabs(fxd) < limit && std::fabs(fyd) < limit) {
        const std::int64_t X = static_cast<std::int64_t>(fxd), Y = static_cast<std::int64_t>(fyd);
        if (X >= 0 && Y >= 0 && (X >> 10) < n - 1 && (Y >> 10) < n - 1) {
          const int x0 = static_cast<int>(X >> 10), y0 = static_cast<int>(Y >> 10);
          const unsigned short* p = src + x0 + (static_cast<std::ptrdiff_t>(y0) << log2Size);
          sample.inside = true;
          sample.p00 = p[0];
          sample.p01 = p[1];
          sample.p10 = p[n];
          sample.p11 = p[n + 1];
          sample.fx = static_cast<int>(X & 1023);
          sample.fy = static_cast<int>(Y & 1023);
          sample.top = static_cast<std::int64_t>(sample.p01 - sample.p00) * sample.fx + 1024LL * sample.p00;
          sample.bot = static_cast<std::int64_t>(sample.p11 - sample.p10) * sample.fx + 1024LL * sample.p10;
        }
      }
      visit(sample, i - t.centreX * n, j - t.centreY * n, i + (j << log2Size));
    }
  }
}

}  // namespace

void ScaleableRigidTrafo::ComputeCost(const unsigned short* src, const unsigned short* ref, int background,
                                      int log2Size) {
  double sSR = 0, sRR = 0, sS = 0, sR = 0, sSS = 0;
  WalkRigid(*this, src, log2Size, [&](const RigidSample& k, double, double, int index) {
    const double S = k.inside ? (k.Sum() + 1048576.0) / 1048576.0 : background;
    const double R = ref[index];
    sSR += S * R;
    sRR += R * R;
    sS += S;
    sR += R;
    sSS += S * S;
  });
  const double N = std::ldexp(1.0, 2 * log2Size);
  const double mS = sS / N, mR = sR / N;
  const double var = (sRR - N * mR * mR) * (sSS - N * mS * mS);
  ncc = var > 0.0 ? (sSR - N * mS * mR) / std::sqrt(var) : 0.0;
}

void ScaleableRigidTrafo::ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref,
                                                 int background, int log2Size) {
  for (int k = 0; k < 4; ++k) sumDS[k] = sumDR[k] = sumD[k] = 0.0;
  double sSR = 0, sRR = 0, sS = 0, sR = 0, sSS = 0;
  const double c = std::cos(angle), s = std::sin(angle);
  WalkRigid(*this, src, log2Size, [&](const RigidSample& k, double P, double Q, int index) {
    const double R = ref[index];
    double S = background;
    if (k.inside) {
      S = (k.Sum() + 1048576.0) / 1048576.0;
      const int a = k.p01 - k.p00, b = k.p11 - k.p10;
      const double Dx = (1024.0 * a + static_cast<double>(b - a) * k.fy) / 1024.0;
      const double Dy = static_cast<double>(k.bot - k.top) / 1024.0;
      // The derivatives of the mapped position take the reference offsets:
      // d/d angle of R(angle) scale (P, Q) and d/d scale of the same.
      const double Rr = P * c - Q * s;
      const double D[4] = {Dx, Dy, (-P * s - Q * c) * scale * Dx + Rr * scale * Dy, (P * s + Q * c) * Dy + Rr * Dx};
      for (int m = 0; m < 4; ++m) {
        sumDS[m] += D[m] * S;
        sumDR[m] += D[m] * R;
        sumD[m] += D[m];
      }
    }
    sSR += S * R;
    sRR += R * R;
    sS += S;
    sR += R;
    sSS += S * S;
  });
  const double N = std::ldexp(1.0, 2 * log2Size);
  const double n = std::ldexp(1.0, log2Size);
  const double mS = sS / N, mR = sR / N;
  const double C = sSR - N * mS * mR, VS = sSS - N * mS * mS, VR = sRR - N * mR * mR;
  if (!(VS > 0.0 && VR > 0.0)) {
    ncc = 0.0;
    for (double& g : gradient) g = 0.0;
    return;
  }
  const double v = std::sqrt(VR * VS), r = 1.0 / (VR * VS), wgt = v / VS;
  ncc = C / v;
  double d[4];
  for (int m = 0; m < 4; ++m) d[m] = ((sumDR[m] - mR * sumD[m]) * v - (sumDS[m] - mS * sumD[m]) * wgt * C) * r;
  gradient[0] = n * d[0];
  gradient[1] = n * d[1];
  gradient[2] = d[2];
  gradient[3] = d[3];
}

void ScaleableRigidTrafo::RenderWarp(const unsigned short* src, unsigned short* out, int background, int log2Size) {
  WalkRigid(*this, src, log2Size, [&](const RigidSample& k, double, double, int index) {
    if (!k.inside) {
      out[index] = static_cast<unsigned short>(background);
      return;
    }
    const std::int64_t v = (k.Sum() + (1 << 19)) >> 20;
    out[index] = static_cast<unsigned short>(v > 65535 ? 65535 : (v < 0 ? 0 : v));
  });
}

}  // namespace Cubic
}  // namespace MIR
