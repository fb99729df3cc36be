#include "comma_locale/comma_locale.h"
#include "calibration/calibration_files.h"
#include "text_files/text_files.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class CalibrationFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("calibration_files_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }
    std::string Write(const char* name, const std::string& text) const {
        quorl_test::Spit(Path(name), text);
        return Path(name);
    }
    static std::string Read(const std::string& path) { return quorl_test::Slurp(path); }

    fs::path dir_;
};

CameraParameters Sample() {
    CameraParameters p;
    const double K[9] = {533.091234567, 0.0, 342.4912, 0.0, 533.2134, 233.87, 0.0, 0.0, 1.0};
    const double d[5] = {-0.2901234567, 0.1000004, 0.00121, -0.00016, 0.5};
    const double R[9] = {0.99, 0.01, -0.14, -0.02, 0.999, -0.05, 0.14, 0.05, 0.98};
    const double T[3] = {-83.2, 0.93, 0.29};
    std::copy(K, K + 9, p.K);
    std::copy(d, d + 5, p.d);
    std::copy(R, R + 9, p.R);
    std::copy(T, T + 3, p.T);
    p.width = 640;
    p.height = 480;
    return p;
}

// Every value equal to six decimals, the fifth distortion value excepted.
void ExpectSixDecimals(const CameraParameters& a, const CameraParameters& b) {
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(a.K[i], b.K[i], 5e-7);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(a.d[i], b.d[i], 5e-7);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(a.R[i], b.R[i], 5e-7);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(a.T[i], b.T[i], 5e-7);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
}

TEST_F(CalibrationFiles, IntrinsicsRoundTrip) {
    const CameraParameters saved = Sample();
    ASSERT_TRUE(WriteIntrinsicsFile(Path("a.txt").c_str(), saved));
    CameraParameters loaded;
    loaded.d[4] = -7.0;
    ASSERT_TRUE(ReadIntrinsicsFile(Path("a.txt").c_str(), &loaded));
    ExpectSixDecimals(saved, loaded);
    EXPECT_EQ(loaded.d[4], -7.0);
    ASSERT_TRUE(WriteIntrinsicsFile(Path("b.txt").c_str(), loaded));
    EXPECT_EQ(Read(Path("a.txt")), Read(Path("b.txt")));
    EXPECT_EQ(Read(Path("a.txt")).substr(0, 51), "533.091235 0.000000 342.491200\n0.000000 533.213400 ");
}

