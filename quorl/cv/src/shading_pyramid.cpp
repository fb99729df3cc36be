#include "shading_pyramid.h"

#include <cvcompat/errstatus.h>

#include <cmath>
#include <limits>
#include <vector>

namespace CV {
namespace {

constexpr const char* kSource = "shading_pyramid.cpp";

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

// rows x cols floats behind row pointers.
struct Table {
    Table(int rows, int cols, float fill) : values(static_cast<size_t>(rows) * cols, fill), rowPointers(rows) {
        for (int i = 0; i < rows; ++i) rowPointers[i] = values.data() + static_cast<size_t>(i) * cols;
    }
    float** rows() { return rowPointers.data(); }
    std::vector<float> values;
    std::vector<float*> rowPointers;
};

// A level whose size is not a multiple of two times the coarser one has a
// row or a column more than the prolongation fills: repeat the last filled
// ones into it.
void ReplicateEdges(float** t, int filledRows, int filledCols, int rows, int cols) {
    for (int j = 0; j < filledRows; ++j)
        for (int x = filledCols; x < cols; ++x) t[j][x] = t[j][filledCols - 1];
    for (int j = filledRows; j < rows; ++j)
        for (int x = 0; x < cols; ++x) t[j][x] = t[filledRows - 1][x];
}

}  // namespace

void RelaxHeightGradient(float** E, float** P, float** Q, float** Z, float** Pn, float** Qn, float** Zn, int cols,
                         int rows, float a, float b, float c, float d) {
    const char* function = "RelaxHeightGradient";
    if (!E || !P || !Q || !Z || !Pn || !Qn || !Zn) return Refuse(CV_StsBadArg, function, "Null table", __LINE__);
    // The differences reach one pixel either way.
    if (rows < 2 || cols < 2) return Refuse(CV_StsBadSize, function, "A level must be at least 2 x 2", __LINE__);
    constexpr float kStep = 0.001f;
    auto reflectance = [&](float p, float q) { return (c - p * a - q * b) / std::sqrt(p * p + q * q + 1.0f) + d; };
    float previous[3] = {0.0f, 0.0f, 0.0f};
    for (int sweep = 0; sweep < 500; ++sweep) {
        float sums[3] = {0.0f, 0.0f, 0.0f};
        for (int j = 0; j < rows; ++j) {
            const bool edgeRow = j == 0 || j == rows - 1;
            const int below = j == rows - 1 ? j - 1 : j + 1;  // mirrored at the last row
            for (int x = 0; x < cols; ++x) {
                const bool edgeCol = x == 0 || x == cols - 1;
                const int right = x == cols - 1 ? x - 1 : x + 1;
                auto xx = [&](float** t) { return edgeCol ? 0.0f : t[j][x - 1] + t[j][x + 1] - 2.0f * t[j][x]; };
                auto yy = [&](float** t) { return edgeRow ? 0.0f : t[j - 1][x] + t[j + 1][x] - 2.0f * t[j][x]; };
                const float p = P[j][x];
                const float q = Q[j][x];
                const float dP = P[j][right] - p;
                const float dQ = Q[below][x] - q;
                const float dZx = Z[j][right] - Z[j][x];
                const float dZy = Z[below][x] - Z[j][x];
                const float r0 = reflectance(p, q);
                const float rp = reflectance(p + kStep, q) - r0;
                const float rq = reflectance(p, q + kStep) - r0;
                const float e = (yy(Q) + xx(Q)) * rq + (yy(P) + xx(P)) * rp - xx(E) - yy(E) - (r0 - E[j][x]);
                const float lz = yy(Z) + xx(Z) - (dQ + dP);
                const float b1 = e * rp - (p - dZx) - 0.25f * lz;
                const float b2 = e * rq - (q - dZy) - 0.25f * lz;
                const float a11 = 5.0f * rp * rp + 1.25f;
                const float a12 = 5.0f * rp * rq + 0.25f;
                const float a22 = 5.0f * rq * rq + 1.25f;
                const float det = a11 * a22 - a12 * a12;
                const float dp = (b1 * a22 - b2 * a12) / det;
                const float dq = (b2 * a11 - b1 * a12) / det;
                const float dz = 0.25f * (dq + dp + lz);
                Pn[j][x] = p + dp;
                Qn[j][x] = q + dq;
                Zn[j][x] = Z[j][x] + dz;
                sums[0] += dp;
                sums[1] += dq;
                sums[2] += dz;
            }
        }
        if (std::fabs(sums[0] - previous[0]) < 1e-6f && std::fabs(sums[1] - previous[1]) < 1e-6f &&
            std::fabs(sums[2] - previous[2]) < 1e-6f)
            return;
        for (int j = 0; j < rows; ++j)
            for (int x = 0; x < cols; ++x) {
                P[j][x] = Pn[j][x];
                Q[j][x] = Qn[j][x];
                Z[j][x] = Zn[j][x];
            }
        for (int k = 0; k < 3; ++k) previous[k] = sums[k];
    }
}

void ProlongateFields(float** P, float** Q, float** Z, float** Pc, float** Qc, float** Zc, int coarseCols,
                      int coarseRows) {
    const char* function = "ProlongateFields";
    if (!P || !Q || !Z || !Pc || !Qc || !Zc) return Refuse(CV_StsBadArg, function, "Null table", __LINE__);
    // The edge extrapolations read two rows and two columns in.
    if (coarseRows < 2 || coarseCols < 2)
        return Refuse(CV_StsBadSize, function, "The coarse level must be at least 2 x 2", __LINE__);
    const int R = coarseRows, C = coarseCols;
    // Positions below are counted from 1, fine (J, X) and coarse (I, Y).
    auto fine = [](float** t, int J, int X) -> float& { return t[J - 1][X - 1]; };
    auto mean = [](float** t, int J, int X) {
        const int i0 = J % 2 == 0 ? J / 2 : (J - 1) / 2, i1 = J % 2 == 0 ? J / 2 : (J + 1) / 2;
        const int y0 = X % 2 == 0 ? X / 2 : (X - 1) / 2, y1 = X % 2 == 0 ? X / 2 : (X + 1) / 2;
        return (t[i0 - 1][y0 - 1] + t[i0 - 1][y1 - 1] + t[i1 - 1][y0 - 1] + t[i1 - 1][y1 - 1]) / 4.0f;
    };
    for (int J = 2; J <= 2 * R - 1; ++J)
        for (int X = 2; X <= 2 * C; ++X) {
            fine(P, J, X) = mean(Pc, J, X);
            fine(Q, J, X) = mean(Qc, J, X);
            // Heights are counted in pixels, which halve in size.
            fine(Z, J, X) = 2.0f * mean(Zc, J, X);
        }
    // p is the column difference of z and q the row difference.
    for (int X = 2; X <= 2 * C; ++X) {
        fine(P, 1, X) = 2.0f * fine(P, 2, X) - fine(P, 3, X);
        fine(Q, 1, X) = 2.0f * fine(Q, 2, X) - fine(Q, 3, X);
        fine(Z, 1, X) = fine(Z, 2, X) - fine(Q, 1, X);
    }
    const int last = 2 * R;
    for (int X = 2; X <= 2 * C; ++X) {
        fine(P, last, X) = 2.0f * fine(P, last - 1, X) - fine(P, last - 2, X);
        fine(Q, last, X) = 2.0f * fine(Q, last - 1, X) - fine(Q, last - 2, X);
        fine(Z, last, X) = fine(Z, last - 1, X) + fine(Q, last - 1, X);
    }
    for (int J = 1; J <= last - 1; ++J) {
        fine(P, J, 1) = 2.0f * fine(P, J, 2) - fine(P, J, 3);
        fine(Q, J, 1) = 2.0f * fine(Q, J, 2) - fine(Q, J, 3);
        fine(Z, J, 1) = fine(Z, J, 2) - fine(P, J, 1);
    }
    fine(P, last, 1) = 2.0f * fine(P, last - 1, 2) - fine(P, last - 2, 3);
    fine(Q, last, 1) = 2.0f * fine(Q, last - 1, 2) - fine(Q, last - 2, 3);
    fine(Z, last, 1) = fine(Z, last - 1, 2) - fine(P, last, 1) + fine(Q, last, 1);
}

void ShadingHeightGradientPyramid(const unsigned char** pyramid, int rows, int cols, const float* light, unsigned L,
                                  float* heights) {
    const char* function = "ShadingHeightGradientPyramid";
    if (!pyramid || !light || !heights) return Refuse(CV_StsBadArg, function, "Null argument", __LINE__);
    if (L >= 31) return Refuse(CV_StsBadSize, function, "Too many levels", __LINE__);
    if (rows < 1 || cols < 1 || (rows >> L) < 2 || (cols >> L) < 2)
        return Refuse(CV_StsBadSize, function, "The coarsest level must be at least 2 x 2", __LINE__);
    for (unsigned k = 0; k <= L; ++k)
        if (!pyramid[k]) return Refuse(CV_StsBadArg, function, "Null pyramid image", __LINE__);
    if (!std::isfinite(light[0]) || !std::isfinite(light[1]) || !std::isfinite(light[2]))
        return Refuse(CV_StsBadArg, function, "Light must be finite", __LINE__);

    float x = light[0], y = light[1];
    if (x == 0.0f && y == 0.0f) x = y = 0.01f;
    const float length = std::sqrt(x * x + y * y + light[2] * light[2]);
    // The z component enters negated: the model's light points into the
    // surface, unlike the other shading routines.
    const float a = x / length, b = y / length, c = -light[2] / length;

    // NaN marks what no level has written yet, so that nothing unwritten can
    // pass into a result unnoticed.
    const float unset = std::numeric_limits<float>::quiet_NaN();
    Table P(rows, cols, unset), Q(rows, cols, unset), Z(rows, cols, unset);
    Table Pn(rows, cols, unset), Qn(rows, cols, unset), Zn(rows, cols, unset), E(rows, cols, unset);
    const int coarseRows = rows >> L, coarseCols = cols >> L;
    for (int j = 0; j < coarseRows; ++j)
        for (int i = 0; i < coarseCols; ++i) P.rows()[j][i] = Q.rows()[j][i] = Z.rows()[j][i] = 0.0f;

    for (unsigned k = 0; k <= L; ++k) {
        const int r = rows >> (L - k), cl = cols >> (L - k);
        for (int j = 0; j < r; ++j)
            for (int i = 0; i < cl; ++i) E.rows()[j][i] = pyramid[k][static_cast<size_t>(j) * cl + i] * 0.003921569f;
        RelaxHeightGradient(E.rows(), P.rows(), Q.rows(), Z.rows(), Pn.rows(), Qn.rows(), Zn.rows(), cl, r, a, b, c,
                            0.0f);
        if (k == L) break;
        ProlongateFields(P.rows(), Q.rows(), Z.rows(), Pn.rows(), Qn.rows(), Zn.rows(), cl, r);
        const int nextRows = rows >> (L - k - 1), nextCols = cols >> (L - k - 1);
        for (Table* t : {&P, &Q, &Z}) ReplicateEdges(t->rows(), 2 * r, 2 * cl, nextRows, nextCols);
    }
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) heights[static_cast<size_t>(j) * cols + i] = Zn.rows()[j][i];
}

}  // namespace CV
