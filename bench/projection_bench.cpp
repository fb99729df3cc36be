// Projection with every Jacobian block: the calibration core's routine
// against OpenCV's cv::projectPoints with its Jacobian, on the same data (a
// 9 x 6 board seen in 20 views). Prints the time per view and the ratio.
#include <calibration/projection.h>

#include <opencv2/calib3d.hpp>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

struct View {
    cv::Vec3d r, t;
};

template <class F>
double SecondsPerRound(F&& round, int rounds) {
    round();  // warm-up
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) round();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

}  // namespace

int main() {
    constexpr int kPoints = 54, kViews = 20, kRounds = 2000;
    cv::Mat board(kPoints, 3, CV_64F);
    for (int i = 0; i < kPoints; ++i) {
        board.at<double>(i, 0) = 25.0 * (i % 9);
        board.at<double>(i, 1) = 25.0 * (i / 9);
        board.at<double>(i, 2) = 0;
    }
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> u(-0.4, 0.4);
    std::vector<View> views(kViews);
    for (View& v : views) v = {{u(gen), u(gen), u(gen)}, {-100 + 50 * u(gen), -60 + 50 * u(gen), 600 + 200 * u(gen)}};
    const cv::Matx33d A(800, 0, 320, 0, 790, 240, 0, 0, 1);
    const cv::Vec4d k(-0.2, 0.05, 0.001, -0.001);

    cv::Mat image(kPoints, 2, CV_64F), drot(2 * kPoints, 3, CV_64F), dt(2 * kPoints, 3, CV_64F),
        df(2 * kPoints, 2, CV_64F), dc(2 * kPoints, 2, CV_64F), dk(2 * kPoints, 4, CV_64F);
    CvMat cObj = cvMat(board), cImg = cvMat(image), cRot = cvMat(drot), cT = cvMat(dt), cF = cvMat(df),
          cC = cvMat(dc), cK = cvMat(dk);
    cv::Mat Am(A), km(k);
    CvMat cA = cvMat(Am), cDist = cvMat(km);
    double sink = 0;

    const double ours = SecondsPerRound(
        [&] {
            for (View& v : views) {
                cv::Mat rm(v.r), tm(v.t);
                CvMat cr = cvMat(rm), ct = cvMat(tm);
                Quorl_cvProjectPoints2(&cObj, &cr, &ct, &cA, &cDist, &cImg, &cRot, &cT, &cF, &cC, &cK);
                sink += image.at<double>(0, 0) + dk.at<double>(0, 0);
            }
        },
        kRounds);

    std::vector<cv::Point2d> projected;
    cv::Mat jacobian;
    const double theirs = SecondsPerRound(
        [&] {
            for (View& v : views) {
                cv::projectPoints(board, v.r, v.t, A, k, projected, jacobian);
                sink += projected[0].x + jacobian.at<double>(0, 0);
            }
        },
        kRounds);

    std::printf("Quorl_cvProjectPoints2, all Jacobians: %.2f us per view\n", ours / kViews * 1e6);
    std::printf("cv::projectPoints with Jacobian:       %.2f us per view\n", theirs / kViews * 1e6);
    std::printf("ratio (ours / OpenCV): %.2f\n", ours / theirs);
    return sink == 0.123 ? 1 : 0;
}
