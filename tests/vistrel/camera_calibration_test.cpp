#include "calibration/camera_calibration.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <cvcompat/errstatus.h>
#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>

#include "synthetic_board/synthetic_board.h"

namespace {

constexpr double kSentinel = -12345.0;

// Collects every error report of the test; the recorded status starts clear.
class CameraCalibration : public ::testing::Test {
protected:
    void SetUp() override {
        cvcompat::ClearErrStatus();
        previous_ = cvcompat::SetErrorHandler([this](const cvcompat::ErrorReport& r) { reports_.push_back(r); });
    }
    void TearDown() override {
        cvcompat::SetErrorHandler(previous_);
        cvcompat::ClearErrStatus();
    }
    bool Reported(int status, const std::string& function, const std::string& message = "") const {
        for (const cvcompat::ErrorReport& r : reports_)
            if (r.status == status && r.function == function && r.source == "Calibration" &&
                (message.empty() || r.message == message))
                return true;
        return false;
    }
    std::string AllReports() const {
        std::string s;
        for (const cvcompat::ErrorReport& r : reports_)
            s += r.function + " " + std::to_string(r.status) + " " + r.message + "\n";
        return s;
    }
    std::vector<cvcompat::ErrorReport> reports_;
    cvcompat::ErrorHandler previous_;
};

// The angle of A B^T from the matrix itself: a rotation by t lies
// 2 sqrt(2) sin(t / 2) from the identity (Frobenius norm), which keeps its
// precision near 0. cv::Rodrigues returns exactly 0 under about 1e-5 rad, so
// a bound below that checked through it could not fail.
double RotationAngleBetween(const cv::Matx33d& A, const cv::Matx33d& B) {
    const double distance = cv::norm(A * B.t() - cv::Matx33d::eye(), cv::NORM_L2);
    return 2.0 * std::asin(std::min(1.0, distance / (2.0 * std::sqrt(2.0))));
}

// Point sets of a dataset in the calibration routines' layout.
struct Problem {
    explicit Problem(const synthetic::Dataset& data, int viewsUsed = -1) {
        const int views = viewsUsed < 0 ? static_cast<int>(data.views.size()) : viewsUsed;
        for (int v = 0; v < views; ++v) {
            for (const cv::Point3d& X : data.objectPoints) object.insert(object.end(), {X.x, X.y, X.z});
            for (const cv::Point2d& p : data.views[v].pointsA) image.insert(image.end(), {p.x, p.y});
            counts.push_back(static_cast<int>(data.objectPoints.size()));
        }
        Reshape();
    }
    void Reshape() {
        total = static_cast<int>(object.size() / 3);
        objectMat = cvMat(1, total, CV_64FC3, object.data());
        imageMat = cvMat(1, total, CV_64FC2, image.data());
        countsMat = cvMat(static_cast<int>(counts.size()), 1, CV_32SC1, counts.data());
    }
    int Views() const { return static_cast<int>(counts.size()); }

