#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MVG/gdi_frames.h"

namespace {

// Images are released with the library's release call.
struct ImageDeleter {
  void operator()(IplImage* im) const { cvReleaseImage(&im); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

Image Make(int w, int h, int channels = 3, int fill = 0) {
  Image im(cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, channels));
  std::memset(im->imageData, fill, static_cast<size_t>(im->imageSize));
  return im;
}

unsigned char* Px(IplImage* im, int x, int y) {
  return reinterpret_cast<unsigned char*>(im->imageData) + y * im->widthStep + x * im->nChannels;
}

// A frame pixel says where it is: blue the low row byte, red the low column
// byte, green the high nibbles of both. A blank frame is all 0xFF, which no
// frame here holds.
struct Pos {
  int row, col;
  bool operator==(const Pos& o) const { return row == o.row && col == o.col; }
};
void Encode(unsigned char* p, int row, int col) {
  p[0] = static_cast<unsigned char>(row & 0xFF);
  p[1] = static_cast<unsigned char>(((row >> 8) & 0x0F) | ((col >> 8) << 4));
  p[2] = static_cast<unsigned char>(col & 0xFF);
}
Pos Decode(const unsigned char* p) { return {p[0] | (p[1] & 0x0F) << 8, p[2] | (p[1] >> 4) << 8}; }

// A frame whose data is exactly height x 3 width heap bytes, like the
// sampler's buffer: no slack after the last row hides an overrun.
class ExactFrame {
 public:
  ExactFrame(int w, int h, bool coded) : data_(new unsigned char[static_cast<size_t>(w) * 3 * h]) {
    header_ = cvCreateImageHeader(cvSize(w, h), IPL_DEPTH_8U, 3);
    cvSetData(header_, data_.get(), w * 3);
    std::memset(data_.get(), 0xFF, static_cast<size_t>(w) * 3 * h);
    if (coded)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) Encode(Px(header_, x, y), y, x);
  }
  ~ExactFrame() { cvReleaseImageHeader(&header_); }
  IplImage* get() const { return header_; }
  std::vector<unsigned char> Bytes() const {
    return {data_.get(), data_.get() + static_cast<size_t>(header_->widthStep) * header_->height};
  }

 private:
  std::unique_ptr<unsigned char[]> data_;
  IplImage* header_;
};

enum class Kind { Stereo, Quad, Field, FieldHalfRes };

struct SplitCase {
  Kind kind;
  bool flip;
  bool oneField;
  std::string Name() const {
    const char* k[] = {"stereo", "quad", "field", "field-half-res"};
    return std::string(k[static_cast<int>(kind)]) + (flip ? " flip" : "") + (oneField ? " one-field" : "");
  }
  int Count() const { return kind == Kind::Quad ? 4 : kind == Kind::Stereo ? 2 : 1; }
  bool Halved() const { return kind == Kind::Field || kind == Kind::FieldHalfRes || oneField; }
  CvSize ImageSize(int W, int H) const {
    switch (kind) {
      case Kind::Stereo: return cvSize(W / 2, oneField ? H / 2 : H);
      case Kind::Quad: return cvSize(W / 2, oneField ? H / 4 : H / 2);
      case Kind::Field: return cvSize(W, H / 2);
      case Kind::FieldHalfRes: break;
    }
    return cvSize(W / 2, H / 2);
  }
  // The frame position that pixel (j, i) of image k comes from.
  Pos Source(int W, int H, int k, int i, int j) const {
    const int step = Halved() ? 2 : 1;
    const bool lower = kind == Kind::Quad && k >= 2;
    const int base = flip ? (lower ? (H - 1) / 2 : H - 1) : (lower ? H / 2 : 0);
    const int row = flip ? base - i * step : base + i * step;
    const int w = ImageSize(W, H).width;
    if (kind == Kind::FieldHalfRes) return {row, 2 * j};
    if (kind == Kind::Field) return {row, j};
    return {row, (k % 2) * w + j};
  }
  bool Doubles() const { return kind == Kind::Field || kind == Kind::FieldHalfRes || (kind == Kind::Stereo && oneField); }

