#include "shading_numerics.h"

#include <cvcompat/errstatus.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <utility>
#include <vector>

namespace CV {
namespace {

constexpr const char* kSource = "shading_numerics.cpp";

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

}  // namespace

int Inverse_matrix(int n, double* determinant, double* a) {
    if (n < 1 || !determinant || !a)
        return Refuse(CV_StsBadArg, "Inverse_matrix", "Null matrix or size below 1", __LINE__), -100;
    auto at = [&](int i, int j) -> double& { return a[static_cast<size_t>(i) * n + j]; };
    // Row and column interchanges, undone on the inverse at the end.
    std::vector<int> rowRecord(n), colRecord(n);
    std::iota(rowRecord.begin(), rowRecord.end(), 0);
    std::iota(colRecord.begin(), colRecord.end(), 0);
    double det = 1.0;

    for (int k = 0; k < n; ++k) {
        double largest = 0.0;
        int pivotRow = k, pivotCol = k;
        for (int i = k; i < n; ++i)
            for (int j = k; j < n; ++j)
                if (std::fabs(at(i, j)) > largest) {
                    largest = std::fabs(at(i, j));
                    pivotRow = i;
                    pivotCol = j;
                }
        if (!(largest > 0.0)) {
            std::printf("\nInverse_matrix; singular\n");
            std::fflush(stdout);
            *determinant = 0.0;
            return -100;
        }
        if (pivotRow != k) {
            for (int j = 0; j < n; ++j) std::swap(at(k, j), at(pivotRow, j));
            std::swap(rowRecord[k], rowRecord[pivotRow]);
            det = -det;
        }
        if (pivotCol != k) {
            for (int i = 0; i < n; ++i) std::swap(at(i, k), at(i, pivotCol));
            std::swap(colRecord[k], colRecord[pivotCol]);
            det = -det;
        }
        const double pivot = at(k, k);
        at(k, k) = 1.0;
        const double inverse = 1.0 / pivot;
        for (int j = 0; j < n; ++j) at(k, j) *= inverse;
        for (int i = 0; i < n; ++i) {
            if (i == k || at(i, k) == 0.0) continue;
            const double f = at(i, k);
            at(i, k) = 0.0;
            for (int j = 0; j < n; ++j) at(i, j) -= f * at(k, j);
        }
        det *= pivot;
    }

    for (int k = 0; k < n - 1; ++k) {
        if (rowRecord[k] != k) {
            int i = k + 1;
            while (i < n && rowRecord[i] != k) ++i;
            if (i < n) {
                for (int r = 0; r < n; ++r) std::swap(at(r, k), at(r, i));
                std::swap(rowRecord[k], rowRecord[i]);
            } else {
                std::printf("\nInverse_matrix: 1 suspected machine error.\n");
                std::printf(" k = %d  ic[ %d ] = %d \n", k, n - 1, rowRecord[n - 1]);
            }
        }
        if (colRecord[k] != k) {
            int j = k + 1;
            while (j < n && colRecord[j] != k) ++j;
            if (j < n) {
                for (int c = 0; c < n; ++c) std::swap(at(k, c), at(j, c));
                std::swap(colRecord[k], colRecord[j]);
            } else {
                std::printf(" \nInverse_matrix: 2 suspected machine error.\n");
                std::printf(" k = %d  ic[ %d ] = %d \n", k, n - 1, colRecord[n - 1]);
            }
        }
    }
    std::fflush(stdout);
    *determinant = det;
    return 1;
}

std::array<float, 3> NormalFromShading(float gx, float gy, float brightness, float slant, float tilt,
                                       float maxBrightness) {
    const float s = std::acos(std::clamp(brightness / maxBrightness, -1.0f, 1.0f));
    float t = std::atan2(-std::sin(tilt) * gx + std::cos(tilt) * gy,
                         std::cos(slant) * (std::cos(tilt) * gx + std::sin(tilt) * gy) + 0.001f);
    if (t < 0.0f) t += 6.2831855f;
    return {std::cos(t) * std::sin(s), std::sin(t) * std::sin(s), std::cos(s)};
}

void ShadingNormalsFrontal(const unsigned char* image, int width, int height, const double* light, float* out) {
    const char* function = "ShadingNormalsFrontal";
    if (!image || !light || !out) return Refuse(CV_StsBadArg, function, "Null argument", __LINE__);
    if (width < 1 || height < 1) return Refuse(CV_StsBadSize, function, "Width and height must be at least 1", __LINE__);
    if (!std::isfinite(light[0]) || !std::isfinite(light[1]) || !std::isfinite(light[2]))
        return Refuse(CV_StsBadArg, function, "Light must be finite", __LINE__);
    const size_t n = static_cast<size_t>(width) * height;
    std::fill(out, out + n, 0.0f);
    const double length = std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    // No light, or no brightness to scale the slant by: no normal can be
    // told, and the frontal image is black.
    if (length == 0.0) return;
    std::vector<float> e(n);
    for (size_t t = 0; t < n; ++t) e[t] = image[t] * 0.003921569f;
    const float maxBrightness = *std::max_element(e.begin(), e.end());
    if (maxBrightness == 0.0f) return;

    const float lx = static_cast<float>(light[0] / length);
    const float ly = static_cast<float>(light[1] / length);
    const float lz = static_cast<float>(light[2] / length);
    float tilt = std::atan2(ly, lx + 0.0001f) * 57.295776f;
    if (tilt < 0.0f) tilt += 360.0f;
    tilt *= 0.017453292f;
    const float slant = std::acos(std::clamp(lz, -1.0f, 1.0f));

    const double ct = std::cos(tilt), st = std::sin(tilt), cs = std::cos(slant), ss = std::sin(slant);
    double rotation[9] = {ct * cs, st * cs, -ss, -st, ct, 0.0, ss * ct, ss * st, cs};
    double det = 0.0;
    if (Inverse_matrix(3, &det, rotation) != 1) return;

    // One normal per pixel, as the surface is processed.
    std::vector<std::array<float, 3>> normals(n, {0.0f, 0.0f, 0.0f});
    for (int i = 0; i + 1 < height; ++i)
        for (int j = 0; j + 1 < width; ++j) {
            const size_t t = static_cast<size_t>(i) * width + j;
            const float gx = e[t] - e[t + 1];
            const float gy = e[t + width] - e[t];
            const std::array<float, 3> local = NormalFromShading(gx, gy, e[t], slant, tilt, maxBrightness);
            std::array<float, 3>& v = normals[t];
            for (int r = 0; r < 3; ++r)
                v[r] = static_cast<float>(rotation[3 * r] * local[0] + rotation[3 * r + 1] * local[1] +
                                          rotation[3 * r + 2] * local[2]);
            const float scale = 1.0f / (std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) + 1e-6f);
            for (float& c : v) c *= scale;
            out[t] = 255.0f * v[2];
        }
}

