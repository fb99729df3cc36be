#pragma once
// Every name of the spline registration family, MIR::Cubic.
#include "image.h"
#include "image_matcher.h"
#include "optimizer.h"
#include "trafo_cubic_intensity_cubic.h"
#include "trafo_cubic_spline.h"
#include "trafo_quadratic_spline.h"
#include "transformation.h"
