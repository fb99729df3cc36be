// One row per argument check of the calibration maths routines: each row
// breaks exactly one rule and must give one report with the routine's name,
// the status and the message, leave the recorded status, and leave every
// output at its sentinel value.
#include <calibration/gauss_newton.h>
#include <calibration/homography.h>
#include <calibration/point_conversion.h>
#include <calibration/projection.h>
#include <calibration/rotation.h>

#include <functional>

#include "calib_test_util.h"

namespace {

using calibtest::kSentinel;
using calibtest::TestMat;

struct ErrorRow {
    const char* name;
    // Makes the call on sentinel-filled outputs; answers whether every
    // output is still at its sentinel.
    std::function<bool()> run;
    int status;
    const char* function;
    const char* message;
    // Reports made: 1 for a check, more when an inner routine reported first.
    int reports = 1;
};

void PrintTo(const ErrorRow& row, std::ostream* os) { *os << row.name; }

constexpr int N = 5;

// Valid inputs of the projection; each row changes one of them.
struct ProjectionArgs {
    TestMat object{N, 3, CV_64F, 0.0};
    TestMat rvec{3, 1, CV_64F, 0.1};
    TestMat tvec{3, 1, CV_64F, 0.0};
    TestMat A{3, 3, CV_64F, 0.0};
    TestMat k{4, 1, CV_64F, 0.01};
    TestMat image{N, 2, CV_64F};
    TestMat dpdrot{2 * N, 3, CV_64F}, dpdt{2 * N, 3, CV_64F}, dpdf{2 * N, 2, CV_64F}, dpdc{2 * N, 2, CV_64F},
        dpdk{2 * N, 4, CV_64F};
    ProjectionArgs() {
        for (int i = 0; i < N; ++i) {
            object.mat.at<double>(i, 0) = i;
            object.mat.at<double>(i, 1) = i * i;
        }
        tvec.mat.at<double>(2) = 10;
        A.mat = (cv::Mat_<double>(3, 3) << 500, 0, 320, 0, 500, 240, 0, 0, 1);
        A.hdr = cvMat(A.mat);
    }
    bool Run(CvMat* obj, CvMat* r, CvMat* t, CvMat* a, CvMat* dist, CvMat* img, CvMat* drot, CvMat* dt,
             CvMat* df, CvMat* dc, CvMat* dk) {
        Quorl_cvProjectPoints2(obj, r, t, a, dist, img, drot, dt, df, dc, dk);
        return image.Untouched() && dpdrot.Untouched() && dpdt.Untouched() && dpdf.Untouched() &&
               dpdc.Untouched() && dpdk.Untouched();
    }
    bool RunAll() {
        return Run(object.get(), rvec.get(), tvec.get(), A.get(), k.get(), image.get(), dpdrot.get(), dpdt.get(),
                   dpdf.get(), dpdc.get(), dpdk.get());
    }
};

// Valid homography inputs: a square of points onto a distorted square.
struct HomographyArgs {
    TestMat object{6, 2, CV_64F, 0.0};
    TestMat image{6, 2, CV_64F, 0.0};
    TestMat H{3, 3, CV_64F};
    HomographyArgs() {
        const double M[6][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.5, 0.5}, {0.2, 0.7}};
        for (int i = 0; i < 6; ++i) {
            object.mat.at<double>(i, 0) = M[i][0];
            object.mat.at<double>(i, 1) = M[i][1];
            image.mat.at<double>(i, 0) = 10 + 20 * M[i][0] + 3 * M[i][1];
            image.mat.at<double>(i, 1) = 5 + 2 * M[i][0] + 25 * M[i][1];
        }
    }
};

CvMat NotAMatrix() {
    CvMat m{};
    return m;
}

