// Mono and stereo calibration against OpenCV on the same synthetic points
// (camera A and the default rig, sigma 0.1 px, one fixed seed per size).
// Prints, per view count, wall times, RMS values and parameter errors of
// both, with the ratios ours / OpenCV. Run by hand; build without the
// sanitizers for meaningful times.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "calibration/mono_calibration_engine.h"
#include "calibration/stereo_calibration_engine.h"
#include "engine_lists/engine_lists.h"
#include "synthetic_board/synthetic_board.h"

namespace {

using Clock = std::chrono::steady_clock;

using enginelists::ToLists;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

std::vector<std::vector<cv::Point2f>> ToFloat(const std::vector<std::vector<cv::Point2d>>& in) {
    std::vector<std::vector<cv::Point2f>> out;
    for (const auto& list : in) out.emplace_back(list.begin(), list.end());
    return out;
}

// sqrt(sum |e|^2 / N) over every point of every view.
double Rms(const double params[8], const std::vector<std::array<double, 9>>& R,
           const std::vector<std::array<double, 3>>& t, const std::vector<double>& object,
           const std::vector<std::vector<cv::Point2d>>& observed) {
    double sum = 0;
    size_t n = 0;
    for (size_t v = 0; v < observed.size(); ++v) {
        std::vector<Point2d> o;
        for (const cv::Point2d& p : observed[v]) o.push_back({p.x, p.y});
        std::vector<double> e(2 * o.size());
        ProjectionResiduals(params, R[v].data(), t[v].data(), object.data(), o.data(), static_cast<int>(o.size()),
                            e.data());
        for (double x : e) sum += x * x;
        n += o.size();
    }
    return std::sqrt(sum / n);
}

struct Errors {
    double v[8];
};

Errors ParameterErrors(const double params[8], const synthetic::CameraModel& c) {
    const double truth[8] = {c.fx, c.fy, c.cx, c.cy, c.k1, c.k2, c.p1, c.p2};
    Errors e;
    for (int k = 0; k < 8; ++k) e.v[k] = std::abs(params[k] - truth[k]);
    return e;
}

void PrintErrors(const char* who, const Errors& e) {
    std::printf("    %-7s |dfx| %.4f |dfy| %.4f |dcx| %.4f |dcy| %.4f |dk1| %.2e |dk2| %.2e |dp1| %.2e |dp2| %.2e\n", who,
                e.v[0], e.v[1], e.v[2], e.v[3], e.v[4], e.v[5], e.v[6], e.v[7]);
}

double RotationErrorDegrees(const cv::Matx33d& R, const cv::Matx33d& truth) {
    cv::Vec3d r;
    cv::Rodrigues(cv::Mat(R * truth.t()), r);
    return cv::norm(r) * 180.0 / CV_PI;
}

struct MonoOutcome {
    double seconds, rms;
    double params[8];
};

MonoOutcome OpenCvMono(const synthetic::Dataset& data, const std::vector<std::vector<cv::Point2d>>& points,
                       const std::vector<double>& object) {
    const std::vector<std::vector<cv::Point3f>> objects(points.size(),
                                                        std::vector<cv::Point3f>(data.objectPoints.begin(),
                                                                                 data.objectPoints.end()));
    cv::Mat K, d;
    std::vector<cv::Mat> rvecs, tvecs;
    const Clock::time_point start = Clock::now();
    cv::calibrateCamera(objects, ToFloat(points), cv::Size(640, 480), K, d, rvecs, tvecs, cv::CALIB_FIX_K3);
    MonoOutcome out;
    out.seconds = Seconds(start);
    const double p[8] = {K.at<double>(0, 0), K.at<double>(1, 1), K.at<double>(0, 2), K.at<double>(1, 2),
                         d.at<double>(0),    d.at<double>(1),    d.at<double>(2),    d.at<double>(3)};
    std::copy(p, p + 8, out.params);
    std::vector<std::array<double, 9>> R;
    std::vector<std::array<double, 3>> t;
    for (size_t v = 0; v < rvecs.size(); ++v) {
        cv::Matx33d m;
        cv::Rodrigues(rvecs[v], m);
        R.emplace_back();
        std::copy(m.val, m.val + 9, R.back().begin());
        t.push_back({tvecs[v].at<double>(0), tvecs[v].at<double>(1), tvecs[v].at<double>(2)});
    }
    out.rms = Rms(out.params, R, t, object, points);
    return out;
}

// Every refined value, to compare one build's results with another's.
bool gPrintValues = false;

void PrintValues(const char* who, const double* v, int n) {
    if (!gPrintValues) return;
    std::printf("    values %s", who);
    for (int k = 0; k < n; ++k) std::printf(" %.12g", v[k]);
    std::printf("\n");
}

void OneSize(int views, std::uint64_t seed) {
    synthetic::Options options;
    options.rig = true;
    options.views = views;
    options.seed = seed;
    options.noiseSigma = 0.1;
    const synthetic::Dataset data = synthetic::MakeDataset(options);
    const CalibrationObjectSettings board{options.board.sizeX, options.board.sizeY, options.board.squaresX,
                                          options.board.squaresY, 3, 3};
    const auto pointsA = data.PointListsA(), pointsB = data.PointListsB();
    std::printf("== %d views (seed %llu, sigma 0.1 px, 9 x 6 board) ==\n", views,
                static_cast<unsigned long long>(seed));

    // Mono: RunCalibration against cv::calibrateCamera (CALIB_FIX_K3).
    CMonoCameraCalibrationEngine monoA, monoB;
    Clock::time_point start = Clock::now();
    const int ranA = monoA.RunCalibration(ToLists(pointsA), board, 640, 480);
    const double oursSeconds = Seconds(start);
    const int ranB = monoB.RunCalibration(ToLists(pointsB), board, 640, 480);
    if (!ranA || !ranB) {
        std::printf("  mono run failed: %s / %s\n", CalibrationOutcomeText(monoA.LastRun().outcome),
                    CalibrationOutcomeText(monoB.LastRun().outcome));
        return;
    }
    const CameraParameters a = monoA.GetCameraParameters();
    const double oursParams[8] = {a.K[0], a.K[4], a.K[2], a.K[5], a.d[0], a.d[1], a.d[2], a.d[3]};
    std::vector<std::array<double, 9>> R;
    std::vector<std::array<double, 3>> t;
    for (int v = 0; v < views; ++v) R.push_back(monoA.GetViewRotation(v)), t.push_back(monoA.GetViewTranslation(v));
    const double oursRms = Rms(oursParams, R, t, monoA.ObjectPoints(), pointsA);
    PrintValues("monoA", oursParams, 8);
    PrintValues("monoA-poses", monoA.RotationVectors(), 3 * views);
    const MonoOutcome cvMono = OpenCvMono(data, pointsA, monoA.ObjectPoints());
    std::printf("  mono, camera A:\n");
    std::printf("    time   ours %.4f s, OpenCV %.4f s, ratio %.3f\n", oursSeconds, cvMono.seconds,
                oursSeconds / cvMono.seconds);
    std::printf("    RMS    ours %.5f px, OpenCV %.5f px, ratio %.5f\n", oursRms, cvMono.rms, oursRms / cvMono.rms);
    PrintErrors("ours", ParameterErrors(oursParams, options.cameraA));
    PrintErrors("OpenCV", ParameterErrors(cvMono.params, options.cameraA));
    std::printf("    MINPACK info: camera A %d (%d evaluations, %d iterations), camera B %d (%d evaluations)\n",
                monoA.LastRun().minimizerInfo, monoA.LastRun().evaluations, monoA.LastRun().iterations,
                monoB.LastRun().minimizerInfo, monoB.LastRun().evaluations);

    // Stereo: RunStereoCalibration against cv::stereoCalibrate from the same
    // mono intrinsics.
    CStereoCalibrationEngine stereo;
    start = Clock::now();
    const int ranStereo = stereo.RunStereoCalibration(monoA, monoB);
    const double stereoSeconds = Seconds(start);
    if (!ranStereo) {
        std::printf("  stereo run failed: %s (info %d)\n", CalibrationOutcomeText(stereo.LastRun().outcome),
                    stereo.LastRun().minimizerInfo);
        return;
    }
    // Ours: the same formula over both cameras' points.
    const CameraParameters sa = stereo.ResultA(), sb = stereo.ResultB();
    const double pa[8] = {sa.K[0], sa.K[4], sa.K[2], sa.K[5], sa.d[0], sa.d[1], sa.d[2], sa.d[3]};
    const double pb[8] = {sb.K[0], sb.K[4], sb.K[2], sb.K[5], sb.d[0], sb.d[1], sb.d[2], sb.d[3]};
    std::vector<std::array<double, 9>> RA, RB;
    std::vector<std::array<double, 3>> TA, TB;
    const cv::Matx33d Rrel(sb.R);
    const cv::Vec3d Trel(sb.T);
    for (int v = 0; v < views; ++v) {
        const cv::Matx33d Rv(&stereo.RotationMatrices()[9 * v]);
        const cv::Vec3d tv(&stereo.Translations()[3 * v]);
        const cv::Matx33d Rb = Rrel * Rv;
        const cv::Vec3d tb = Rrel * tv + Trel;
        RA.emplace_back(), RB.emplace_back();
        std::copy(Rv.val, Rv.val + 9, RA.back().begin());
        std::copy(Rb.val, Rb.val + 9, RB.back().begin());
        TA.push_back({tv[0], tv[1], tv[2]});
        TB.push_back({tb[0], tb[1], tb[2]});
    }
    const double rmsA = Rms(pa, RA, TA, monoA.ObjectPoints(), pointsA);
    const double rmsB = Rms(pb, RB, TB, monoA.ObjectPoints(), pointsB);
    const double oursStereoRms = std::sqrt((rmsA * rmsA + rmsB * rmsB) * 0.5);  // equal point counts
    PrintValues("stereoA", pa, 8);
    PrintValues("stereoB", pb, 8);
    PrintValues("stereo-R", sb.R, 9);
    PrintValues("stereo-T", sb.T, 3);
    PrintValues("stereo-poses", stereo.Translations().data(), 3 * views);

    const CameraParameters ma = monoA.GetCameraParameters(), mb = monoB.GetCameraParameters();
    cv::Mat K1 = (cv::Mat_<double>(3, 3) << ma.K[0], 0, ma.K[2], 0, ma.K[4], ma.K[5], 0, 0, 1);
    cv::Mat K2 = (cv::Mat_<double>(3, 3) << mb.K[0], 0, mb.K[2], 0, mb.K[4], mb.K[5], 0, 0, 1);
    cv::Mat d1 = (cv::Mat_<double>(1, 5) << ma.d[0], ma.d[1], ma.d[2], ma.d[3], 0);
    cv::Mat d2 = (cv::Mat_<double>(1, 5) << mb.d[0], mb.d[1], mb.d[2], mb.d[3], 0);
    cv::Mat Rcv, Tcv, E, F;
    const std::vector<std::vector<cv::Point3f>> objects(
        static_cast<size_t>(views), std::vector<cv::Point3f>(data.objectPoints.begin(), data.objectPoints.end()));
    start = Clock::now();
    // OpenCV's returned value is sqrt(sum |e|^2 / N) over both cameras' points.
    const double cvStereoRms = cv::stereoCalibrate(objects, ToFloat(pointsA), ToFloat(pointsB), K1, d1, K2, d2,
                                                   cv::Size(640, 480), Rcv, Tcv, E, F,
                                                   cv::CALIB_FIX_K3 | cv::CALIB_USE_INTRINSIC_GUESS);
    const double cvSeconds = Seconds(start);
    const synthetic::Pose& truth = options.rigPose;
    const double oursRot = RotationErrorDegrees(Rrel, truth.R);
    const double cvRot = RotationErrorDegrees(cv::Matx33d(Rcv), truth.R);
    const double oursT = cv::norm(Trel - truth.t);
    const double cvT = cv::norm(cv::Vec3d(Tcv) - truth.t);
    std::printf("  stereo (stage after the mono runs):\n");
    std::printf("    time   ours %.4f s, OpenCV %.4f s, ratio %.3f\n", stereoSeconds, cvSeconds,
                stereoSeconds / cvSeconds);
    std::printf("    RMS    ours %.5f px, OpenCV %.5f px, ratio %.5f\n", oursStereoRms, cvStereoRms,
                oursStereoRms / cvStereoRms);
    std::printf("    relative rotation error    ours %.5f deg, OpenCV %.5f deg\n", oursRot, cvRot);
    std::printf("    relative translation error ours %.4f mm, OpenCV %.4f mm\n", oursT, cvT);
    std::printf("    MINPACK info: %d (%d evaluations, %d iterations)\n", stereo.LastRun().minimizerInfo,
                stereo.LastRun().evaluations, stereo.LastRun().iterations);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {13, 50, 100};
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "--values") gPrintValues = true, first = 2;
    if (argc > first) {
        sizes.clear();
        for (int i = first; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    }
    for (int views : sizes) OneSize(views, 1000 + static_cast<std::uint64_t>(views));
    return 0;
}