  bool Split(IplImage* frame, IplImage** images) const {
    switch (kind) {
      case Kind::Stereo: return GDI::SplitFrameStereo(frame, images, flip, oneField);
      case Kind::Quad: return GDI::SplitFrameQuad(frame, images, flip, oneField);
      case Kind::Field: return GDI::SplitFrameField(frame, images[0], flip);
      case Kind::FieldHalfRes: break;
    }
    return GDI::SplitFrameFieldAndHalfRes(frame, images[0], flip);
  }
  bool Merge(IplImage* frame, IplImage** images) const {
    switch (kind) {
      case Kind::Stereo: return GDI::MergeFrameStereo(frame, images, flip, oneField);
      case Kind::Quad: return GDI::MergeFrameQuad(frame, images, flip, oneField);
      case Kind::Field: return GDI::MergeFrameField(frame, images[0], flip);
      case Kind::FieldHalfRes: break;
    }
    return GDI::MergeFrameFieldAndHalfRes(frame, images[0], flip);
  }
};

std::vector<SplitCase> AllCases() {
  std::vector<SplitCase> cases;
  for (Kind kind : {Kind::Stereo, Kind::Quad})
    for (bool flip : {false, true})
      for (bool oneField : {false, true}) cases.push_back({kind, flip, oneField});
  for (Kind kind : {Kind::Field, Kind::FieldHalfRes})
    for (bool flip : {false, true}) cases.push_back({kind, flip, false});
  return cases;
}

// Splits a coded frame, checks every image pixel's source, merges into a
// blank frame and checks which rows are restored, doubled or left blank.
void SplitAndMerge(int W, int H) {
  for (const SplitCase& c : AllCases()) {
    SCOPED_TRACE(c.Name() + " " + std::to_string(W) + "x" + std::to_string(H));
    ExactFrame frame(W, H, true);
    const CvSize size = c.ImageSize(W, H);
    std::vector<Image> owned;
    std::vector<IplImage*> images;
    for (int k = 0; k < c.Count(); ++k) {
      owned.push_back(Make(size.width, size.height, 3, 0));
      images.push_back(owned.back().get());
    }
    ASSERT_TRUE(c.Split(frame.get(), images.data()));
    for (int k = 0; k < c.Count(); ++k)
      for (int i = 0; i < size.height; ++i)
        for (int j = 0; j < size.width; ++j)
          ASSERT_EQ(Decode(Px(images[k], j, i)), c.Source(W, H, k, i, j)) << "image " << k << " pixel " << j << "," << i;

    // Expected merge: each image pixel back at its source (both pixels of a
    // half-res pair), the row beside it too where lines are doubled.
    ExactFrame blank(W, H, false);
    std::vector<Pos> expected(static_cast<size_t>(W) * H, Pos{0xFFF, 0xFFF});
    const int beside = c.flip ? -1 : 1;
    for (int k = 0; k < c.Count(); ++k)
      for (int i = 0; i < size.height; ++i)
        for (int j = 0; j < size.width; ++j) {
          const Pos s = c.Source(W, H, k, i, j);
          for (int dx = 0; dx < (c.kind == Kind::FieldHalfRes ? 2 : 1); ++dx) {
            expected[s.row * W + s.col + dx] = s;
            if (c.Doubles()) expected[(s.row + beside) * W + s.col + dx] = s;
          }
        }
    ASSERT_TRUE(c.Merge(blank.get(), images.data()));
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        ASSERT_EQ(Decode(Px(blank.get(), x, y)), expected[y * W + x]) << "frame pixel " << x << "," << y;
    if (c.kind == Kind::Stereo && !c.oneField) {
      EXPECT_EQ(blank.Bytes(), frame.Bytes());
    }
  }
}

TEST(GdiFrames, SplitAndMergeEveryLayout) { SplitAndMerge(40, 24); }

// 180 pixels make 90-pixel cameras whose rows cvCreateImage pads from 270 to
// 272 bytes; the frame's rows are 540 bytes with nothing after the last one.
TEST(GdiFrames, SplitAndMergePaddedCameraRows) {
  ASSERT_EQ(Make(90, 1)->widthStep, 272);
  SplitAndMerge(180, 12);
}

TEST(GdiFrames, QuadOf640x480TakesTheLowerPairFromTheMiddle) {
  ExactFrame frame(640, 480, true);
  std::vector<Image> owned;
  std::vector<IplImage*> q;
  for (int k = 0; k < 4; ++k) {
    owned.push_back(Make(320, 240));
    q.push_back(owned.back().get());
  }
  ASSERT_TRUE(GDI::SplitFrameQuad(frame.get(), q.data(), false, false));
  EXPECT_EQ(Decode(Px(q[2], 0, 0)), (Pos{240, 0}));
  EXPECT_EQ(Decode(Px(q[3], 319, 239)), (Pos{479, 639}));
  ASSERT_TRUE(GDI::SplitFrameQuad(frame.get(), q.data(), true, false));
  EXPECT_EQ(Decode(Px(q[0], 0, 0)), (Pos{479, 0}));
  EXPECT_EQ(Decode(Px(q[1], 0, 239)), (Pos{240, 320}));
  EXPECT_EQ(Decode(Px(q[2], 0, 0)), (Pos{239, 0}));
  EXPECT_EQ(Decode(Px(q[3], 319, 239)), (Pos{0, 639}));
}

std::vector<unsigned char> Snapshot(const std::vector<IplImage*>& images) {
  std::vector<unsigned char> all;
  for (IplImage* im : images)
    if (im) all.insert(all.end(), im->imageData, im->imageData + im->imageSize);
  return all;
}

TEST(GdiFrames, RefusesImagesThatDoNotFit) {
  struct Case {
    const char* name;
    int frameChannels;
    std::vector<CvSize> sizes;  // per image; width 0: a null image
    std::function<bool(IplImage*, IplImage**)> call;
    int frameHeight = 24;
    int imageChannels = 3;
    int frameDepth = IPL_DEPTH_8U;
  };
  using GDI::MergeFrameField, GDI::MergeFrameFieldAndHalfRes, GDI::SplitFrameField, GDI::SplitFrameFieldAndHalfRes;
  auto stereo = [](bool merge, bool oneField) {
    return [=](IplImage* f, IplImage** im) {
      return merge ? GDI::MergeFrameStereo(f, im, false, oneField) : GDI::SplitFrameStereo(f, im, true, oneField);
    };
  };
  auto quad = [](bool merge) {
    return [=](IplImage* f, IplImage** im) {
      return merge ? GDI::MergeFrameQuad(f, im, true, true) : GDI::SplitFrameQuad(f, im, false, false);
    };
  };
  auto field = [](bool (*fn)(IplImage*, IplImage*, int)) {
    return [=](IplImage* f, IplImage** im) { return fn(f, im[0], 1); };
  };
  const CvSize half = cvSize(20, 24), none = cvSize(0, 0);
  const std::vector<Case> cases = {
      {"stereo too tall", 3, {cvSize(20, 25), cvSize(20, 25)}, stereo(false, false)},
      {"stereo merge too tall", 3, {cvSize(20, 25), cvSize(20, 25)}, stereo(true, false)},
      {"stereo one field too tall", 3, {cvSize(20, 13), cvSize(20, 13)}, stereo(false, true)},
      // 12 field rows fit 23 frame rows; their doubled lines do not.
      {"stereo doubling past the end", 3, {cvSize(20, 12), cvSize(20, 12)}, stereo(true, true), 23},
      {"field doubling past the end", 3, {cvSize(40, 12)}, field(MergeFrameField), 23},
      {"stereo too wide", 3, {cvSize(21, 24), cvSize(21, 24)}, stereo(false, false)},
      {"stereo unequal", 3, {half, cvSize(20, 23)}, stereo(true, false)},
      {"stereo null image", 3, {half, none}, stereo(false, false)},
      {"stereo 1-channel frame", 1, {half, half}, stereo(false, false)},
      {"quad too tall", 3, {cvSize(20, 13), cvSize(20, 13), cvSize(20, 13), cvSize(20, 13)}, quad(false)},
      {"quad one field too tall", 3, {cvSize(20, 7), cvSize(20, 7), cvSize(20, 7), cvSize(20, 7)}, quad(true)},
      {"quad unequal", 3, {cvSize(20, 12), cvSize(20, 12), cvSize(20, 12), cvSize(19, 12)}, quad(false)},
      {"field too tall", 3, {cvSize(40, 13)}, field(SplitFrameField)},
      {"field merge too wide", 3, {cvSize(41, 12)}, field(MergeFrameField)},
      {"field 1-channel frame", 1, {cvSize(40, 12)}, field(MergeFrameField)},
      {"half-res too wide", 3, {cvSize(21, 12)}, field(SplitFrameFieldAndHalfRes)},
      {"half-res merge too wide", 3, {cvSize(21, 12)}, field(MergeFrameFieldAndHalfRes)},
      {"half-res null", 3, {none}, field(SplitFrameFieldAndHalfRes)},
      // Images of another channel count or depth than the frame.
      {"stereo 1-channel images", 3, {half, half}, stereo(false, false), 24, 1},
      {"stereo merge 1-channel images", 3, {half, half}, stereo(true, false), 24, 1},
      {"quad merge 1-channel images", 3, {cvSize(20, 6), cvSize(20, 6), cvSize(20, 6), cvSize(20, 6)}, quad(true),
       24, 1},
      {"field 1-channel image", 3, {cvSize(40, 12)}, field(SplitFrameField), 24, 1},
      {"half-res merge 1-channel image", 3, {cvSize(20, 12)}, field(MergeFrameFieldAndHalfRes), 24, 1},
      {"stereo 16-bit frame", 3, {half, half}, stereo(false, false), 24, 3, IPL_DEPTH_16U},
      {"field merge 16-bit frame", 3, {cvSize(40, 12)}, field(MergeFrameField), 24, 3, IPL_DEPTH_16U},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image frame(cvCreateImage(cvSize(40, c.frameHeight), c.frameDepth, c.frameChannels));
    std::memset(frame->imageData, 0x11, static_cast<size_t>(frame->imageSize));
    std::vector<Image> owned;
    std::vector<IplImage*> images;
    for (const CvSize& s : c.sizes) {
      owned.push_back(s.width ? Make(s.width, s.height, c.imageChannels, 0x22) : nullptr);
      images.push_back(owned.back().get());
    }
    const auto before = Snapshot(images);
    const auto frameBefore = Snapshot({frame.get()});
    EXPECT_FALSE(c.call(frame.get(), images.data()));
    EXPECT_EQ(Snapshot(images), before);
    EXPECT_EQ(Snapshot({frame.get()}), frameBefore);
  }
  Image odd = Make(40, 23), a = Make(20, 12), b = Make(20, 12);
  IplImage* fits[2] = {a.get(), b.get()};
  EXPECT_TRUE(GDI::SplitFrameStereo(odd.get(), fits, false, true));
  EXPECT_TRUE(GDI::SplitFrameField(odd.get(), Make(40, 12).get(), 0));

  IplImage* pair[2] = {nullptr, nullptr};
  Image frame = Make(40, 24);
  EXPECT_FALSE(GDI::SplitFrameStereo(frame.get(), nullptr, false, false));
  EXPECT_FALSE(GDI::SplitFrameStereo(nullptr, pair, false, false));
  EXPECT_FALSE(GDI::MergeFrameQuad(frame.get(), pair, false, false));
  EXPECT_FALSE(GDI::SplitFrameField(nullptr, frame.get(), 0));
}

// A 5-pixel image (rows padded) and a mask of 0 and 7 in a checker pattern.
class GdiMasks : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    image_ = Make(5, 3, GetParam());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        for (int c = 0; c < GetParam(); ++c) Px(image_.get(), x, y)[c] = static_cast<unsigned char>(10 + x + 5 * y + 60 * c);
    original_ = Make(5, 3, GetParam());
    std::memcpy(original_->imageData, image_->imageData, static_cast<size_t>(image_->imageSize));
    mask_ = Make(5, 3, 1);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) *Px(mask_.get(), x, y) = (x + y) % 2 ? 0 : 7;
  }
  bool On(int x, int y) const { return (x + y) % 2 == 0; }
  // want(x, y, c, original) for every sample.
  void Expect(const std::function<int(int, int, int)>& want) {
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        for (int c = 0; c < GetParam(); ++c)
          EXPECT_EQ(Px(image_.get(), x, y)[c], want(x, y, Px(original_.get(), x, y)[c])) << x << "," << y << "," << c;
  }
  Image image_, original_, mask_;
};

