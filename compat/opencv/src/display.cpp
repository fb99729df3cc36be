#include "cvcompat/display.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <map>
#include <memory>
#include <mutex>

#include "cvcompat/errstatus.h"

namespace cvcompat {
namespace {

std::mutex g_sinkMutex;
// Held through a shared_ptr so a sink being replaced stays alive while
// another thread is still calling it.
std::shared_ptr<const ImageSink> g_sink;

std::shared_ptr<const ImageSink> CurrentSink() {
    std::lock_guard lock(g_sinkMutex);
    return g_sink;
}

// GUI thread only.
std::map<std::string, QPointer<QLabel>>& Windows() {
    static std::map<std::string, QPointer<QLabel>> windows;
    return windows;
}

// Top-level widgets outlive QApplication unless deleted: run from its
// destructor, before the platform goes.
void DeleteWindows() {
    for (auto& [name, label] : Windows()) delete label.data();
    Windows().clear();
}

QImage ToQImage(const cv::Mat& m) {
    switch (m.channels()) {
    case 1: return QImage(m.data, m.cols, m.rows, static_cast<qsizetype>(m.step), QImage::Format_Grayscale8).copy();
    case 3: return QImage(m.data, m.cols, m.rows, static_cast<qsizetype>(m.step), QImage::Format_BGR888).copy();
    default: return QImage(m.data, m.cols, m.rows, static_cast<qsizetype>(m.step), QImage::Format_ARGB32).copy();
    }
}

void ShowOnGuiThread(const std::string& name, const cv::Mat& image) {
    auto& windows = Windows();
    QPointer<QLabel>& label = windows[name];
    if (!label) {
        if (windows.size() == 1) qAddPostRoutine(DeleteWindows);
        label = new QLabel();
        label->setWindowTitle(QString::fromStdString(name));
    }
    label->setPixmap(QPixmap::fromImage(ToQImage(image)));
    label->resize(image.cols, image.rows);
    label->show();
}

void DefaultSink(const std::string& name, const cv::Mat& image) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return;
    // Direct on the GUI thread, queued from any other.
    QMetaObject::invokeMethod(app, [name, image] { ShowOnGuiThread(name, image); }, Qt::AutoConnection);
}

}  // namespace

ImageSink SetImageSink(ImageSink sink) {
    auto next = sink ? std::make_shared<const ImageSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(g_sinkMutex);
    auto previous = std::exchange(g_sink, std::move(next));
    return previous ? *previous : ImageSink();
}

void ShowImage(const char* name, const IplImage* image) {
    if (!name || !image || !image->imageData || image->depth != IPL_DEPTH_8U ||
        (image->nChannels != 1 && image->nChannels != 3 && image->nChannels != 4))
        return ReportError(CV_StsBadArg, "cvcompat::ShowImage", "Null name or image, or not 8-bit 1, 3 or 4 channels",
                           "display.cpp", __LINE__);
    const cv::Mat copy = cv::cvarrToMat(image).clone();
    const std::string title(name);
    if (auto sink = CurrentSink()) {
        try {
            (*sink)(title, copy);
        } catch (...) {
            // A display path must never turn into an exception.
        }
    } else {
        DefaultSink(title, copy);
    }
}

}  // namespace cvcompat
