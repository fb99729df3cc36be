#include "calibration/calibration_files.h"

#include <calibmath/camera_parameter_file.h>
#include <quorl/clocale.h>
#include <quorl/paths.h>
#include <quorl/text_numbers.h>

#include <cmath>
#include <cstdio>
#include <cstring>


const char* const kViewExtrinsicsFormat = "%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n";

namespace {

constexpr char kImagePointFormat[] = "%lf %lf\n";

// n reals of the file, each a decimal token and finite (quorl::ReadReal).
bool ReadReals(FILE* file, double* values, int n) {
    for (int i = 0; i < n; ++i)
        if (!quorl::ReadReal(file, &values[i])) return false;
    return true;
}

// fclose must run even when a write failed; both outcomes count.
bool Close(FILE* file, bool ok) { return (std::fclose(file) == 0) && ok; }

}  // namespace

bool ReadDefaultBoardFile(const char* path, CalibrationObjectSettings* settings) {
    if (!settings) return false;
    FILE* file = quorl::OpenFile(path, "r");
    if (!file) return false;
    CalibrationObjectSettings read = *settings;
    const bool converted = quorl::ReadInt(file, &read.squaresX) && quorl::ReadInt(file, &read.squaresY) &&
                           quorl::ReadReal(file, &read.squareSizeX) && quorl::ReadReal(file, &read.squareSizeY) &&
                           quorl::ReadInt(file, &read.windowX) && quorl::ReadInt(file, &read.windowY);
    std::fclose(file);
    if (!converted || !IsValidBoard(read)) return false;
    *settings = read;
    return true;
}

bool WriteIntrinsicsFile(const char* path, const CameraParameters& p) {
    calibmath::CameraParameterValues values{};
    std::memcpy(values.K, p.K, sizeof values.K);
    std::memcpy(values.distortion, p.d, sizeof values.distortion);
    std::memcpy(values.R, p.R, sizeof values.R);
    std::memcpy(values.T, p.T, sizeof values.T);
    values.width = p.width;
    values.height = p.height;
    return calibmath::WriteCameraParameterFile(path, values);
}

bool ReadIntrinsicsFile(const char* path, CameraParameters* p) {
    if (!p) return false;
    calibmath::CameraParameterValues values{};
    if (!calibmath::ReadCameraParameterFile(path, &values)) return false;
    std::memcpy(p->K, values.K, sizeof values.K);
    std::memcpy(p->d, values.distortion, sizeof values.distortion);  // d[4] stays the record's
    std::memcpy(p->R, values.R, sizeof values.R);
    std::memcpy(p->T, values.T, sizeof values.T);
    p->width = values.width;
    p->height = values.height;
    return true;
}

bool WriteViewExtrinsicsFile(const char* path, int viewCount, const double* R, const double* r, const double* T) {
    if (viewCount < 0 || (viewCount > 0 && (!R || !r || !T))) return false;
    quorl::ScopedCLocale cLocale;
    FILE* file = quorl::OpenFile(path, "w+");
    if (!file) return false;
    bool ok = true;
    for (int v = 0; v < viewCount && ok; ++v) {
        const double* m = R + 9 * v;
        const double* a = r + 3 * v;
        const double* t = T + 3 * v;
        ok = std::fprintf(file, kViewExtrinsicsFormat, m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], a[0],
                          a[1], a[2], t[0], t[1], t[2]) >= 0;
    }
    return Close(file, ok);
}

int ReadViewExtrinsicsFile(const char* path, int viewCount, double* R, double* r, double* T) {
    if (viewCount <= 0 || !R || !r || !T) return 0;
    FILE* file = quorl::OpenFile(path, "r");
    if (!file) return 0;
    int views = 0;
    for (; views < viewCount; ++views) {
        double m[9], a[3], t[3];
        if (!ReadReals(file, m, 9) || !ReadReals(file, a, 3) || !ReadReals(file, t, 3)) break;
        std::memcpy(R + 9 * views, m, sizeof m);
        std::memcpy(r + 3 * views, a, sizeof a);
        std::memcpy(T + 3 * views, t, sizeof t);
    }
    std::fclose(file);
    return views;
}

bool WriteImagePointsFile(const char* path, const Point2d* points, int count) {
    if (count < 0 || (count > 0 && !points)) return false;
    quorl::ScopedCLocale cLocale;
    FILE* file = quorl::OpenFile(path, "w+");
    if (!file) return false;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) ok = std::fprintf(file, kImagePointFormat, points[i].x, points[i].y) >= 0;
    return Close(file, ok);
}

int ReadImagePointsFile(const char* path, int maxCount, Point2d* points) {
    if (maxCount <= 0 || !points) return 0;
    FILE* file = quorl::OpenFile(path, "r");
    if (!file) return 0;
    int count = 0;
    for (; count < maxCount; ++count) {
        double xy[2];
        if (!ReadReals(file, xy, 2)) break;
        points[count] = {xy[0], xy[1]};
    }
    std::fclose(file);
    return count;
}