    std::vector<double> object, image;
    std::vector<int> counts;
    int total = 0;
    CvMat objectMat, imageMat, countsMat;
};

// Output buffers filled with a sentinel, so a test sees what was written.
struct Outputs {
    explicit Outputs(int views, int rotationColumns = 3)
        : K(9, kSentinel), d(4, kSentinel), R(static_cast<size_t>(views) * rotationColumns, kSentinel),
          T(static_cast<size_t>(views) * 3, kSentinel) {
        Kmat = cvMat(3, 3, CV_64F, K.data());
        dmat = cvMat(4, 1, CV_64F, d.data());
        Rmat = cvMat(views, rotationColumns, CV_64F, R.data());
        Tmat = cvMat(views, 3, CV_64F, T.data());
    }
    bool Untouched() const {
        for (const std::vector<double>* v : {&K, &d, &R, &T})
            for (double x : *v)
                if (x != kSentinel) return false;
        return true;
    }
    std::vector<double> K, d, R, T;
    CvMat Kmat, dmat, Rmat, Tmat;
};

synthetic::Options PinholeOptions() {
    synthetic::Options options;
    options.cameraA = options.cameraA.WithoutDistortion();
    options.cameraA.cx = (options.cameraA.width - 1) * 0.5;
    options.cameraA.cy = (options.cameraA.height - 1) * 0.5;
    return options;
}

TEST_F(CameraCalibration, NoiseFreeViewsGiveTheTruth) {
    synthetic::Options options = PinholeOptions();
    options.views = 14;
    options.squareOnViews = 1;
    options.seed = 5;
    const synthetic::Dataset data = synthetic::MakeDataset(options);
    Problem problem(data);
    for (int columns : {3, 9}) {
        SCOPED_TRACE(columns == 3 ? "rotation vectors" : "rotation matrices");
        Outputs out(problem.Views(), columns);
        Quorl_cvCalibrateCamera2(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480, &out.Kmat,
                                 &out.dmat, &out.Rmat, &out.Tmat, 0);
        ASSERT_EQ(cvcompat::GetErrStatus(), CV_StsOk) << AllReports();
        const cv::Matx33d K = options.cameraA.K();
        for (int k = 0; k < 9; ++k) EXPECT_NEAR(out.K[k], K.val[k], 1e-6 * std::max(1.0, std::abs(K.val[k]))) << k;
        for (double d : out.d) EXPECT_EQ(d, 0.0);
        for (int v = 0; v < problem.Views(); ++v) {
            cv::Matx33d R;
            if (columns == 9)
                for (int k = 0; k < 9; ++k) R.val[k] = out.R[9 * v + k];
            else
                cv::Rodrigues(cv::Vec3d(&out.R[3 * v]), R);
            EXPECT_LT(RotationAngleBetween(R, data.views[v].poseA.R), 1e-6) << "view " << v;
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(out.T[3 * v + k], data.views[v].poseA.t[k], 1e-4) << "view " << v;
        }
    }
}

TEST_F(CameraCalibration, FixedAspectRatioAndBoardsAtZOne) {
    const synthetic::Dataset data = synthetic::MakeDataset(PinholeOptions());
    Problem problem(data);
    Outputs free(problem.Views());
    Quorl_cvCalibrateCamera2(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480, &free.Kmat,
                             &free.dmat, nullptr, nullptr, 0);
    ASSERT_EQ(cvcompat::GetErrStatus(), CV_StsOk) << AllReports();

    Outputs fixed(problem.Views());
    const double guess[9] = {2, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(guess, guess + 9, fixed.K.begin());
    Quorl_cvCalibrateCamera2(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480, &fixed.Kmat,
                             &fixed.dmat, nullptr, nullptr, kCalibFixAspectRatio | kCalibZeroTangentDist);
    ASSERT_EQ(cvcompat::GetErrStatus(), CV_StsOk) << AllReports();
    const double t = (free.K[0] + free.K[4]) / 3.0;
    EXPECT_NEAR(fixed.K[0], 2.0 * t, 1e-9 * t);
    EXPECT_NEAR(fixed.K[4], t, 1e-9 * t);

    // A board lifted to z = 1 everywhere still counts as planar (z is then
    // taken as 0).
    for (int i = 0; i < problem.total; ++i) problem.object[3 * i + 2] = 1.0;
    Outputs lifted(problem.Views());
    Quorl_cvCalibrateCamera2(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480, &lifted.Kmat,
                             &lifted.dmat, &lifted.Rmat, &lifted.Tmat, 0);
    ASSERT_EQ(cvcompat::GetErrStatus(), CV_StsOk) << AllReports();
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(lifted.K[k], free.K[k], 1e-9 * std::max(1.0, std::abs(free.K[k])));
}

TEST_F(CameraCalibration, TwoDimensionalObjectPointsLieOnZZero) {
    const synthetic::Dataset data = synthetic::MakeDataset(PinholeOptions());
    Problem problem(data);
    std::vector<double> flat;
    for (int i = 0; i < problem.total; ++i) flat.insert(flat.end(), {problem.object[3 * i], problem.object[3 * i + 1]});
    CvMat flatMat = cvMat(1, problem.total, CV_64FC2, flat.data());
    Outputs out(problem.Views()), reference(problem.Views());
    Quorl_cvCalibrateCamera2(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480,
                             &reference.Kmat, &reference.dmat, &reference.Rmat, &reference.Tmat, 0);
    // With the intrinsic guess the object points keep their z: 0 for 2-D ones.
    std::copy(reference.K.begin(), reference.K.end(), out.K.begin());
    Quorl_cvCalibrateCamera2(&flatMat, &problem.imageMat, &problem.countsMat, 640, 480, &out.Kmat, &out.dmat,
                             &out.Rmat, &out.Tmat, kCalibUseIntrinsicGuess);
    ASSERT_EQ(cvcompat::GetErrStatus(), CV_StsOk) << AllReports();
    for (size_t k = 0; k < out.T.size(); ++k) EXPECT_NEAR(out.T[k], reference.T[k], 1e-6);
}

struct CalibrateCase {
    const char* name;
    std::function<void(Problem&, Outputs&, int& flags)> breakIt;
    int status;
    std::string function;
    std::string message;  // empty: any
};

TEST_F(CameraCalibration, CalibrateRefusesBrokenInputs) {
    const synthetic::Dataset data = synthetic::MakeDataset(PinholeOptions());
    auto setK = [](Outputs& o, std::vector<double> K) { std::copy(K.begin(), K.end(), o.K.begin()); };
    const std::string self = "Quorl_cvCalibrateCamera2";
    const CalibrateCase cases[] = {
        {"view 2 with 3 points",
         [](Problem& p, Outputs&, int&) {
             const int drop = p.counts[2] - 3;
             const size_t at = static_cast<size_t>(p.counts[0] + p.counts[1] + 3);
             p.object.erase(p.object.begin() + 3 * at, p.object.begin() + 3 * (at + drop));
             p.image.erase(p.image.begin() + 2 * at, p.image.begin() + 2 * (at + drop));
             p.counts[2] = 3;
             p.Reshape();
         },
         CV_StsOutOfRange, self, "The number of points in the view #2 is <4"},
        {"flag 1, fx <= 0", [&](Problem&, Outputs& o, int& f) { f = 1, setK(o, {0, 0, 320, 0, 500, 240, 0, 0, 1}); },
         CV_StsOutOfRange, self, "Focal length (fx and fy) must be positive"},
        {"flag 1, principal point outside",
         [&](Problem&, Outputs& o, int& f) { f = 1, setK(o, {500, 0, 640, 0, 500, 240, 0, 0, 1}); }, CV_StsOutOfRange,
         self, "Principal point must be within the image"},
        {"flag 1, skew", [&](Problem&, Outputs& o, int& f) { f = 1, setK(o, {500, 0.1, 320, 0, 500, 240, 0, 0, 1}); },
         CV_StsOutOfRange, self, "Non-zero skew is not supported by the function"},
        {"flag 1, wrong shape",
         [&](Problem&, Outputs& o, int& f) { f = 1, setK(o, {500, 0, 320, 0, 500, 240, 0, 0, 2}); }, CV_StsOutOfRange,
         self, "The intrinsic matrix must have [fx 0 cx; 0 fy cy; 0 0 1] shape"},
        {"non-planar rig without flag 1",
         [](Problem& p, Outputs&, int&) {
             for (int i = 0; i < p.total; i += 2) p.object[3 * i + 2] = 10.0;
         },
         CV_StsBadArg, self, "For non-planar calibration rigs the initial intrinsic matrix must be specified"},
        {"flag 2, aspect ratio 200",
         [&](Problem&, Outputs& o, int& f) { f = 2, setK(o, {200, 0, 0, 0, 1, 0, 0, 0, 1}); }, CV_StsOutOfRange, self,
         "The specified aspect ratio (=a(0,0)/a(1,1)) is incorrect"},
        {"flag 2, aspect ratio 0.005",
         [&](Problem&, Outputs& o, int& f) { f = 2, setK(o, {1, 0, 0, 0, 200, 0, 0, 0, 1}); }, CV_StsOutOfRange, self,
         "The specified aspect ratio (=a(0,0)/a(1,1)) is incorrect"},
        {"rotations for one view fewer",
         [](Problem&, Outputs& o, int&) { o.Rmat.rows -= 1; }, CV_StsBadSize, self, ""},
        {"translations for one view fewer",
         [](Problem&, Outputs& o, int&) { o.Tmat.rows -= 1; }, CV_StsBadSize, self, ""},
        {"translations in one short row",
         [](Problem& p, Outputs& o, int&) { o.Tmat = cvMat(1, 3 * p.Views() - 1, CV_64F, o.T.data()); },
         CV_StsBadSize, self, ""},
        {"fewer points than the counts add up to",
         [](Problem& p, Outputs&, int&) {
             p.counts.back() += 1;
             p.Reshape();
         },
         CV_StsBadSize, self, ""},
    };
    for (const CalibrateCase& c : cases) {
        SCOPED_TRACE(c.name);
        reports_.clear();
        cvcompat::ClearErrStatus();
        Problem problem(data);
        Outputs out(problem.Views());
        int flags = 0;
        c.breakIt(problem, out, flags);
        const std::vector<double> K = out.K;
        Quorl_cvCalibrateCamera2(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480, &out.Kmat,
                                 &out.dmat, &out.Rmat, &out.Tmat, flags);
        EXPECT_EQ(cvcompat::GetErrStatus(), c.status) << AllReports();
        EXPECT_TRUE(Reported(c.status, c.function, c.message)) << AllReports();
        EXPECT_EQ(out.K, K);
        EXPECT_TRUE(std::all_of(out.d.begin(), out.d.end(), [](double x) { return x == kSentinel; }));
        EXPECT_TRUE(std::all_of(out.R.begin(), out.R.end(), [](double x) { return x == kSentinel; }));
        EXPECT_TRUE(std::all_of(out.T.begin(), out.T.end(), [](double x) { return x == kSentinel; }));
    }
}

TEST_F(CameraCalibration, AllViewsSquareOnFixNoFocalLength) {
    synthetic::Options options = PinholeOptions();
    options.views = 6;
    options.squareOnViews = 6;
    Problem problem(synthetic::MakeDataset(options));
    Outputs out(problem.Views());
    Quorl_cvCalibrateCamera2(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480, &out.Kmat,
                             &out.dmat, &out.Rmat, &out.Tmat, 0);
    EXPECT_NE(cvcompat::GetErrStatus(), CV_StsOk);
    EXPECT_TRUE(Reported(CV_StsBadArg, "Quorl_icvInitIntrinsicParams2D")) << AllReports();
    EXPECT_TRUE(Reported(CV_StsBackTrace, "Quorl_cvCalibrateCamera2", "Inner function failed.")) << AllReports();
    EXPECT_TRUE(out.Untouched());
}

TEST_F(CameraCalibration, InitIntrinsicsChecksItsPointSets) {
    Problem problem(synthetic::MakeDataset(PinholeOptions()));
    Outputs out(problem.Views());
    CvMat twoChannelObjects = cvMat(1, problem.total, CV_64FC2, problem.image.data());
    Quorl_icvInitIntrinsicParams2D(&twoChannelObjects, &problem.imageMat, &problem.countsMat, 640, 480, &out.Kmat, 0);
    EXPECT_TRUE(Reported(CV_StsUnsupportedFormat, "Quorl_icvInitIntrinsicParams2D",
                         "Both object points and image points must be 2D"));
    CvMat column = cvMat(problem.total, 1, CV_64FC3, problem.object.data());
    Quorl_icvInitIntrinsicParams2D(&column, &problem.imageMat, &problem.countsMat, 640, 480, &out.Kmat, 0);
    EXPECT_TRUE(Reported(CV_StsBadSize, "Quorl_icvInitIntrinsicParams2D",
                         "object points and image points must be a single-row matrices"));
    EXPECT_TRUE(out.Untouched());
    Quorl_icvInitIntrinsicParams2D(&problem.objectMat, &problem.imageMat, &problem.countsMat, 640, 480, &out.Kmat, 0);
    EXPECT_NEAR(out.K[0], 533.09, 1e-6);
    EXPECT_EQ(out.K[2], 319.5);
    EXPECT_EQ(out.K[5], 239.5);
}

struct ExtrinsicsCase {
    const char* name;
    std::vector<cv::Point3d> object;
    int status;  // CV_StsOk: the true pose comes back
};

TEST_F(CameraCalibration, ExtrinsicsTable) {
    synthetic::Options options;
    options.views = 1;
    options.seed = 9;
    const synthetic::Dataset data = synthetic::MakeDataset(options);
    const synthetic::CameraModel camera = options.cameraA;
    const synthetic::Pose& pose = data.views[0].poseA;
    const std::vector<cv::Point3d>& board = data.objectPoints;

    std::vector<cv::Point3d> rig = board;  // a second plane standing on the board's x axis
    for (int i = 0; i < 9; ++i)
        for (int k = 1; k <= 4; ++k) rig.emplace_back(25.0 * i, 0.0, 20.0 * k);
    const std::vector<cv::Point3d> corners = {board[0], board[8], board[45], board[53]};
    std::vector<cv::Point3d> collinear;
    for (int i = 0; i < 9; ++i) collinear.push_back(board[i]);
    const std::vector<cv::Point3d> five = {board[0], board[8], board[45], board[53], {100, 60, 40}};

    const ExtrinsicsCase cases[] = {
        {"54 board points", board, CV_StsOk},
        {"4 corners", corners, CV_StsOk},
        {"two-plane 3-D rig", rig, CV_StsOk},
        {"3 points", {board[0], board[8], board[45]}, CV_StsBadSize},
        {"collinear points", collinear, CV_StsBadArg},
        {"coincident points", std::vector<cv::Point3d>(6, board[3]), CV_StsBadArg},
        {"5 non-coplanar points", five, CV_StsBadSize},
    };
    const cv::Matx33d K = camera.K();
    const cv::Vec<double, 5> dist5 = camera.Distortion();
    double distortion[4] = {dist5[0], dist5[1], dist5[2], dist5[3]};
    for (const ExtrinsicsCase& c : cases) {
        SCOPED_TRACE(c.name);
        reports_.clear();
        cvcompat::ClearErrStatus();
        const std::vector<cv::Point2d> image = synthetic::ProjectPoints(camera, pose, c.object);
        std::vector<double> M, m;
        for (const cv::Point3d& X : c.object) M.insert(M.end(), {X.x, X.y, X.z});
        for (const cv::Point2d& p : image) m.insert(m.end(), {p.x, p.y});
        CvMat Mm = cvMat(1, static_cast<int>(c.object.size()), CV_64FC3, M.data());
        CvMat mm = cvMat(1, static_cast<int>(image.size()), CV_64FC2, m.data());
        double a[9], r[3] = {kSentinel, kSentinel, kSentinel}, t[3] = {kSentinel, kSentinel, kSentinel};
        std::copy(K.val, K.val + 9, a);
        CvMat am = cvMat(3, 3, CV_64F, a), dm = cvMat(1, 4, CV_64F, distortion);
        CvMat rm = cvMat(3, 1, CV_64F, r), tm = cvMat(1, 3, CV_64F, t);
        Quorl_cvFindExtrinsicCameraParams2(&Mm, &mm, &am, &dm, &rm, &tm);
        EXPECT_EQ(cvcompat::GetErrStatus(), c.status) << AllReports();
        if (c.status == CV_StsOk) {
            cv::Matx33d R;
            cv::Rodrigues(cv::Vec3d(r), R);
            EXPECT_LT(RotationAngleBetween(R, pose.R), 1e-6);
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(t[k], pose.t[k], 1e-4);
        } else {
            EXPECT_TRUE(Reported(c.status, "Quorl_cvFindExtrinsicCameraParams2")) << AllReports();
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(r[k], kSentinel);
                EXPECT_EQ(t[k], kSentinel);
            }
        }
    }
}

TEST(MakePlanarObjectPoints, SmallBoardTwiceAndTheFixtureBoard) {
    std::vector<double> p(36, kSentinel);
    MakePlanarObjectPoints(p.data(), 3, 2, 10, 20, 2);
    const std::vector<double> one = {0, 20, 0, 10, 20, 0, 20, 20, 0, 0, 0, 0, 10, 0, 0, 20, 0, 0};
    for (int v = 0; v < 2; ++v)
        for (int k = 0; k < 18; ++k) EXPECT_EQ(p[18 * v + k], one[k]);

    CalibrationObjectSettings settings{25.0, 25.0, 9, 6, 3, 3};
    std::vector<double> board(3 * 54);
    MakePlanarObjectPointsFromSettings(board.data(), settings, 1);
    const std::vector<cv::Point3d> truth = synthetic::BoardObjectPoints({9, 6, 25.0, 25.0});
    for (int i = 0; i < 54; ++i) {
        EXPECT_EQ(board[3 * i], truth[i].x);
        EXPECT_EQ(board[3 * i + 1], truth[i].y);
        EXPECT_EQ(board[3 * i + 2], truth[i].z);
    }
}

TEST(MakePlanarObjectPoints, NothingForEmptyBoardsOrNoViews) {
    std::vector<double> p(6, kSentinel);
    MakePlanarObjectPoints(p.data(), 3, 2, 10, 20, 0);
    MakePlanarObjectPoints(p.data(), 0, 2, 10, 20, 1);
    MakePlanarObjectPoints(p.data(), -1, -2, 10, 20, 1);
    MakePlanarObjectPoints(p.data(), 3, 2, 10, 20, -1);
    for (double v : p) EXPECT_EQ(v, kSentinel);
}

}  // namespace
