// The image list: which thumbnail a press selects, what the back buffer
// shows, the toolbar, sizes and states that must not break it, and adding
// image files through the file dialog.
#include "image_list_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "calibration/calibration_data_store.h"
#include "win/prompts.h"
#include "win/window.h"
#include "window_test_support.h"

namespace {

using window_test::Settle;
using window_test::SkinFolder;
::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

// Square, so that the thumbnail is the colour all over. r, g, b.
IplImage* Uniform(int r, int g, int b, int size = 68) {
  IplImage* image = cvCreateImage(cvSize(size, size), IPL_DEPTH_8U, 3);
  cvSet(image, cvScalar(b, g, r));
  return image;
}

constexpr std::uint32_t Argb(int r, int g, int b) {
  return 0xFF000000u | (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) |
         static_cast<std::uint32_t>(b);
}

void ExpectColour(std::uint32_t actual, std::uint32_t expected, int tolerance, const char* what) {
  for (int shift : {16, 8, 0})
    EXPECT_NEAR(static_cast<int>((actual >> shift) & 0xFF), static_cast<int>((expected >> shift) & 0xFF), tolerance)
        << what << std::hex << " actual " << actual << " expected " << expected;
}

class ImageListControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(40, 40, 740, 1740), nullptr, 0));
    store.AddCamera();
  }
  void TearDown() override {
    if (list.m_hWnd) list.DestroyWindow();
    parent.DestroyWindow();
    Settle();
  }
  void Make(int width, int height, int camera = 0, bool stereo = false, bool withStore = true) {
    ASSERT_TRUE(list.Create("Video Player", WS_CHILD | WS_VISIBLE, CRect(0, 0, width, height), &parent, 100123));
    list.SetDataStore(withStore ? &store : nullptr);
    list.SetCurrentCamera(camera);
    list.SetStereoMode(stereo);
    list.SetAppPath(SkinFolder().c_str());
    list.Initialize();
  }
  void Press(int x, int y) { list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
  void Command(UINT id) { list.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  std::uint32_t Pixel(int x, int y) const { return list.BackBuffer()[static_cast<size_t>(y) * list.BufferWidth() + x]; }

  CWnd parent;
  CalibrationDataStore store;
  CImageListControl list;
};

TEST_F(ImageListControlTest, PressSelectsTheThumbnailDrawnThere) {
  struct Case {
    const char* what;
    CPoint at;
    int selected;  // -1: unchanged (stays 0 from the first press)
  };
  // Mono, 300 px: 6 columns of 45 px from x 10; 10 images (rows of 6 and 4).
  const Case mono[] = {
      {"inside 0", {30, 30}, 0},       {"inside 7", {60, 60}, 7},       {"right 5 px of 0", {47, 20}, 0},
      {"bottom 5 px of 0", {20, 48}, 0}, {"gap after 0", {52, 20}, -1}, {"top margin", {30, 5}, -1},
      {"left margin", {5, 30}, -1},    {"right margin", {290, 20}, -1}, {"past the last", {240, 60}, -1},
  };
  // Stereo, 300 px: 3 columns of 85 px; a pair is 80 px wide.
  const Case stereo[] = {
      {"left of pair 0", {20, 20}, 0}, {"right of pair 0", {85, 20}, 0}, {"gap after 0", {92, 20}, -1},
      {"pair 1", {100, 20}, 1},        {"pair 4", {100, 60}, 4},        {"right margin", {280, 20}, -1},
      {"past the last", {190, 150}, -1},
  };
  for (int i = 0; i < 10; ++i) store.AddImage(0, Uniform(100, 100, 100));
  store.AddCamera();
  for (int i = 0; i < 10; ++i) store.AddImage(1, Uniform(100, 100, 100));
  for (bool isStereo : {false, true}) {
    Make(300, 400, 0, isStereo);
    for (const Case& c : isStereo ? std::vector<Case>(std::begin(stereo), std::end(stereo))
                                  : std::vector<Case>(std::begin(mono), std::end(mono))) {
      Press(20, 20);
      ASSERT_EQ(list.GetSelectedIndex(), 0);
      Press(c.at.x, c.at.y);
      EXPECT_EQ(list.GetSelectedIndex(), c.selected < 0 ? 0 : c.selected) << (isStereo ? "stereo " : "mono ") << c.what;
    }
    list.DestroyWindow();
  }
}

TEST_F(ImageListControlTest, PaintsThumbnailsTintAndFrame) {
  const std::uint32_t colours[3] = {Argb(200, 30, 30), Argb(30, 200, 30), Argb(30, 30, 200)};
  for (std::uint32_t c : colours) store.AddImage(0, Uniform((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
  store.DisableImage(0, 1);
  Make(300, 300);
  Press(100, 20);  // thumbnail 2
  Settle();
  ASSERT_EQ(list.GetSelectedIndex(), 2);
  EXPECT_EQ(Pixel(5, 5), CImageListControl::kBackground);
  EXPECT_EQ(Pixel(52, 30), CImageListControl::kBackground);  // a gap
  ExpectColour(Pixel(30, 30), colours[0], 1, "thumbnail 0");
  ExpectColour(Pixel(110, 30), colours[2], 1, "thumbnail 2");
  // 0x96FFBF64 (alpha 150) over thumbnail 1.
  auto over = [](int tint, int base) { return (tint * 150 + base * 105) / 255; };
  const std::uint32_t tinted = Argb(over(0xFF, 30), over(0xBF, 200), over(0x64, 30));
  ExpectColour(Pixel(75, 30), tinted, 2, "tinted 1");
  // The frame one pixel outside thumbnail 2 (100..140 x 10..50).
  for (CPoint p : {CPoint(99, 30), CPoint(140, 30), CPoint(120, 9), CPoint(120, 50)})
    EXPECT_EQ(Pixel(p.x, p.y), CImageListControl::kSelectionColour) << p.x << "," << p.y;
  EXPECT_NE(Pixel(54, 30), CImageListControl::kSelectionColour);  // no frame round 1
  // What the screen shows is the back buffer.
  CClientDC dc(&list);
  const COLORREF shown = dc.GetPixel(30, 30);
  EXPECT_EQ(RGB((colours[0] >> 16) & 0xFF, (colours[0] >> 8) & 0xFF, colours[0] & 0xFF), shown);

  // Disable twice restores image 1; with no selection nothing changes.
  Press(75, 30);
  Command(CImageListControl::kDisableId);
  EXPECT_TRUE(store.IsImageEnabled(0, 1));
  ExpectColour(Pixel(75, 30), colours[1], 1, "enabled 1");
  Command(CImageListControl::kDisableId);
  EXPECT_FALSE(store.IsImageEnabled(0, 1));
  ExpectColour(Pixel(75, 30), tinted, 2, "disabled again");
  list.DestroyWindow();
  CImageListControl fresh;
  ASSERT_TRUE(fresh.Create("Video Player", WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 300), &parent, 100124));
  fresh.SetDataStore(&store);
  fresh.SetCurrentCamera(0);
  fresh.Initialize();
  fresh.SendMessage(WM_COMMAND, MAKEWPARAM(CImageListControl::kDisableId, BN_CLICKED), 0);
  EXPECT_TRUE(store.IsImageEnabled(0, 0) && !store.IsImageEnabled(0, 1) && store.IsImageEnabled(0, 2));
}

TEST_F(ImageListControlTest, ToolbarAndItsButtons) {
  store.AddImage(0, Uniform(10, 10, 10));
  Make(300, 400);
  CToolbarX& bar = list.Toolbar();
  ASSERT_TRUE(bar.m_hWnd);
  EXPECT_EQ(bar.GetDlgCtrlID(), 1024);
  const UINT ids[] = {1044, 1043, 1045};
  ASSERT_EQ(bar.Buttons().size(), 3u);
  for (int n = 0; n < 3; ++n) {
    CWnd* b = bar.Buttons()[n];
    EXPECT_EQ(b->GetDlgCtrlID(), static_cast<int>(ids[n]));
    EXPECT_EQ(b->GetParent(), &list);
    CRect rc;
    b->GetWindowRect(&rc);
    list.ScreenToClient(&rc);
    EXPECT_EQ(rc.TopLeft(), CPoint(10 + 26 * n, 400 - 30)) << n;
    EXPECT_EQ(rc.Size(), CSize(24, 24));
  }
  Press(20, 20);
  list.SendMessage(WM_COMMAND, MAKEWPARAM(1045, BN_CLICKED), reinterpret_cast<LPARAM>(bar.Buttons()[2]->m_hWnd));
  EXPECT_FALSE(store.IsImageEnabled(0, 0));
}

TEST_F(ImageListControlTest, SizesAndStatesThatMustNotBreakIt) {
  // 205 images in 300 x 1650: 6 columns, 35 rows above the toolbar.
  for (int i = 0; i < 205; ++i) store.AddImage(0, Uniform(i, 255 - i, 7, 8));
  Make(300, 1650);
  ASSERT_EQ(list.DrawnCount(), 205);
  const CRect last = list.ThumbnailRects()[204];
  EXPECT_EQ(last, CRect(10, 10 + 45 * 34, 50, 50 + 45 * 34));
  EXPECT_LT(last.bottom, 1650 - 35);
  Press(last.left + 20, last.top + 20);
  EXPECT_EQ(list.GetSelectedIndex(), 204);
  ExpectColour(Pixel(last.left + 20, last.top + 20), Argb(204, 51, 7), 2, "thumbnail 204");
  list.DestroyWindow();

  // Stereo with camera 1 shorter, then with no camera 1 at all.
  CalibrationDataStore pair;
  pair.AddCamera();
  pair.AddCamera();
  for (int i = 0; i < 3; ++i) pair.AddImage(0, Uniform(200, 0, 0));
  pair.AddImage(1, Uniform(0, 0, 200));
  for (int camera : {0, 1}) {
    CImageListControl stereo;
    ASSERT_TRUE(stereo.Create("Video Player", WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 300), &parent, 100125));
    stereo.SetDataStore(&pair);
    stereo.SetCurrentCamera(camera);
    stereo.SetStereoMode(true);
    stereo.Initialize();
    const std::uint32_t* px = stereo.BackBuffer();
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * 300 + x]; };
    if (camera == 0) {
      ExpectColour(at(70, 30), Argb(0, 0, 200), 1, "right of pair 0");
      EXPECT_EQ(at(155, 30), CImageListControl::kBackground);  // right of pair 1: empty
    } else {
      EXPECT_EQ(stereo.DrawnCount(), 1);
      EXPECT_EQ(at(70, 30), CImageListControl::kBackground);  // no camera 2
    }
  }

  // Any two cameras: camera 0 with camera 2 (a camera inserted between a
  // rig's cameras), then back to the next camera.
  pair.AddCamera();
  pair.AddImage(2, Uniform(0, 200, 0));
  {
    CImageListControl rig;
    ASSERT_TRUE(rig.Create("Video Player", WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 300), &parent, 100127));
    rig.SetDataStore(&pair);
    rig.SetStereoCameras(0, 2);
    rig.Initialize();
    EXPECT_EQ(rig.GetRightCamera(), 2);
    const std::uint32_t* px = rig.BackBuffer();
    ExpectColour(px[30 * 300 + 70], Argb(0, 200, 0), 1, "camera 2 right of pair 0");
    rig.SetCurrentCamera(0);
    EXPECT_EQ(rig.GetRightCamera(), 1);
    rig.RepaintBackBuffer();
    ExpectColour(px[30 * 300 + 70], Argb(0, 0, 200), 1, "camera 1 right of pair 0");
  }

  // A control 30 px wide still has one column.
  CImageListControl narrow;
  ASSERT_TRUE(narrow.Create("Video Player", WS_CHILD | WS_VISIBLE, CRect(0, 0, 30, 300), &parent, 100126));
  narrow.SetDataStore(&pair);
  narrow.SetCurrentCamera(0);
  narrow.SetStereoMode(true);
  narrow.Initialize();
  EXPECT_EQ(narrow.DrawnCount(), 3);
  EXPECT_EQ(narrow.ThumbnailRects()[2].top, 10 + 2 * 45);
}

