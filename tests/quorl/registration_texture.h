#pragma once
// Analytic test scenes for image registration: a band-limited texture f
// (periods of 6 to 64 pixels plus soft blobs, grey 20 to 180) rendered
// exactly at any mapped position, so a target f(phi(x)) and a source f(x)
// carry no interpolation error.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace registration_texture {

inline double Texture(double x, double y) {
  constexpr double kTwoPi = 6.283185307179586;
  double v = 100.0;
  v += 22.0 * std::sin(kTwoPi * x / 41.0 + 0.3) * std::sin(kTwoPi * y / 53.0 + 1.1);
  v += 16.0 * std::cos(kTwoPi * (x + 0.6 * y) / 64.0);
  v += 12.0 * std::sin(kTwoPi * (0.8 * x - y) / 23.0 + 0.7);
  v += 8.0 * std::sin(kTwoPi * (x + 0.3 * y) / 13.0) * std::cos(kTwoPi * y / 17.0);
  v += 4.0 * std::cos(kTwoPi * (0.5 * x + y) / 6.0);
  const double blobs[4][3] = {{100, 140, 18}, {330, 90, 25}, {260, 380, 30}, {430, 300, 14}};
  for (const auto& b : blobs) {
    const double dx = std::fmod(x + 1e4, 512.0) - b[0], dy = std::fmod(y + 1e4, 512.0) - b[1];
    v += 30.0 * std::exp(-(dx * dx + dy * dy) / (2.0 * b[2] * b[2]));
  }
  return std::clamp(v, 20.0, 180.0);
}

// side x side bytes of f(phi(x, y)), with phi given in pixels of this side;
// scale stretches the texture (a 64-pixel image with scale 8 shows what a
// 512-pixel image shows).
inline std::vector<unsigned char> Render(int side, const std::function<void(double&, double&)>& phi,
                                         double scale = 1.0) {
  std::vector<unsigned char> image(static_cast<size_t>(side) * side);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      double px = x, py = y;
      phi(px, py);
      image[static_cast<size_t>(y) * side + x] =
          static_cast<unsigned char>(std::lround(Texture(px * scale, py * scale)));
    }
  return image;
}

inline std::vector<unsigned char> Render(int side, double scale = 1.0) {
  return Render(side, [](double&, double&) {}, scale);
}

}  // namespace registration_texture