std::vector<ErrorRow> Rows() {
    std::vector<ErrorRow> rows;
    const char* rod = "Quorl_cvRodrigues2";
    rows.push_back({"RodriguesNullSource",
                    [] {
                        TestMat dst(3, 3, CV_64F);
                        const int res = Quorl_cvRodrigues2(nullptr, dst.get());
                        return res == 0 && dst.Untouched();
                    },
                    CV_StsNullPtr, rod, "Input argument is not a valid matrix"});
    rows.push_back({"RodriguesInvalidSource",
                    [] {
                        CvMat bad = NotAMatrix();
                        TestMat dst(3, 3, CV_64F);
                        return Quorl_cvRodrigues2(&bad, dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsBadArg, rod, "Input argument is not a valid matrix"});
    rows.push_back({"RodriguesNullDestination",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1);
                        return Quorl_cvRodrigues2(src.get(), nullptr) == 0;
                    },
                    CV_StsNullPtr, rod, "The first output argument is not a valid matrix"});
    rows.push_back({"RodriguesInvalidDestination",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1);
                        CvMat bad = NotAMatrix();
                        return Quorl_cvRodrigues2(src.get(), &bad) == 0;
                    },
                    CV_StsBadArg, rod, "The first output argument is not a valid matrix"});
    rows.push_back({"RodriguesIntegerSource",
                    [] {
                        TestMat src(3, 1, CV_32S, 0.0), dst(3, 3, CV_32S);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsUnsupportedFormat, rod, "The matrices must have 32f or 64f data type"});
    rows.push_back({"RodriguesDepthMismatch",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1), dst(3, 3, CV_32F);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsUnmatchedFormats, rod, "All the matrices must have the same data type"});
    rows.push_back({"RodriguesInvalidJacobian",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1), dst(3, 3, CV_64F);
                        CvMat bad = NotAMatrix();
                        return Quorl_cvRodrigues2(src.get(), dst.get(), &bad) == 0 && dst.Untouched();
                    },
                    CV_StsBadArg, rod, "Jacobian is not a valid matrix"});
    rows.push_back({"RodriguesJacobianDepth",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1), dst(3, 3, CV_64F), J(3, 9, CV_32F);
                        return Quorl_cvRodrigues2(src.get(), dst.get(), J.get()) == 0 && dst.Untouched() &&
                               J.Untouched();
                    },
                    CV_StsUnmatchedFormats, rod, "Jacobian must have 32fC1 or 64fC1 datatype"});
    rows.push_back({"RodriguesJacobianChannels",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1), dst(3, 3, CV_64F), J(3, 3, CV_64FC3);
                        return Quorl_cvRodrigues2(src.get(), dst.get(), J.get()) == 0 && dst.Untouched() &&
                               J.Untouched();
                    },
                    CV_StsUnmatchedFormats, rod, "Jacobian must have 32fC1 or 64fC1 datatype"});
    rows.push_back({"RodriguesJacobianSize",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1), dst(3, 3, CV_64F), J(3, 3, CV_64F);
                        return Quorl_cvRodrigues2(src.get(), dst.get(), J.get()) == 0 && dst.Untouched() &&
                               J.Untouched();
                    },
                    CV_StsBadSize, rod, "Jacobian must be 3x9 or 9x3"});
    rows.push_back({"RodriguesVectorOfFour",
                    [] {
                        TestMat src(1, 4, CV_64F, 0.1), dst(3, 3, CV_64F);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsBadSize, rod, "Input matrix must be 1x3, 3x1 or 3x3"});
    rows.push_back({"RodriguesSquareOfTwo",
                    [] {
                        TestMat src(2, 2, CV_64F, 0.1), dst(3, 1, CV_64F);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsBadSize, rod, "Input matrix must be 1x3, 3x1 or 3x3"});
    rows.push_back({"RodriguesVectorToNonSquare",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1), dst(3, 1, CV_64F);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsBadSize, rod, "Output matrix must be 3x3, single-channel floating point matrix"});
    rows.push_back({"RodriguesVectorToThreeChannels",
                    [] {
                        TestMat src(3, 1, CV_64F, 0.1), dst(3, 3, CV_64FC3);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsBadSize, rod, "Output matrix must be 3x3, single-channel floating point matrix"});
    rows.push_back({"RodriguesMatrixToSquare",
                    [] {
                        TestMat src(cv::Mat::eye(3, 3, CV_64F)), dst(3, 3, CV_64F);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsBadSize, rod, "Output matrix must be 1x3 or 3x1"});
    rows.push_back({"RodriguesThreeChannelMatrix",
                    [] {
                        TestMat src(3, 3, CV_64FC3, 0.0), dst(3, 1, CV_64F);
                        return Quorl_cvRodrigues2(src.get(), dst.get()) == 0 && dst.Untouched();
                    },
                    CV_StsBackTrace, rod, "Inner function failed.", 2});

    const char* conv = "Quorl_cvConvertPointsHomogenious";
    auto convert = [](TestMat src, TestMat dst) {
        return [=]() mutable {
            Quorl_cvConvertPointsHomogenious(src.get(), dst.get());
            return dst.Untouched();
        };
    };
    rows.push_back({"ConvertNullSource",
                    [] {
                        TestMat dst(4, 3, CV_64F);
                        Quorl_cvConvertPointsHomogenious(nullptr, dst.get());
                        return dst.Untouched();
                    },
                    CV_StsNullPtr, conv, "The input parameter is not a valid matrix"});
    rows.push_back({"ConvertInvalidSource",
                    [] {
                        CvMat bad = NotAMatrix();
                        TestMat dst(4, 3, CV_64F);
                        Quorl_cvConvertPointsHomogenious(&bad, dst.get());
                        return dst.Untouched();
                    },
                    CV_StsBadArg, conv, "The input parameter is not a valid matrix"});
    rows.push_back({"ConvertNullDestination",
                    [] {
                        TestMat src(4, 2, CV_64F, 1.0);
                        Quorl_cvConvertPointsHomogenious(src.get(), nullptr);
                        return src.AllEqual(1.0);
                    },
                    CV_StsNullPtr, conv, "The output parameter is not a valid matrix"});
    rows.push_back({"ConvertInvalidDestination",
                    [] {
                        TestMat src(4, 2, CV_64F, 1.0);
                        CvMat bad = NotAMatrix();
                        Quorl_cvConvertPointsHomogenious(src.get(), &bad);
                        return src.AllEqual(1.0);
                    },
                    CV_StsBadArg, conv, "The output parameter is not a valid matrix"});
    rows.push_back({"ConvertSameDataOtherType",
                    [] {
                        TestMat src(4, 2, CV_64F);
                        CvMat other = cvMat(4, 4, CV_32F, src.mat.data);
                        Quorl_cvConvertPointsHomogenious(src.get(), &other);
                        return src.Untouched();
                    },
                    CV_StsBadArg, conv, "Invalid inplace operation"});
    rows.push_back({"ConvertSourceColumnsAndChannels", convert(TestMat(5, 2, CV_64FC2, 1.0), TestMat(5, 3, CV_64F)),
                    CV_StsBadSize, conv, "Either the number of channels or columns or rows must be =1"});
    rows.push_back({"ConvertDestinationRowsAndChannels",
                    convert(TestMat(5, 2, CV_64F, 1.0), TestMat(3, 5, CV_64FC2)), CV_StsBadSize, conv,
                    "Either the number of channels or columns or rows in the output matrix must be =1"});
    rows.push_back({"ConvertPointCounts", convert(TestMat(5, 2, CV_64F, 1.0), TestMat(6, 3, CV_64F)),
                    CV_StsUnmatchedSizes, conv, "Both matrices must have the same number of points"});
    rows.push_back({"ConvertIntegerSource", convert(TestMat(5, 2, CV_32S, 1.0), TestMat(5, 3, CV_64F)),
                    CV_StsUnsupportedFormat, conv,
                    "Both matrices must be floating-point (single or double precision)"});
    rows.push_back({"ConvertIntegerDestination", convert(TestMat(5, 2, CV_64F, 1.0), TestMat(5, 3, CV_32S)),
                    CV_StsUnsupportedFormat, conv,
                    "Both matrices must be floating-point (single or double precision)"});
    rows.push_back({"ConvertFiveDimensions", convert(TestMat(7, 5, CV_64F, 1.0), TestMat(7, 4, CV_64F)),
                    CV_StsOutOfRange, conv, "Both input and output point dimensionality must be 2, 3 or 4"});
    rows.push_back({"ConvertTwoToFour", convert(TestMat(5, 2, CV_64F, 1.0), TestMat(5, 4, CV_64F)),
                    CV_StsUnmatchedSizes, conv, "The dimensionalities of input and output point sets differ too much"});

    const char* proj = "Quorl_cvProjectPoints2";
    const char* required = "One of required arguments is not a valid matrix";
    rows.push_back({"ProjectNullObject",
                    [] {
                        ProjectionArgs a;
                        return a.Run(nullptr, a.rvec.get(), a.tvec.get(), a.A.get(), a.k.get(), a.image.get(),
                                     a.dpdrot.get(), a.dpdt.get(), a.dpdf.get(), a.dpdc.get(), a.dpdk.get());
                    },
                    CV_StsBadArg, proj, required});
    rows.push_back({"ProjectNullRotation",
                    [] {
                        ProjectionArgs a;
                        return a.Run(a.object.get(), nullptr, a.tvec.get(), a.A.get(), a.k.get(), a.image.get(),
                                     a.dpdrot.get(), a.dpdt.get(), a.dpdf.get(), a.dpdc.get(), a.dpdk.get());
                    },
                    CV_StsBadArg, proj, required});
    rows.push_back({"ProjectNullTranslation",
                    [] {
                        ProjectionArgs a;
                        return a.Run(a.object.get(), a.rvec.get(), nullptr, a.A.get(), a.k.get(), a.image.get(),
                                     a.dpdrot.get(), a.dpdt.get(), a.dpdf.get(), a.dpdc.get(), a.dpdk.get());
                    },
                    CV_StsBadArg, proj, required});
    rows.push_back({"ProjectNullIntrinsics",
                    [] {
                        ProjectionArgs a;
                        return a.Run(a.object.get(), a.rvec.get(), a.tvec.get(), nullptr, a.k.get(), a.image.get(),
                                     a.dpdrot.get(), a.dpdt.get(), a.dpdf.get(), a.dpdc.get(), a.dpdk.get());
                    },
                    CV_StsBadArg, proj, required});
    rows.push_back({"ProjectNullImage",
                    [] {
                        ProjectionArgs a;
                        return a.Run(a.object.get(), a.rvec.get(), a.tvec.get(), a.A.get(), a.k.get(), nullptr,
                                     a.dpdrot.get(), a.dpdt.get(), a.dpdf.get(), a.dpdc.get(), a.dpdk.get());
                    },
                    CV_StsBadArg, proj, required});
    auto projectWith = [](std::function<void(ProjectionArgs&)> change) {
        return [change] {
            ProjectionArgs a;
            change(a);
            return a.RunAll();
        };
    };
    const char* rotationMessage =
        "Rotation must be represented by 1x3 or 3x1 floating-point rotation vector, or 3x3 rotation matrix";
    rows.push_back({"ProjectRotationOfFour", projectWith([](ProjectionArgs& a) { a.rvec = TestMat(4, 1, CV_64F, 0.1); }),
                    CV_StsBadArg, proj, rotationMessage});
    rows.push_back({"ProjectIntegerRotation",
                    projectWith([](ProjectionArgs& a) { a.rvec = TestMat(3, 1, CV_32S, 0.0); }), CV_StsBadArg, proj,
                    rotationMessage});
    rows.push_back({"ProjectThreeChannelRotationMatrix",
                    projectWith([](ProjectionArgs& a) { a.rvec = TestMat(3, 3, CV_64FC3, 0.0); }), CV_StsBadArg,
                    proj, rotationMessage});
    const char* translationMessage = "Translation vector must be 1x3 or 3x1 floating-point vector";
    rows.push_back({"ProjectTranslationOfFour",
                    projectWith([](ProjectionArgs& a) { a.tvec = TestMat(1, 4, CV_64F, 1.0); }), CV_StsBadArg, proj,
                    translationMessage});
    rows.push_back({"ProjectTranslationSquare",
                    projectWith([](ProjectionArgs& a) { a.tvec = TestMat(3, 3, CV_64F, 1.0); }), CV_StsBadArg, proj,
                    translationMessage});
    rows.push_back({"ProjectIntegerTranslation",
                    projectWith([](ProjectionArgs& a) { a.tvec = TestMat(3, 1, CV_32S, 1.0); }), CV_StsBadArg, proj,
                    translationMessage});
    const char* intrinsicsMessage = "Instrinsic parameters must be 3x3 floating-point matrix";
    rows.push_back({"ProjectIntrinsicsTwoByThree",
                    projectWith([](ProjectionArgs& a) { a.A = TestMat(2, 3, CV_64F, 1.0); }), CV_StsBadArg, proj,
                    intrinsicsMessage});
    rows.push_back({"ProjectIntegerIntrinsics",
                    projectWith([](ProjectionArgs& a) { a.A = TestMat(3, 3, CV_32S, 1.0); }), CV_StsBadArg, proj,
                    intrinsicsMessage});
    const char* distortionMessage = "Distortion coefficients must be 1x4 or 4x1 floating-point vector";
    rows.push_back({"ProjectDistortionOfFive",
                    projectWith([](ProjectionArgs& a) { a.k = TestMat(1, 5, CV_64F, 0.0); }), CV_StsBadArg, proj,
                    distortionMessage});
    rows.push_back({"ProjectIntegerDistortion",
                    projectWith([](ProjectionArgs& a) { a.k = TestMat(4, 1, CV_32S, 0.0); }), CV_StsBadArg, proj,
                    distortionMessage});
    rows.push_back({"ProjectInvalidDistortion",
                    projectWith([](ProjectionArgs& a) { a.k.hdr = NotAMatrix(); }), CV_StsBadArg, proj,
                    distortionMessage});
    rows.push_back({"ProjectDpdrotColumns",
                    projectWith([](ProjectionArgs& a) { a.dpdrot = TestMat(2 * N, 2, CV_64F); }), CV_StsBadArg, proj,
                    "dp/drot must be 2Nx3 floating-point matrix"});
    rows.push_back({"ProjectDptRows", projectWith([](ProjectionArgs& a) { a.dpdt = TestMat(N, 3, CV_64F); }),
                    CV_StsBadArg, proj, "dp/dT must be 2Nx3 floating-point matrix"});
    rows.push_back({"ProjectDpdfColumns", projectWith([](ProjectionArgs& a) { a.dpdf = TestMat(2 * N, 3, CV_64F); }),
                    CV_StsBadArg, proj, "dp/df must be 2Nx2 floating-point matrix"});
    rows.push_back({"ProjectDpdcChannels",
                    projectWith([](ProjectionArgs& a) { a.dpdc = TestMat(2 * N, 1, CV_64FC2); }), CV_StsBadArg, proj,
                    "dp/dc must be 2Nx2 floating-point matrix"});
    rows.push_back({"ProjectDpdkColumns", projectWith([](ProjectionArgs& a) { a.dpdk = TestMat(2 * N, 3, CV_64F); }),
                    CV_StsBadArg, proj, "dp/dk must be 2Nx4 or 2Nx2 floating-point matrix"});
    rows.push_back({"ProjectIntegerDpdk", projectWith([](ProjectionArgs& a) { a.dpdk = TestMat(2 * N, 4, CV_32S); }),
                    CV_StsBadArg, proj, "dp/dk must be 2Nx4 or 2Nx2 floating-point matrix"});
    rows.push_back({"ProjectDpdkWithoutDistortion",
                    [] {
                        ProjectionArgs a;
                        return a.Run(a.object.get(), a.rvec.get(), a.tvec.get(), a.A.get(), nullptr, a.image.get(),
                                     a.dpdrot.get(), a.dpdt.get(), a.dpdf.get(), a.dpdc.get(), a.dpdk.get());
                    },
                    CV_StsNullPtr, proj, "dist_coeffs is NULL while dpdk is not"});
    rows.push_back({"ProjectObjectLayout",
                    projectWith([](ProjectionArgs& a) { a.object = TestMat(N, 2, CV_64FC2, 1.0); }),
                    CV_StsBackTrace, proj, "Inner function failed.", 2});
    // The image points are checked before anything is written, so the
    // derivatives stay untouched too.
    rows.push_back({"ProjectImageCount",
                    projectWith([](ProjectionArgs& a) { a.image = TestMat(N + 1, 2, CV_32F); }), CV_StsBackTrace,
                    proj, "Inner function failed.", 2});

    const char* gn = "Quorl_icvGaussNewton";
    struct GaussNewtonArgs {
        TestMat J{6, 2, CV_64F, 1.0}, err{6, 1, CV_64F, 1.0}, delta{2, 1, CV_64F};
    };
    rows.push_back({"GaussNewtonNullJacobian",
                    [] {
                        GaussNewtonArgs a;
                        Quorl_icvGaussNewton(nullptr, a.err.get(), a.delta.get());
                        return a.delta.Untouched();
                    },
                    CV_StsBadArg, gn, "Some of required arguments is not a valid matrix"});
    rows.push_back({"GaussNewtonNullError",
                    [] {
                        GaussNewtonArgs a;
                        Quorl_icvGaussNewton(a.J.get(), nullptr, a.delta.get());
                        return a.delta.Untouched();
                    },
                    CV_StsBadArg, gn, "Some of required arguments is not a valid matrix"});
    rows.push_back({"GaussNewtonNullDelta",
                    [] {
                        GaussNewtonArgs a;
                        Quorl_icvGaussNewton(a.J.get(), a.err.get(), nullptr);
                        return true;
                    },
                    CV_StsBadArg, gn, "Some of required arguments is not a valid matrix"});
    const char* workMessages[4] = {"JtJ is not a valid matrix", "JtErr is not a valid matrix",
                                   "JtJW is not a valid matrix", "JtJV is not a valid matrix"};
    const char* workNames[4] = {"GaussNewtonInvalidJtJ", "GaussNewtonInvalidJtErr", "GaussNewtonInvalidJtJW",
                                "GaussNewtonInvalidJtJV"};
    for (int w = 0; w < 4; ++w) {
        rows.push_back({workNames[w],
                        [w] {
                            GaussNewtonArgs a;
                            CvMat bad = NotAMatrix();
                            CvMat* work[4] = {nullptr, nullptr, nullptr, nullptr};
                            work[w] = &bad;
                            Quorl_icvGaussNewton(a.J.get(), a.err.get(), a.delta.get(), work[0], work[1], work[2],
                                                 work[3]);
                            return a.delta.Untouched();
                        },
                        CV_StsBadArg, gn, workMessages[w]});
    }
    rows.push_back({"GaussNewtonWorkSize",
                    [] {
                        GaussNewtonArgs a;
                        TestMat JtJ(3, 3, CV_64F);
                        Quorl_icvGaussNewton(a.J.get(), a.err.get(), a.delta.get(), JtJ.get());
                        return a.delta.Untouched();
                    },
                    CV_StsBackTrace, gn, "Inner function failed.", 2});

    const char* fh = "Quorl_cvFindHomography";
    auto findWith = [](std::function<void(HomographyArgs&)> change) {
        return [change] {
            HomographyArgs a;
            change(a);
            Quorl_cvFindHomography(a.object.get(), a.image.get(), a.H.get());
            return a.H.Untouched();
        };
    };
    rows.push_back({"HomographyNullImage",
                    [] {
                        HomographyArgs a;
                        Quorl_cvFindHomography(a.object.get(), nullptr, a.H.get());
                        return a.H.Untouched();
                    },
                    CV_StsBadArg, fh, "one of arguments is not a valid matrix"});
    rows.push_back({"HomographyNullObject",
                    [] {
                        HomographyArgs a;
                        Quorl_cvFindHomography(nullptr, a.image.get(), a.H.get());
                        return a.H.Untouched();
                    },
                    CV_StsBadArg, fh, "one of arguments is not a valid matrix"});
    rows.push_back({"HomographyNullMatrix",
                    [] {
                        HomographyArgs a;
                        Quorl_cvFindHomography(a.object.get(), a.image.get(), nullptr);
                        return true;
                    },
                    CV_StsBadArg, fh, "one of arguments is not a valid matrix"});
    rows.push_back({"HomographyTwoChannelMatrix", findWith([](HomographyArgs& a) { a.H = TestMat(3, 3, CV_64FC2); }),
                    CV_StsUnsupportedFormat, fh, "Homography matrix must have 32fC1 or 64fC1 type"});
    rows.push_back({"HomographyIntegerMatrix", findWith([](HomographyArgs& a) { a.H = TestMat(3, 3, CV_32S); }),
                    CV_StsUnsupportedFormat, fh, "Homography matrix must have 32fC1 or 64fC1 type"});
    rows.push_back({"HomographyMatrixSize", findWith([](HomographyArgs& a) { a.H = TestMat(3, 4, CV_64F); }),
                    CV_StsBadSize, fh, "Homography matrix must be 3x3"});
    rows.push_back({"HomographyPointCounts",
                    findWith([](HomographyArgs& a) { a.object = TestMat(a.object.mat.rowRange(0, 5)); }),
                    CV_StsUnmatchedSizes, fh, "Numbers of image and object points do not match"});
    rows.push_back({"HomographyThreePoints",
                    findWith([](HomographyArgs& a) {
                        a.object = TestMat(a.object.mat.rowRange(0, 3));
                        a.image = TestMat(a.image.mat.rowRange(0, 3));
                    }),
                    CV_StsBadSize, fh, "at least 4 point correspondences are required"});
    const char* spread = "Image points must not all lie on one horizontal or vertical line";
    rows.push_back({"HomographyVerticalLine", findWith([](HomographyArgs& a) { a.image.mat.col(0).setTo(3.0); }),
                    CV_StsBadArg, fh, spread});
    rows.push_back({"HomographyHorizontalLine", findWith([](HomographyArgs& a) { a.image.mat.col(1).setTo(3.0); }),
                    CV_StsBadArg, fh, spread});
    // (X, Y) -> (1 / X, Y / X): the exact homography has H[8] = 0.
    rows.push_back({"HomographyOriginAtInfinity",
                    findWith([](HomographyArgs& a) {
                        const double M[6][2] = {{1, 0}, {2, 0}, {1, 1}, {2, 1}, {4, 2}, {3, -1}};
                        for (int i = 0; i < 6; ++i) {
                            a.object.mat.at<double>(i, 0) = M[i][0];
                            a.object.mat.at<double>(i, 1) = M[i][1];
                            a.image.mat.at<double>(i, 0) = 1 / M[i][0];
                            a.image.mat.at<double>(i, 1) = M[i][1] / M[i][0];
                        }
                    }),
                    CV_StsBadArg, fh, "The linear homography estimate is degenerate"});
    rows.push_back({"HomographyObjectLayout",
                    findWith([](HomographyArgs& a) { a.object = TestMat(6, 2, CV_64FC2, 1.0); }), CV_StsBackTrace, fh,
                    "Inner function failed.", 2});
    return rows;
}

class ErrorTable : public calibtest::ReportCapture, public ::testing::WithParamInterface<ErrorRow> {};

TEST_P(ErrorTable, ReportsOnceAndLeavesOutputs) {
    const ErrorRow& row = GetParam();
    EXPECT_TRUE(row.run()) << "an output was written";
    ASSERT_EQ(static_cast<int>(reports().size()), row.reports);
    const cvcompat::ErrorReport& r = reports().back();
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.function, row.function);
    EXPECT_EQ(r.message, row.message);
    EXPECT_EQ(r.source, "Calibration");
    EXPECT_GT(r.line, 0);
    EXPECT_EQ(cvcompat::GetErrStatus(), row.status);
}

INSTANTIATE_TEST_SUITE_P(CalibrationMaths, ErrorTable, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<ErrorRow>& info) { return std::string(info.param.name); });

}  // namespace