int* IntVector(int low, int high) {
    if (high < low) return nullptr;
    const long long count = static_cast<long long>(high) - low + 1;
    auto* block = static_cast<int*>(std::malloc(static_cast<size_t>(count) * sizeof(int)));
    if (!block) return nullptr;
    // block - low as integers: the pointer may lie outside the block, which
    // pointer arithmetic would not allow.
    const uintptr_t offset = static_cast<uintptr_t>(static_cast<intptr_t>(low)) * sizeof(int);
    return reinterpret_cast<int*>(reinterpret_cast<uintptr_t>(block) - offset);
}

void FreeIntVector(int* p, int low) {
    if (!p) return;
    const uintptr_t offset = static_cast<uintptr_t>(static_cast<intptr_t>(low)) * sizeof(int);
    std::free(reinterpret_cast<int*>(reinterpret_cast<uintptr_t>(p) + offset));
}

double PowInt(double x, int e) {
    // The magnitude as unsigned: -INT_MIN does not fit an int.
    unsigned magnitude = e < 0 ? 0u - static_cast<unsigned>(e) : static_cast<unsigned>(e);
    double result = 1.0;
    double base = x;
    while (magnitude) {
        if (magnitude & 1u) result *= base;
        base *= base;
        magnitude >>= 1;
    }
    return e < 0 ? 1.0 / result : result;
}

double PowIntDouble(double x, int e) { return PowInt(x, e); }

double AcosF(float x) { return std::acos(static_cast<double>(x)); }

double Atan2F(float y, float x) {
    return static_cast<double>(std::atan2(static_cast<long double>(y), static_cast<long double>(x)));
}

float PowF(float base, float exponent) { return std::pow(base, exponent); }

}  // namespace CV