TEST_F(ImageListControlTest, NoCameraOrNoStorePaintsBackgroundOnly) {
  store.AddImage(0, Uniform(200, 0, 0));
  struct Case {
    int camera;
    bool withStore;
  };
  for (const Case& c : {Case{-1, true}, Case{-2, true}, Case{0, false}}) {
    win::ScriptedPrompts prompts;
    Make(300, 300, c.camera, false, c.withStore);
    EXPECT_EQ(list.DrawnCount(), 0);
    EXPECT_EQ(Pixel(30, 30), CImageListControl::kBackground);
    Press(30, 30);
    EXPECT_EQ(list.GetSelectedIndex(), -1);
    Command(CImageListControl::kAddImagesId);
    Command(CImageListControl::kDisableId);
    EXPECT_TRUE(prompts.files.empty());
    EXPECT_EQ(store.GetImageCount(0), 1);
    EXPECT_TRUE(store.IsImageEnabled(0, 0));
    list.DestroyWindow();
  }
}

TEST_F(ImageListControlTest, SelectionPastAClearedListDrawsNoFrame) {
  for (int i = 0; i < 3; ++i) store.AddImage(0, Uniform(200, 0, 0));
  Make(300, 300);
  Press(110, 30);
  ASSERT_EQ(list.GetSelectedIndex(), 2);
  store.ClearEntryImages(0);
  store.AddImage(0, Uniform(200, 0, 0));
  list.RepaintBackBuffer();
  EXPECT_EQ(Pixel(99, 30), CImageListControl::kBackground);
  Command(CImageListControl::kDisableId);
  EXPECT_TRUE(store.IsImageEnabled(0, 0));
}

