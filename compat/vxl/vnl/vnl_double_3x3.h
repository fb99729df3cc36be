// vnl_double_3x3: a 3 x 3 matrix of doubles.
#pragma once

#include <vnl/vnl_matrix_fixed.h>

using vnl_double_3x3 = vnl_matrix_fixed<double, 3, 3>;
