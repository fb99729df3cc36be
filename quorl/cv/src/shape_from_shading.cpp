#include "shape_from_shading.h"

#include <cvcompat/errstatus.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace CV {
namespace {

constexpr const char* kSource = "shape_from_shading.cpp";
// The constant the propagation was tuned with, not M_PI.
constexpr double kPi = 3.1415926535;
constexpr double kSeedHeight = 55.0;

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

bool CheckImage(const void* image, int width, int height, const void* out, const char* function) {
    if (!image || !out) return Refuse(CV_StsBadArg, function, "Null image or output", __LINE__), false;
    if (width < 1 || height < 1)
        return Refuse(CV_StsBadSize, function, "Width and height must be at least 1", __LINE__), false;
    return true;
}

// A table of rows x cols values reached through row pointers.
template <class T>
struct RowTable {
    RowTable(int rows, int cols, T fill) : values(static_cast<size_t>(rows) * cols, fill), rowPointers(rows) {
        for (int i = 0; i < rows; ++i) rowPointers[i] = values.data() + static_cast<size_t>(i) * cols;
    }
    T** rows() { return rowPointers.data(); }
    std::vector<T> values;
    std::vector<T*> rowPointers;
};

// The source pixel of target (i, j) when the image turns by theta about its
// centre (rows counted up from the middle, so y points up the rows).
// Truncation is toward zero, as the propagation was built with.
void RotatedSource(int i, int j, double theta, int width, int height, int& r, int& c) {
    const double dy = height / 2.0 - i;
    const double dx = j - width / 2.0;
    r = static_cast<int>(height / 2.0 - (std::sin(theta) * dx + std::cos(theta) * dy) + 0.5);
    c = static_cast<int>(std::cos(theta) * dx - std::sin(theta) * dy + width / 2.0 + 0.5);
}

}  // namespace

void ComputeDirectionSteps(double*** steps, double** brightness, int width, int height, const double* light) {
    if (!steps || !brightness || !light) return Refuse(CV_StsBadArg, "ComputeDirectionSteps", "Null argument", __LINE__);
    const double halfRoot = std::sqrt(0.5);
    for (int k = 0; k < 8; ++k) {
        const double phi = k * kPi * 0.25;
        const double a = light[0] * std::sin(phi) - light[1] * std::cos(phi);
        const double b = -(light[0] * std::cos(phi) + light[1] * std::sin(phi));
        for (int i = 0; i < height; ++i)
            for (int j = 0; j < width; ++j) {
                const double e = brightness[i][j];
                const double c = e * e - a * a;
                const double d = (1.0 - e * e) * c;
                double s = kNoHeight;
                if (d >= 0.0) {
                    const double den = c - b * b + 1e-10;
                    // A zero denominator has no solution, whatever the sign of b.
                    if (den > 0.0 || (b < 1e-6 && den != 0.0)) s = (-light[2] * b - std::sqrt(d)) / den;
                }
                // Diagonal neighbours lie sqrt(2) away; the sentinel is scaled too.
                if (k % 2 == 1) s *= halfRoot;
                steps[i][j][k] = s;
            }
    }
}

double PropagateHeightsOnce(double** heights, int sweep, double*** steps, int width, int height) {
    if (!heights || !steps) return Refuse(CV_StsBadArg, "PropagateHeightsOnce", "Null argument", __LINE__), 0.0;
    if (height <= 4 || width <= 4) return 0.0;
    static const int kEven[4][2] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}};
    static const int kOdd[4][2][2] = {{{1, 0}, {0, 1}}, {{0, -1}, {1, 0}}, {{-1, 0}, {0, -1}}, {{0, 1}, {-1, 0}}};
    const int phase = ((sweep % 4) + 4) % 4;
    const bool rowsForward = phase <= 1;
    const bool colsForward = (phase % 2) == 1;
    double sum = 0.0;
    for (int ri = 0; ri < height - 4; ++ri) {
        const int i = rowsForward ? 2 + ri : height - 3 - ri;
        for (int ci = 0; ci < width - 4; ++ci) {
            const int j = colsForward ? 2 + ci : width - 3 - ci;
            const double* s = steps[i][j];
            double& z = heights[i][j];
            auto consider = [&](double candidate) {
                if (candidate > z + 1e-5) {
                    sum += candidate - z;
                    z = candidate;
                }
            };
            for (int k = 0; k < 4; ++k) {
                consider(heights[i + kEven[k][0]][j + kEven[k][1]] + s[2 * k]);
                const double mean = (heights[i + kOdd[k][0][0]][j + kOdd[k][0][1]] +
                                     heights[i + kOdd[k][1][0]][j + kOdd[k][1][1]]) /
                                    2.0;
                consider(mean + s[2 * k + 1]);
            }
        }
    }
    return sum;
}