TEST_F(CalibrationFiles, IntrinsicsBadFiles) {
    ASSERT_TRUE(WriteIntrinsicsFile(Path("good.txt").c_str(), Sample()));
    const std::string good = Read(Path("good.txt"));
    std::string crlf;
    for (char c : good) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
    std::string withNan = good;
    withNan.replace(0, good.find(' '), "nan");
    std::string negativeWidth = good;
    negativeWidth.replace(good.rfind("640"), 3, "-640");
    // Every value but the height: 25 reals and one integer convert.
    const std::string noHeight = good.substr(0, good.rfind(' ')) + "\n";
    const std::string wordHeight = good.substr(0, good.rfind(' ')) + " tall\n";
    struct Case {
        const char* name;
        std::string text;
        bool loads;
    };
    const Case cases[] = {
        {"short file", good.substr(0, good.size() / 2), false},
        {"nan", withNan, false},
        {"inf", "inf" + good.substr(good.find(' ')), false},
        {"negative width", negativeWidth, false},
        {"height missing", noHeight, false},
        {"height not a number", wordHeight, false},
        {"garbage", "hello world\n", false},
        {"CR LF", crlf, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraParameters p;
        p.K[0] = 42.0;
        p.d[4] = 3.0;
        EXPECT_EQ(ReadIntrinsicsFile(Write("case.txt", c.text).c_str(), &p), c.loads);
        if (c.loads) {
            ExpectSixDecimals(Sample(), p);
        } else {
            EXPECT_EQ(p.K[0], 42.0);
            EXPECT_EQ(p.width, 0);
        }
        EXPECT_EQ(p.d[4], 3.0);
    }
    CameraParameters untouched;
    EXPECT_FALSE(ReadIntrinsicsFile(Path("missing.txt").c_str(), &untouched));
    EXPECT_EQ(untouched.K[0], 0.0);
}

struct Poses {
    explicit Poses(int views, double base) : R(9 * views), r(3 * views), T(3 * views) {
        for (size_t i = 0; i < R.size(); ++i) R[i] = base + 0.001 * i;
        for (size_t i = 0; i < r.size(); ++i) r[i] = -base - 0.01 * i;
        for (size_t i = 0; i < T.size(); ++i) T[i] = 100.0 * base + i;
    }
    std::vector<double> R, r, T;
};

TEST_F(CalibrationFiles, ExtrinsicsSevenViewsIntoFive) {
    const Poses written(7, 1.0);
    ASSERT_TRUE(WriteViewExtrinsicsFile(Path("e.txt").c_str(), 7, written.R.data(), written.r.data(),
                                        written.T.data()));
    Poses read(5, 0.0);
    EXPECT_EQ(ReadViewExtrinsicsFile(Path("e.txt").c_str(), 5, read.R.data(), read.r.data(), read.T.data()), 5);
    for (size_t i = 0; i < read.R.size(); ++i) EXPECT_NEAR(read.R[i], written.R[i], 5e-7);
    for (size_t i = 0; i < read.r.size(); ++i) EXPECT_NEAR(read.r[i], written.r[i], 5e-7);
    for (size_t i = 0; i < read.T.size(); ++i) EXPECT_NEAR(read.T[i], written.T[i], 5e-7);
    // Five lines per view.
    const std::string text = Read(Path("e.txt"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 35);
}

TEST_F(CalibrationFiles, ExtrinsicsBadFiles) {
    const Poses written(5, 1.0);
    ASSERT_TRUE(WriteViewExtrinsicsFile(Path("e.txt").c_str(), 5, written.R.data(), written.r.data(),
                                        written.T.data()));
    const std::string good = Read(Path("e.txt"));
    auto lineStart = [&](int line) {
        size_t at = 0;
        for (int i = 0; i < line; ++i) at = good.find('\n', at) + 1;
        return at;
    };
    std::string garbage = good;
    garbage.replace(lineStart(5 * 3 + 1), 1, "x");  // view 3 (from 0), its second matrix row
    std::string withNan = good;
    withNan.replace(lineStart(5 * 2 + 3), good.find(' ', lineStart(5 * 2 + 3)) - lineStart(5 * 2 + 3), "nan");
    std::string crlf;
    for (char c : good) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
    struct Case {
        const char* name;
        std::string text;
        int views;
    };
    const Case cases[] = {
        {"garbage in view 3", garbage, 3},
        {"nan in view 2", withNan, 2},
        {"short file", good.substr(0, lineStart(5 * 4 + 2)), 4},
        {"empty file", "", 0},
        {"CR LF", crlf, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Poses read(5, 9.0);
        const Poses before = read;
        EXPECT_EQ(ReadViewExtrinsicsFile(Write("case.txt", c.text).c_str(), 5, read.R.data(), read.r.data(),
                                         read.T.data()),
                  c.views);
        for (int i = 0; i < 45; ++i)
            EXPECT_NEAR(read.R[i], (i < 9 * c.views ? written : before).R[i], 5e-7) << i;
        for (int i = 0; i < 15; ++i) {
            EXPECT_NEAR(read.r[i], (i < 3 * c.views ? written : before).r[i], 5e-7) << i;
            EXPECT_NEAR(read.T[i], (i < 3 * c.views ? written : before).T[i], 5e-7) << i;
        }
    }
    Poses read(5, 9.0);
    EXPECT_EQ(ReadViewExtrinsicsFile(Path("missing.txt").c_str(), 5, read.R.data(), read.r.data(), read.T.data()),
              0);
    EXPECT_EQ(read.R[0], 9.0);
}

TEST_F(CalibrationFiles, ImagePointsRoundTripAndBadFiles) {
    const std::vector<Point2d> points = {{1.25, 2.5}, {639.123456, 479.5}, {-0.5, 0.0}};
    ASSERT_TRUE(WriteImagePointsFile(Path("p.txt").c_str(), points.data(), 3));
    EXPECT_EQ(Read(Path("p.txt")), "1.250000 2.500000\n639.123456 479.500000\n-0.500000 0.000000\n");
    ASSERT_TRUE(WriteImagePointsFile(Path("empty.txt").c_str(), nullptr, 0));
    EXPECT_TRUE(fs::exists(Path("empty.txt")));
    EXPECT_EQ(fs::file_size(Path("empty.txt")), 0u);

    const std::vector<Point2d> small = {{1, 2}, {3, 4}};
    struct Case {
        const char* name;
        std::string path;
        int maxCount;
        int read;
        const std::vector<Point2d>& expected;
    };
    const Case cases[] = {
        {"round trip", Path("p.txt"), 3, 3, points},
        {"more room than points", Path("p.txt"), 10, 3, points},
        {"fewer wanted than held", Path("p.txt"), 2, 2, points},
        {"empty file", Path("empty.txt"), 54, 0, points},
        {"missing file", Path("missing.txt"), 54, 0, points},
        {"nan", Write("nan.txt", "1 2\nnan 3\n4 5\n"), 54, 1, small},
        {"garbage", Write("garbage.txt", "1 2\n3 4\nx 5\n"), 54, 2, small},
        {"CR LF", Write("crlf.txt", "1.25 2.5\r\n639.123456 479.5\r\n-0.5 0\r\n"), 54, 3, points},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Point2d> read(static_cast<size_t>(c.maxCount), Point2d{-9.0, -9.0});
        EXPECT_EQ(ReadImagePointsFile(c.path.c_str(), c.maxCount, read.data()), c.read);
        for (int i = 0; i < c.maxCount; ++i) {
            if (i < c.read) {
                EXPECT_NEAR(read[i].x, c.expected[i].x, 5e-7);
                EXPECT_NEAR(read[i].y, c.expected[i].y, 5e-7);
            } else {
                EXPECT_EQ(read[i].x, -9.0);
            }
        }
    }
}

TEST_F(CalibrationFiles, WritersReportFailure) {
    const Poses poses(2, 1.0);
    const Point2d point{1.0, 2.0};
    const std::string noFolder = Path("missing/x.txt");
    EXPECT_FALSE(WriteIntrinsicsFile(noFolder.c_str(), Sample()));
    EXPECT_FALSE(WriteViewExtrinsicsFile(noFolder.c_str(), 2, poses.R.data(), poses.r.data(), poses.T.data()));
    EXPECT_FALSE(WriteImagePointsFile(noFolder.c_str(), &point, 1));
    // /dev/full opens, but every flush fails: the loss must be reported.
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(WriteIntrinsicsFile("/dev/full", Sample()));
        EXPECT_FALSE(WriteViewExtrinsicsFile("/dev/full", 2, poses.R.data(), poses.r.data(), poses.T.data()));
        EXPECT_FALSE(WriteImagePointsFile("/dev/full", &point, 1));
    }
}

TEST_F(CalibrationFiles, RoundTripUnderACommaDecimalLocale) {
    if (!quorl_test::UseCommaLocale()) GTEST_SKIP() << "no comma-decimal locale can be built here";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
    const bool comma = std::string(buffer) == "1,5";
    const CameraParameters saved = Sample();
    const Poses poses(1, 1.5);
    const Point2d point{1.5, 2.25};
    const bool wroteAll = WriteIntrinsicsFile(Path("i.txt").c_str(), saved) &&
                          WriteViewExtrinsicsFile(Path("e.txt").c_str(), 1, poses.R.data(), poses.r.data(),
                                                  poses.T.data()) &&
                          WriteImagePointsFile(Path("p.txt").c_str(), &point, 1) &&
                          Write("b.txt", "9 6 0.025 0.025 3 3\n").size() > 0;
    CameraParameters loaded;
    Poses read(1, 0.0);
    Point2d readPoint{};
    CalibrationObjectSettings board;
    const bool intrinsics = ReadIntrinsicsFile(Path("i.txt").c_str(), &loaded);
    const int views = ReadViewExtrinsicsFile(Path("e.txt").c_str(), 1, read.R.data(), read.r.data(), read.T.data());
    const int count = ReadImagePointsFile(Path("p.txt").c_str(), 1, &readPoint);
    const bool boardRead = ReadDefaultBoardFile(Path("b.txt").c_str(), &board);
    std::setlocale(LC_ALL, "C");
    EXPECT_TRUE(comma);
    ASSERT_TRUE(wroteAll);
    EXPECT_EQ(Read(Path("p.txt")), "1.500000 2.250000\n");
    ASSERT_TRUE(intrinsics);
    ExpectSixDecimals(saved, loaded);
    EXPECT_EQ(views, 1);
    EXPECT_NEAR(read.T[1], poses.T[1], 5e-7);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(readPoint.y, 2.25);
    EXPECT_TRUE(boardRead);
    EXPECT_EQ(board.squareSizeX, 0.025);
}

TEST_F(CalibrationFiles, DefaultBoardFileTable) {
    struct Case {
        const char* name;
        const char* text;  // null: no file
        bool loads;
    };
    const Case cases[] = {
        {"valid", "9 6 25.0 25.0 5 5\n", true},
        {"valid, any white space", "9\n6\t25.0 25.0\r\n5 5", true},
        {"missing", nullptr, false},
        {"zero counts", "0 0 25.0 25.0 3 3\n", false},
        {"negative count", "-9 6 25.0 25.0 3 3\n", false},
        {"non-finite size", "9 6 inf 25.0 3 3\n", false},
        {"nan size", "9 6 25.0 nan 3 3\n", false},
        {"hex size", "9 6 0x19 25.0 3 3\n", false},
        {"size with its unit", "9 6 25.0mm 25.0 3 3\n", false},
        {"five values only", "9 6 25.0 25.0 5\n", false},
        {"window too large", "9 6 25.0 25.0 101 3\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.text ? Write("board.txt", c.text) : Path("none.txt");
        CalibrationObjectSettings s{12.0, 13.0, 7, 5, 2, 2};
        EXPECT_EQ(ReadDefaultBoardFile(path.c_str(), &s), c.loads);
        if (c.loads) {
            EXPECT_EQ(s.squaresX, 9);
            EXPECT_EQ(s.squaresY, 6);
            EXPECT_EQ(s.squareSizeX, 25.0);
            EXPECT_EQ(s.windowY, 5);
        } else {
            EXPECT_EQ(s.squaresX, 7);
            EXPECT_EQ(s.squaresY, 5);
            EXPECT_EQ(s.squareSizeX, 12.0);
            EXPECT_EQ(s.squareSizeY, 13.0);
            EXPECT_EQ(s.windowX, 2);
            EXPECT_EQ(s.windowY, 2);
        }
    }
}

}  // namespace
