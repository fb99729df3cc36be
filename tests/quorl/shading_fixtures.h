#pragma once
// Lambertian renderings of a Gaussian bump for the shading tests. Rows run
// down the image while the light's y points up the rows, so the surface
// slope along y is minus its slope along the row index.
#include <algorithm>
#include <cmath>
#include <vector>

namespace shading_test {

struct Bump {
    double centreRow, centreCol, sigma, amplitude;
    double Height(double i, double j) const {
        const double di = i - centreRow, dj = j - centreCol;
        return amplitude * std::exp(-(di * di + dj * dj) / (2.0 * sigma * sigma));
    }
};

// 255 x max(0, n . l) with n the unit normal and l the unit light.
inline std::vector<unsigned char> RenderLambertian(const Bump& bump, int width, int height, const double* light) {
    const double norm = std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    std::vector<unsigned char> image(static_cast<size_t>(width) * height);
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j) {
            const double h = bump.Height(i, j);
            const double di = i - bump.centreRow, dj = j - bump.centreCol;
            const double dzdx = -h * dj / (bump.sigma * bump.sigma);
            const double dzdy = h * di / (bump.sigma * bump.sigma);  // y up: minus d/drow
            const double n = std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0);
            const double shade = (-dzdx * light[0] - dzdy * light[1] + light[2]) / (n * norm);
            image[static_cast<size_t>(i) * width + j] =
                static_cast<unsigned char>(std::clamp(255.0 * shade, 0.0, 255.0) + 0.5);
        }
    return image;
}

template <class T>
void ArgMax(const std::vector<T>& v, int width, int& row, int& col) {
    const size_t at = std::max_element(v.begin(), v.end()) - v.begin();
    row = static_cast<int>(at / width);
    col = static_cast<int>(at % width);
}

}  // namespace shading_test