void ShapeFromShading(const unsigned char* image, int width, int height, const double* light, float* heights) {
    const char* function = "ShapeFromShading";
    if (!CheckImage(image, width, height, heights, function)) return;
    if (!light) return Refuse(CV_StsBadArg, function, "Null light", __LINE__);
    const double lx = light[0], ly = light[1], lz = light[2];
    if (!std::isfinite(lx) || !std::isfinite(ly) || !std::isfinite(lz))
        return Refuse(CV_StsBadArg, function, "Light must be finite", __LINE__);

    const size_t n = static_cast<size_t>(width) * height;
    const auto [minIt, maxIt] = std::minmax_element(image, image + n);
    const double lo = *minIt, hi = *maxIt;
    // Without contrast the brightness has no scale, and a zero light lights
    // nothing: both give a flat surface.
    if (hi == lo || (lx == 0.0 && ly == 0.0 && lz == 0.0)) {
        std::fill(heights, heights + n, 0.0f);
        return;
    }

    double theta = 0.0;
    if (lx * lx + ly * ly != 0.0) {
        theta = std::acos(lx / std::sqrt(lx * lx + ly * ly));
        if (ly < 0.0) theta = 2.0 * kPi - theta;
    }

    RowTable<double> brightness(height, width, 0.0);
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j) {
            int r, c;
            RotatedSource(i, j, theta, width, height, r, c);
            if (r >= 0 && r < height && c >= 0 && c < width)
                brightness.rows()[i][j] = (image[static_cast<size_t>(r) * width + c] - lo) / (hi - lo);
        }

    double turned[3] = {lx * std::cos(theta) + ly * std::sin(theta), ly * std::cos(theta) - lx * std::sin(theta), lz};
    const double norm = std::sqrt(turned[0] * turned[0] + turned[1] * turned[1] + turned[2] * turned[2]);
    for (double& v : turned) v /= norm;

    RowTable<double> z(height, width, kNoHeight);
    bool seeded = false;
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j)
            if (std::fabs(brightness.rows()[i][j] - 1.0) < 0.01) {
                z.rows()[i][j] = kSeedHeight;
                seeded = true;
            }
    if (!seeded) z.rows()[height / 2][width / 2] = kSeedHeight;

    std::vector<double> blocks(n * 8);
    RowTable<double*> steps(height, width, nullptr);
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j) steps.rows()[i][j] = blocks.data() + (static_cast<size_t>(i) * width + j) * 8;
    ComputeDirectionSteps(steps.rows(), brightness.rows(), width, height, turned);

    double previous = 9e9;
    for (int sweep = 0; sweep <= 10; ++sweep) {
        const double v = PropagateHeightsOnce(z.rows(), sweep, steps.rows(), width, height);
        if (std::fabs(previous - v) < 1.0 && v < previous) break;
        previous = v;
    }

    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j) {
            int r, c;
            RotatedSource(i, j, -theta, width, height, r, c);
            double h = 0.0;
            if (r >= 0 && r < height && c >= 0 && c < width) h = std::max(z.rows()[r][c], 0.0);
            heights[static_cast<size_t>(i) * width + j] = static_cast<float>(h);
        }
}

void ShadingHeightIteration(const unsigned char* image, int rows, int cols, int, int iterations, float* heights) {
    if (!CheckImage(image, cols, rows, heights, "ShadingHeightIteration")) return;
    const size_t n = static_cast<size_t>(rows) * cols;
    std::vector<float> z(n, 0.0f), v(n, 1.0f), zNext(n), vNext(n);
    // Norm of the fixed light direction (0.002, 0.002, 1).
    const float norm = std::sqrt(1.000008f);
    for (int pass = 0; pass < iterations; ++pass) {
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j) {
                const size_t t = static_cast<size_t>(i) * cols + j;
                float p = 0.0f, q = 0.0f;
                if (i >= 1 && j >= 1) {
                    p = z[t] - z[t - 1];
                    q = z[t] - z[t - cols];
                }
                const float e = image[t] * 0.003921569f;
                const float m = p * p + q * q + 1.0f;
                const float lit = (p + q) * 0.002f + 1.0f;
                float r = lit / (norm * std::sqrt(m));
                if (r < 0.0f) r = 0.0f;
                const float d = -(0.004f / (norm * std::sqrt(m)) - (p + q) * lit / (norm * std::sqrt(m * m * m)));
                const float k = v[t] * d / (v[t] * d * d + 1e-8f);
                vNext[t] = (1.0f - k * d) * v[t];
                zNext[t] = z[t] + k * (((r - e) + z[t] * d) - z[t] * d);
            }
        z.swap(zNext);
        v.swap(vNext);
    }
    std::copy(z.begin(), z.end(), heights);
}

}  // namespace CV