TEST_P(GdiMasks, ApplyMaskClearsWhereTheMaskIsZero) {
  ASSERT_EQ(mask_->widthStep, 8);
  ASSERT_TRUE(GDI::ApplyMask(image_.get(), mask_.get()));
  Expect([&](int x, int y, int v) { return On(x, y) ? v : 0; });
}

TEST_P(GdiMasks, BinaryMaskInvertedClearsWhereTheMaskIsSet) {
  ASSERT_TRUE(GDI::ApplyBinaryMask(image_.get(), mask_.get(), 1));
  Expect([&](int x, int y, int v) { return On(x, y) ? 0 : v; });
}

TEST_P(GdiMasks, BinaryMaskBecomesTheMaskInBlackAndWhite) {
  ASSERT_TRUE(GDI::ApplyBinaryMask(image_.get(), mask_.get(), 0));
  Expect([&](int x, int y, int) { return On(x, y) ? 255 : 0; });
}

TEST_P(GdiMasks, RefusesASmallOrColourMask) {
  for (const Image& bad : {Make(4, 3, 1), Make(5, 2, 1), Make(5, 3, 3)}) {
    EXPECT_FALSE(GDI::ApplyMask(image_.get(), bad.get()));
    EXPECT_FALSE(GDI::ApplyBinaryMask(image_.get(), bad.get(), 0));
    EXPECT_FALSE(GDI::ApplyBinaryMask(image_.get(), bad.get(), 1));
  }
  EXPECT_FALSE(GDI::ApplyMask(image_.get(), nullptr));
  Expect([](int, int, int v) { return v; });
  Image larger = Make(6, 4, 1, 0);
  EXPECT_TRUE(GDI::ApplyMask(image_.get(), larger.get()));
}