TEST_F(ImageListControlTest, AddsChosenFilesAndNamesTheRefusedOne) {
  QTemporaryDir dir;
  const std::string a = dir.filePath("a.png").toStdString(), b = dir.filePath("b.bmp").toStdString();
  const std::string bad = dir.filePath("bad.png").toStdString();
  QImage red(64, 64, QImage::Format_RGB888), blue(64, 64, QImage::Format_RGB888);
  red.fill(QColor(220, 20, 20));
  blue.fill(QColor(20, 20, 220));
  ASSERT_TRUE(red.save(QString::fromStdString(a)));
  ASSERT_TRUE(blue.save(QString::fromStdString(b)));
  QFile junk(QString::fromStdString(bad));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not an image");
  junk.close();

  Make(300, 300);
  Settle();
  win::ScriptedPrompts prompts;
  prompts.fileAnswers.push_back({true, {a, bad, b}});
  Command(CImageListControl::kAddImagesId);
  ASSERT_EQ(prompts.files.size(), 1u);
  const win::FileRequest& request = prompts.files[0];
  EXPECT_TRUE(request.open);
  EXPECT_EQ(request.defaultExt, "bmp");
  EXPECT_EQ(request.initialName, "Image");
  EXPECT_TRUE(request.flags & OFN_ALLOWMULTISELECT);
  EXPECT_EQ(request.flags, 0x206u);
  ASSERT_EQ(request.filters.size(), 2u);
  EXPECT_EQ(request.filters[0].description, "Image Files (*.bmp;*.jpg;*.tif;*.png;*.gif)");
  EXPECT_EQ(request.filters[1].description, "All Files (*.*)");

  ASSERT_EQ(store.GetImageCount(0), 2);
  EXPECT_EQ(CV_IMAGE_ELEM(store.GetImage(0, 0), unsigned char, 5, 5 * 3 + 2), 220);  // red first
  EXPECT_EQ(CV_IMAGE_ELEM(store.GetImage(0, 1), unsigned char, 5, 5 * 3 + 0), 220);  // then blue
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_NE(prompts.boxes[0].text.find(bad), std::string::npos);
  EXPECT_EQ(prompts.boxes[0].text.find(a), std::string::npos);

  // The new thumbnails are on screen with no other event than the pump.
  Settle();
  CClientDC dc(&list);
  const COLORREF first = dc.GetPixel(30, 30), second = dc.GetPixel(75, 30);
  EXPECT_NEAR(GetRValue(first), 220, 2);
  EXPECT_NEAR(GetBValue(second), 220, 2);
}

