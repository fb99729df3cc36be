#pragma once
// cvSaveImage as the OpenCV 1.x C interface offered it. OpenCV 4.6 ships no
// C image codecs (imgcodecs_c.h is an #error stub and the library exports no
// cvSaveImage), so this one writes through cv::imwrite.
//
// The path is taken as given: callers holding an old-form path ("C:\x.bmp")
// map it first (quorl::MapPath). The format follows the extension.
#include <opencv2/core/types_c.h>

// Returns non-zero when the file was written, 0 otherwise. A failure (an
// unusable image, an unknown extension, a folder that does not exist) is
// recorded as a status through cvcompat's error layer; nothing throws.
int cvSaveImage(const char* path, const CvArr* image, const int* params = nullptr);