INSTANTIATE_TEST_SUITE_P(Channels, GdiMasks, ::testing::Values(1, 3));

TEST(GdiResize, SubsampleTakesEverySecondPixel) {
  Image src = Make(9, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) Encode(Px(src.get(), x, y), y, x);
  Image dst = Make(5, 4);
  ASSERT_TRUE(GDI::Subsample(src.get(), dst.get(), 0));
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 5; ++j) EXPECT_EQ(Decode(Px(dst.get(), j, i)), (Pos{2 * i, 2 * j}));
  Image narrow = Make(8, 7, 3, 0x33), dst2 = Make(5, 4, 3, 0x44), grey = Make(5, 4, 1, 0x44);
  EXPECT_FALSE(GDI::Subsample(narrow.get(), dst2.get(), 0));
  EXPECT_FALSE(GDI::Subsample(src.get(), grey.get(), 0));
  EXPECT_EQ(static_cast<unsigned char>(dst2->imageData[0]), 0x44);
  // Rows count as columns do: 4 rows need 7 source rows.
  Image shortSrc = Make(9, 6, 3, 0x33);
  EXPECT_FALSE(GDI::Subsample(shortSrc.get(), dst2.get(), 0));
  EXPECT_EQ(static_cast<unsigned char>(dst2->imageData[dst2->imageSize - 1]), 0x44);
  EXPECT_FALSE(GDI::Subsample(nullptr, dst2.get(), 0));
  EXPECT_FALSE(GDI::Subsample(src.get(), nullptr, 0));
  EXPECT_FALSE(GDI::DoubleFields(nullptr));
}

