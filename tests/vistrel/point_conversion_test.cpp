// Euclidean <-> homogeneous point sets in every layout the conversion
// accepts.
#include <calibration/point_conversion.h>

#include "calib_test_util.h"

namespace {

using calibtest::TestMat;

// Points as rows: n x d doubles, point i = (i + 1, 10 (i + 1), ..., w).
cv::Mat Points(int n, int d, double w = 2.0) {
    cv::Mat p(n, d, CV_64F);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < d - 1; ++j) p.at<double>(i, j) = (i + 1) * std::pow(10.0, j);
        p.at<double>(i, d - 1) = w;
    }
    return p;
}

// The layouts of a set of n points of dimension d, each as the matrix holding
// it and how to read it back as n x d rows.
enum class Layout { Rows, Columns, RowOfChannels, ColumnOfChannels };

const char* Name(Layout l) {
    switch (l) {
        case Layout::Rows: return "Rows";
        case Layout::Columns: return "Columns";
        case Layout::RowOfChannels: return "RowOfChannels";
        case Layout::ColumnOfChannels: return "ColumnOfChannels";
    }
    return "";
}

cv::Mat Arrange(const cv::Mat& rows, Layout l, int depth) {
    cv::Mat m;
    switch (l) {
        case Layout::Rows: m = rows.clone(); break;
        case Layout::Columns: m = rows.t(); break;
        case Layout::RowOfChannels: m = rows.reshape(rows.cols, 1).clone(); break;
        case Layout::ColumnOfChannels: m = rows.reshape(rows.cols, rows.rows).clone(); break;
    }
    m.convertTo(m, depth);
    return m;
}

cv::Mat Rearrange(const cv::Mat& m, Layout l, int d) {
    cv::Mat out;
    m.convertTo(out, CV_64F);
    switch (l) {
        case Layout::Rows: return out;
        case Layout::Columns: return out.t();
        case Layout::RowOfChannels:
        case Layout::ColumnOfChannels: return out.reshape(1, static_cast<int>(out.total()));
    }
    return out;
}

struct ConversionCase {
    int srcDims, dstDims;
    Layout srcLayout, dstLayout;
    int srcDepth, dstDepth;
};

std::string CaseName(const ConversionCase& c) {
    return std::to_string(c.srcDims) + "To" + std::to_string(c.dstDims) + Name(c.srcLayout) + "To" +
           Name(c.dstLayout) + (c.srcDepth == CV_64F ? "D" : "F") + (c.dstDepth == CV_64F ? "D" : "F");
}

void PrintTo(const ConversionCase& c, std::ostream* os) { *os << CaseName(c); }

std::vector<ConversionCase> Cases() {
    std::vector<ConversionCase> cases;
    const Layout layouts[] = {Layout::Rows, Layout::Columns, Layout::RowOfChannels, Layout::ColumnOfChannels};
    const std::pair<int, int> dims[] = {{2, 3}, {3, 2}, {3, 3}, {3, 4}, {4, 3}, {2, 2}};
    for (auto [s, d] : dims)
        for (Layout ls : layouts)
            for (Layout ld : layouts)
                cases.push_back({s, d, ls, ld, CV_64F, s == d ? CV_32F : CV_64F});
    cases.push_back({3, 2, Layout::Rows, Layout::Rows, CV_32F, CV_32F});
    cases.push_back({2, 3, Layout::Columns, Layout::RowOfChannels, CV_32F, CV_64F});
    cases.push_back({4, 3, Layout::ColumnOfChannels, Layout::Columns, CV_64F, CV_32F});
    return cases;
}

class PointConversion : public calibtest::ReportCapture, public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(PointConversion, ConvertsEveryLayout) {
    const ConversionCase& c = GetParam();
    const int n = 7;  // more points than any dimension, so rows and columns are told apart
    const cv::Mat pts = Points(n, c.srcDims);
    TestMat src{Arrange(pts, c.srcLayout, c.srcDepth)};
    TestMat dst{Arrange(cv::Mat(n, c.dstDims, CV_64F, cv::Scalar(calibtest::kSentinel)), c.dstLayout, c.dstDepth)};
    Quorl_cvConvertPointsHomogenious(src.get(), dst.get());
    ASSERT_TRUE(reports().empty()) << reports().front().message;

    cv::Mat expected(n, c.dstDims, CV_64F);
    for (int i = 0; i < n; ++i) {
        const double w = pts.at<double>(i, c.srcDims - 1);
        for (int j = 0; j < c.dstDims; ++j) {
            if (c.dstDims == c.srcDims + 1)
                expected.at<double>(i, j) = j < c.srcDims ? pts.at<double>(i, j) : 1.0;
            else if (c.dstDims + 1 == c.srcDims)
                expected.at<double>(i, j) = pts.at<double>(i, j) / w;
            else
                expected.at<double>(i, j) = pts.at<double>(i, j);
        }
    }
    const double tol = c.srcDepth == CV_32F || c.dstDepth == CV_32F ? 1e-4 : 1e-12;
    EXPECT_LT(cv::norm(Rearrange(dst.mat, c.dstLayout, c.dstDims) - expected, cv::NORM_INF), tol);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PointConversion, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return CaseName(info.param); });

using PointConversionEdges = calibtest::ReportCapture;

TEST_F(PointConversionEdges, ZeroWeightDividesByOne) {
    for (int depth : {CV_64F, CV_32F}) {
        cv::Mat src = (cv::Mat_<double>(4, 3) << 1, 2, 0, 3, 4, 2, -5, 6, 0, 7, 8, 4);
        src.convertTo(src, depth);
        TestMat s{src}, d(4, 2, depth);
        Quorl_cvConvertPointsHomogenious(s.get(), d.get());
        cv::Mat got;
        d.mat.convertTo(got, CV_64F);
        const cv::Mat expected = (cv::Mat_<double>(4, 2) << 1, 2, 1.5, 2, -5, 6, 1.75, 2);
        EXPECT_EQ(cv::norm(got - expected, cv::NORM_INF), 0.0);
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(PointConversionEdges, SameHeaderAndSameDataAreLeftAlone) {
    TestMat m{Points(5, 3)};
    const cv::Mat before = m.mat.clone();
    Quorl_cvConvertPointsHomogenious(m.get(), m.get());
    CvMat alias = cvMat(5, 3, CV_64F, m.mat.data);
    Quorl_cvConvertPointsHomogenious(m.get(), &alias);
    EXPECT_EQ(cv::norm(m.mat - before, cv::NORM_INF), 0.0);
    EXPECT_TRUE(reports().empty());

    // The same data seen as another type is refused and left as it is.
    CvMat other = cvMat(5, 6, CV_32F, m.mat.data);
    Quorl_cvConvertPointsHomogenious(m.get(), &other);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].message, "Invalid inplace operation");
    EXPECT_EQ(cv::norm(m.mat - before, cv::NORM_INF), 0.0);
}

// A 4 x 4 set: no more rows than columns, so the points are the columns.
TEST_F(PointConversionEdges, SquareMatrixHoldsPointsInColumns) {
    const cv::Mat src = (cv::Mat_<double>(4, 4) << 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 2, 2, 2, 2);
    TestMat s{src}, d(3, 4, CV_64F);
    Quorl_cvConvertPointsHomogenious(s.get(), d.get());
    EXPECT_EQ(cv::norm(d.mat - src.rowRange(0, 3) / 2, cv::NORM_INF), 0.0);
}

}  // namespace
