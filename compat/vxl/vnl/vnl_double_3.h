// vnl_double_3: a 3-vector of doubles.
#pragma once

#include <vnl/vnl_vector_fixed.h>

using vnl_double_3 = vnl_vector_fixed<double, 3>;