TEST(GdiResize, DoubleFieldsLeavesAnOddLastRow) {
  Image im = Make(4, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 4; ++x) Encode(Px(im.get(), x, y), y, x);
  ASSERT_TRUE(GDI::DoubleFields(im.get()));
  const int rows[] = {0, 0, 2, 2, 4};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Decode(Px(im.get(), x, y)), (Pos{rows[y], x})) << y;
}

TEST(GdiResize, ReallocImageKeepsDepthAndChannels) {
  IplImage* im = cvCreateImage(cvSize(10, 10), IPL_DEPTH_16S, 2);
  ASSERT_TRUE(GDI::ReallocImage(&im, cvSize(20, 6)));
  EXPECT_EQ(im->width, 20);
  EXPECT_EQ(im->height, 6);
  EXPECT_EQ(im->depth, IPL_DEPTH_16S);
  EXPECT_EQ(im->nChannels, 2);
  IplImage* kept = im;
  EXPECT_FALSE(GDI::ReallocImage(&im, cvSize(0, 6)));
  EXPECT_EQ(im, kept);
  cvReleaseImage(&im);
  IplImage* null = nullptr;
  EXPECT_FALSE(GDI::ReallocImage(&null, cvSize(4, 4)));
  EXPECT_EQ(null, nullptr);
  EXPECT_FALSE(GDI::ReallocImage(nullptr, cvSize(4, 4)));
}

// Anti-aliased pixels are not compared exactly: the weighted centre of what
// was drawn in one channel tells where a circle went.
struct Centre {
  double x = 0, y = 0, weight = 0;
};
Centre Centroid(IplImage* im, int channel, int x0 = 0, int x1 = -1) {
  Centre c;
  if (x1 < 0) x1 = im->width;
  for (int y = 0; y < im->height; ++y)
    for (int x = x0; x < x1; ++x) {
      const double v = Px(im, x, y)[channel];
      c.x += v * x;
      c.y += v * y;
      c.weight += v;
    }
  if (c.weight > 0) {
    c.x /= c.weight;
    c.y /= c.weight;
  }
  return c;
}

