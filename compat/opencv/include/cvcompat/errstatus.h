#pragma once
// Per-thread error status in the manner of OpenCV 1.x: a failing routine
// reports once (status, function, message, source, line), the status stays
// recorded for the calling thread until cleared, and the routine returns
// without writing its outputs. OpenCV 4's own cvError throws and its
// cvGetErrStatus always answers 0, so neither may be used for this; the
// names here live in their own namespace so OpenCV's are never redefined.
//
// Status codes are OpenCV's own constants (CV_StsBadArg, ... in types_c.h).
#include <opencv2/core/types_c.h>

#include <functional>
#include <string>
#include <utility>

namespace cv {
class Exception;
}

namespace cvcompat {

struct ErrorReport {
    int status = CV_StsOk;
    std::string function;
    std::string message;
    std::string source;
    int line = 0;
};

// Receives every report. It may be called from any thread that reports; it
// must not throw.
using ErrorHandler = std::function<void(const ErrorReport&)>;

// Writes one line to standard error; never terminates the process.
void DefaultErrorHandler(const ErrorReport& report);

// Installs a handler and returns the previous one; an empty handler restores
// the default.
ErrorHandler SetErrorHandler(ErrorHandler handler);

// Records the status and the report for the calling thread, then hands the
// report to the handler. Null strings are taken as empty.
void ReportError(int status, const char* function, const char* message, const char* source, int line);

// Recorded status of the calling thread (CV_StsOk when nothing failed).
int GetErrStatus();
void SetErrStatus(int status);
void ClearErrStatus();

// Last report of the calling thread, and how many reports it has made since
// the thread started; tests use the count to see that a failure was
// reported exactly once.
const ErrorReport& LastErrorReport();
long ErrorReportCount();

// Reports a thrown OpenCV exception as the status it carries (a
// non-negative code becomes CV_StsError, so the failure is never lost).
void ReportException(const cv::Exception& e);

// Runs an OpenCV C call (or any code calling them) and answers whether it
// succeeded. A thrown cv::Exception is reported and leaves its negative
// status recorded; a status recorded by code inside the call also counts as
// failure. A status recorded before the call neither makes it fail nor is
// lost: it is restored when the call succeeds.
template <class F>
bool Guarded(F&& call);

// The error context of one routine: its public name and the caller's source
// name. Fail reports a check failure; Call runs an inner call under Guarded
// and, when it fails, reports CV_StsBackTrace "Inner function failed.".
class RoutineErrors {
public:
    RoutineErrors(const char* function, const char* source) : function_(function), source_(source) {}

    void Fail(int status, const char* message, int line) const {
        ReportError(status, function_, message, source_, line);
    }

    template <class F>
    bool Call(F&& call, int line) const {
        if (Guarded(std::forward<F>(call))) return true;
        Fail(CV_StsBackTrace, "Inner function failed.", line);
        return false;
    }

    const char* function() const { return function_; }
    const char* source() const { return source_; }

private:
    const char* function_;
    const char* source_;
};

namespace detail {
bool RunGuarded(const std::function<void()>& call);
}

template <class F>
bool Guarded(F&& call) {
    return detail::RunGuarded(std::function<void()>(std::forward<F>(call)));
}

}  // namespace cvcompat
