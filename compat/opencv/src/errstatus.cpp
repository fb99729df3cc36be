#include "cvcompat/errstatus.h"

#include <opencv2/core.hpp>

#include <cstdio>
#include <memory>
#include <new>
#include <mutex>

namespace cvcompat {
namespace {

struct ThreadState {
    int status = CV_StsOk;
    ErrorReport last;
    long count = 0;
};

ThreadState& State() {
    thread_local ThreadState state;
    return state;
}

std::mutex g_handlerMutex;
// Held through a shared_ptr so a handler being replaced by one thread stays
// alive while another thread is still calling it.
std::shared_ptr<const ErrorHandler> g_handler;

std::shared_ptr<const ErrorHandler> CurrentHandler() {
    std::lock_guard lock(g_handlerMutex);
    return g_handler;
}

}  // namespace

void DefaultErrorHandler(const ErrorReport& r) {
    std::fprintf(stderr, "Error %d in %s (%s:%d): %s\n", r.status, r.function.c_str(), r.source.c_str(), r.line,
                 r.message.c_str());
}

ErrorHandler SetErrorHandler(ErrorHandler handler) {
    auto next = handler ? std::make_shared<const ErrorHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(g_handlerMutex);
    auto previous = std::exchange(g_handler, std::move(next));
    return previous ? *previous : ErrorHandler();
}

void ReportError(int status, const char* function, const char* message, const char* source, int line) {
    ThreadState& s = State();
    s.status = status;
    s.last.status = status;
    s.last.function = function ? function : "";
    s.last.message = message ? message : "";
    s.last.source = source ? source : "";
    s.last.line = line;
    ++s.count;
    // A copy: the handler may itself report and overwrite the thread's record.
    const ErrorReport report = s.last;
    if (auto handler = CurrentHandler()) {
        try {
            (*handler)(report);
        } catch (...) {
            // A reporting path must never turn into an exception.
        }
    } else {
        DefaultErrorHandler(report);
    }
}

int GetErrStatus() { return State().status; }
void SetErrStatus(int status) { State().status = status; }
void ClearErrStatus() { State().status = CV_StsOk; }
const ErrorReport& LastErrorReport() { return State().last; }
long ErrorReportCount() { return State().count; }

void ReportException(const cv::Exception& e) {
    ReportError(e.code < 0 ? e.code : CV_StsError, e.func.c_str(), e.err.c_str(), e.file.c_str(), e.line);
}

namespace detail {

bool RunGuarded(const std::function<void()>& call) {
    const int before = GetErrStatus();
    ClearErrStatus();
    try {
        call();
    } catch (const cv::Exception& e) {
        ReportException(e);
        return false;
    } catch (const std::bad_alloc&) {
        ReportError(CV_StsNoMem, "", "Insufficient memory", "", 0);
        return false;
    }
    if (GetErrStatus() < 0) return false;
    SetErrStatus(before);
    return true;
}

}  // namespace detail
}  // namespace cvcompat