TEST(GdiDrawing, CornersExPlacesTheCircleWithFlipAndOffsets) {
  CvPoint2D32f p = cvPoint2D32f(5.0f, 6.0f);
  for (const bool flip : {false, true}) {
    Image im = Make(40, 40);
    GDI::DrawCornersEx(im.get(), &p, 1, cvScalar(0, 0, 255), 3, 4, 2.0f, 2.0f, flip, 5.0f);
    const Centre c = Centroid(im.get(), 2);
    const double cy = flip ? 40 - 12 - 4 : 4 + 12;
    EXPECT_NEAR(c.x, 13, 0.3) << flip;
    EXPECT_NEAR(c.y, cy, 0.3) << flip;
    EXPECT_EQ(Px(im.get(), 13, static_cast<int>(cy))[2], 0);  // a ring, not a disc
    EXPECT_GT(Px(im.get(), 18, static_cast<int>(cy))[2], 100);
    EXPECT_EQ(Px(im.get(), 13, static_cast<int>(cy))[0], 0);  // only the given colour
  }
}

TEST(GdiDrawing, ProductsRoundHalfToEven) {
  CvPoint2D32f p = cvPoint2D32f(1.25f, 1.75f);  // x 2: 2.5 and 3.5
  Image im = Make(30, 30);
  GDI::DrawCornersEx(im.get(), &p, 1, cvScalar(0, 0, 255), 10, 10, 2.0f, 2.0f, false, 3.0f);
  const Centre c = Centroid(im.get(), 2);
  EXPECT_NEAR(c.x, 12, 0.3);  // 2.5 gives 2
  EXPECT_NEAR(c.y, 14, 0.3);  // 3.5 gives 4
}

TEST(GdiDrawing, CornersAreCyan) {
  CvPoint2D32f p = cvPoint2D32f(10.0f, 10.0f);
  Image im = Make(20, 20);
  GDI::DrawCorners(im.get(), &p, 1);
  EXPECT_NEAR(Centroid(im.get(), 0).x, 10, 0.3);
  EXPECT_GT(Centroid(im.get(), 1).weight, 0);
  EXPECT_EQ(Centroid(im.get(), 2).weight, 0);
}

TEST(GdiDrawing, MatchesOnlyWhereStatusIsOne) {
  CvPoint2D32f first[3], second[3];
  for (int k = 0; k < 3; ++k) {
    first[k] = cvPoint2D32f(8 + 20 * k, 5);
    second[k] = cvPoint2D32f(14 + 20 * k, 15);
  }
  char status[3] = {0, 1, 2};
  CvPoint2D32f* both[2] = {first, second};
  const std::vector<std::function<void(IplImage*)>> forms = {
      [&](IplImage* im) { GDI::DrawMatches(im, both, 3, status, cvScalar(0, 0, 255), 1.0f, 1.0f); },
      [&](IplImage* im) { GDI::DrawMatches(im, first, second, 3, status, cvScalar(0, 0, 255), 1.0f, 1.0f); },
      [&](IplImage* im) { GDI::DrawMatchesEx(im, first, second, 3, status, cvScalar(0, 0, 255), 0, 0, 1.0f, 1.0f, false); },
  };
  for (size_t f = 0; f < forms.size(); ++f) {
    SCOPED_TRACE(f);
    Image im = Make(60, 22);
    forms[f](im.get());
    for (int k = 0; k < 3; ++k) {
      const Centre c = Centroid(im.get(), 2, 20 * k, 20 * k + 20);
      if (k == 1) {
        EXPECT_GT(c.weight, 0);
      } else {
        EXPECT_EQ(c.weight, 0) << k;
      }
    }
    // The first two forms draw the circle in cyan, the Ex form in the colour.
    EXPECT_EQ(Centroid(im.get(), 0).weight > 0, f < 2);
  }
}

TEST(GdiDrawing, IgnoresNullInput) {
  Image im = Make(10, 10);
  CvPoint2D32f p = cvPoint2D32f(1, 1);
  GDI::DrawCorners(nullptr, &p, 1);
  GDI::DrawCorners(im.get(), nullptr, 1);
  GDI::DrawMatches(im.get(), static_cast<CvPoint2D32f**>(nullptr), 1, nullptr, cvScalar(0), 1, 1);
  GDI::DrawMatches(im.get(), &p, &p, 1, nullptr, cvScalar(0), 1, 1);
  EXPECT_NO_THROW(GDI::DrawCornersEx(im.get(), &p, 1, cvScalar(255), 0, 0, 1, 1, false, -2.0f));
  EXPECT_EQ(Centroid(im.get(), 0).weight, 0);
}

}  // namespace
