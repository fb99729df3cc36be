#pragma once
// Frequency-domain shading numerics: a multidimensional radix-2 FFT, centred
// 2-D spectra of float images, and heights from one shaded image by dividing
// its spectrum by a linear reflectance model. Not exported: tests include
// this header.
//
// FourierTransformND alone is 1-based: data[1 .. 2N] holds N complex values
// as (real, imaginary) pairs and dims[1 .. ndim] the sizes, the last varying
// fastest; callers pass arrays one longer than needed and leave [0] unused.
// Spectra are 0-based: the element of image column x and row y stands at
// x x height + y.
//
// Refusals change nothing and record CV_StsBadArg or CV_StsBadSize in the
// calling thread's error status.

namespace CV {

// sign +1: kernel exp(+2 pi i jk / n); -1: exp(-2 pi i jk / n). Unscaled.
// Every dimension must be a power of two (1 included).
void FourierTransformND(float* data, int* dims, int ndim, int sign);

// Any power-of-two sizes. The spectrum is centred (zero frequency in the
// middle) and divided by width.
void ForwardSpectrumCentred(const float* image, int width, int height, float* re, float* im);
// Square sizes only: the inverse of ForwardSpectrumCentred.
void InverseSpectrumCentred(float* image, int width, int height, const float* re, const float* im);

// Square power-of-two images of at least 2 x 2. The image is left intact. An
// overhead or zero light gives all-zero heights.
void SurfaceFromShadingSpectrum(unsigned char* image, int width, int height, const float* light, float* heights);

// n centred frequencies for sample spacing s: i / (n s) - 0.5 / s for
// i < n / 2, then i / (n s). Caller frees with delete[]; an odd n leaves
// the last entry 0; null for n < 1 or a spacing not finite and non-zero.
float* FrequencyAxis(int n, float spacing);

void Magnitude(float* out, int width, int height, const float* a, const float* b);

}  // namespace CV
