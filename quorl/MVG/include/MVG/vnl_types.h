#pragma once
// The fixed-size VXL types of the camera interfaces. They come from the VXL
// subset under compat/; until that subset is part of the build, the functions
// that take or return them are left out of the interface.
#if __has_include(<vnl/vnl_matrix_fixed.h>)
#include <vnl/vnl_double_3.h>
#include <vnl/vnl_float_3.h>
#include <vnl/vnl_matrix_fixed.h>
#define QUORL_MVG_HAVE_VNL 1
#else
#define QUORL_MVG_HAVE_VNL 0
#endif
