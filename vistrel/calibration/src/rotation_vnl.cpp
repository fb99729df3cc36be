#include <calibmath/rotation.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include <vnl/algo/vnl_svd.h>
#include <vnl/vnl_matrix.h>

#include "calibration/rotation.h"

int RodriguesVnl(double R[9], double r[3], int direction) {
    if (direction == 1) {
        const double theta = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
        if (theta < std::numeric_limits<double>::epsilon()) {
            const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
            std::copy(I, I + 9, R);
            return 0;
        }
        const double c = std::cos(theta), s = std::sin(theta), c1 = 1 - c;
        const double n[3] = {r[0] / theta, r[1] / theta, r[2] / theta};
        const double nx[9] = {0, -n[2], n[1], n[2], 0, -n[0], -n[1], n[0], 0};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) R[i * 3 + j] = (i == j ? c : 0) + c1 * n[i] * n[j] + s * nx[i * 3 + j];
        return 0;
    }

    const vnl_svd<double> svd(vnl_matrix<double>(R, 3, 3));
    const vnl_matrix<double> Q = svd.U() * svd.V().transpose();
    const double* q = Q.data_block();
    // Rounding can put the trace of a product of rotations just above 3.
    const double c = std::clamp((q[0] + q[4] + q[8] - 1) * 0.5, -1.0, 1.0);
    const double theta = std::acos(c);
    const double s = std::sin(theta);
    if (s >= 0.00001) {
        const double f = theta / (2 * s);
        r[0] = f * (q[7] - q[5]);
        r[1] = f * (q[2] - q[6]);
        r[2] = f * (q[3] - q[1]);
    } else if (c > 0) {
        // First order: R = I + [r]x.
        r[0] = 0.5 * (q[7] - q[5]);
        r[1] = 0.5 * (q[2] - q[6]);
        r[2] = 0.5 * (q[3] - q[1]);
    } else {
        calibmath::HalfTurnRotationVector(q, r);
    }
    return 0;
}
