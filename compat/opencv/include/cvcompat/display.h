#pragma once
// Showing an image in a named window, in place of highgui's cvNamedWindow and
// cvShowImage (highgui is not linked: it needs a display and aborts without
// one). ShowImage hands a copy of the image to a replaceable sink; the default
// sink shows it in a top-level Qt window of that title, updated on the GUI
// thread, when a QApplication exists, and drops it otherwise.
//
// This library is apart from compat_opencv so that code without windows does
// not link Qt Widgets.
#include <opencv2/core/mat.hpp>
#include <opencv2/core/types_c.h>

#include <functional>
#include <string>

namespace cvcompat {

using ImageSink = std::function<void(const std::string& name, const cv::Mat& image)>;

// Installs a sink and returns the previous one (empty for the default); an
// empty sink restores the default. The sink may be called from any thread
// that shows an image and must not throw.
ImageSink SetImageSink(ImageSink sink);

// Callable from any thread. Null name or image, or an image not 8-bit with 1,
// 3 or 4 channels, shows nothing and records CV_StsBadArg.
void ShowImage(const char* name, const IplImage* image);

}  // namespace cvcompat
