// vnl_float_3: a 3-vector of floats.
#pragma once

#include <vnl/vnl_vector_fixed.h>

using vnl_float_3 = vnl_vector_fixed<float, 3>;