// A file cut short, as `head -c 5000 photo.jpg > t.jpg` makes one, is no
// image in any format the program writes: not a thumbnail grey below the cut
// but one message that names every such file, and the camera as it was.
TEST_F(ImageListControlTest, RefusesFilesCutShortAndLeavesTheCameraAsItWas) {
  store.AddImage(0, Uniform(20, 200, 20));
  // Photo-like detail all over: the first 5000 bytes are a small part of
  // every format's file.
  IplImage* photo = cvCreateImage(cvSize(640, 480), IPL_DEPTH_8U, 3);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      unsigned char* p = &CV_IMAGE_ELEM(photo, unsigned char, y, x * 3);
      p[0] = static_cast<unsigned char>((x * x + 7 * y) % 256);
      p[1] = static_cast<unsigned char>((3 * x + y * y) % 256);
      p[2] = static_cast<unsigned char>((x ^ y) & 0xFF);
    }
  CalibrationDataStore writer;
  writer.AddCamera();
  ASSERT_EQ(writer.AddImage(0, photo), 1);
  QTemporaryDir dir;
  std::vector<std::string> cut;
  for (const char* format : {"jpg", "png", "bmp", "tif", "gif"}) {
    const std::string path = dir.filePath(QString("t.") + format).toStdString();
    ASSERT_TRUE(writer.SaveImage(0, 0, path.c_str(), format)) << format;
    QFile file(QString::fromStdString(path));
    ASSERT_GT(file.size(), 5000) << format;
    ASSERT_TRUE(file.resize(5000));
    cut.push_back(path);
  }

  Make(300, 300);
  Settle();
  win::ScriptedPrompts prompts;
  prompts.fileAnswers.push_back({true, cut});
  Command(CImageListControl::kAddImagesId);
  ASSERT_EQ(store.GetImageCount(0), 1);
  EXPECT_EQ(CV_IMAGE_ELEM(store.GetImage(0, 0), unsigned char, 5, 5 * 3 + 1), 200);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  std::string expected = "These files could not be added as images:";
  for (const std::string& path : cut) expected += "\n" + path;
  EXPECT_EQ(prompts.boxes[0].text, expected);
}

}  // namespace
