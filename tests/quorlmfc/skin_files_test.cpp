#include <gtest/gtest.h>

#include <QImage>
#include <set>
#include <string>
#include <vector>

namespace {

struct Strip {
  const char* name;
  int frame;
};

TEST(SkinFiles, EveryStripHasFourDistinctFramesWithAlpha) {
  const std::vector<Strip> strips = {
      {"power", 24},        {"minimize", 24},        {"open_image", 24},      {"remove_image", 24},
      {"disable_image", 24}, {"run", 24},            {"stop", 24},            {"record", 24},
      {"capture", 24},      {"proc_image", 24},      {"data_insert_camera", 32}, {"open_param", 32},
      {"calib", 32},        {"calib2", 32},          {"show_extrinsics", 32}, {"source_setup", 32},
      {"bin", 32},          {"open", 36},            {"save", 36},            {"camera", 36},
      {"settings", 36},     {"new", 36},             {"3d_move", 36},         {"3d_view", 36},
      {"gridselect", 36},   {"gridreset", 36},       {"gridsettings", 36},    {"objedit_magnify", 36},
      {"objedit_adddistortion", 36}, {"objedit_subdistortion", 36}, {"gridstepback", 36}, {"gridstepforward", 36},
  };
  for (const Strip& s : strips) {
    const std::string path = std::string(QUORL_GRAPHICS_DIR) + "/button_" + s.name + ".png";
    const QImage img(QString::fromStdString(path));
    ASSERT_FALSE(img.isNull()) << path;
    EXPECT_EQ(img.width(), 4 * s.frame) << s.name;
    EXPECT_EQ(img.height(), s.frame) << s.name;
    EXPECT_TRUE(img.hasAlphaChannel()) << s.name;
    const QImage a = img.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(a.pixel(0, 0)), 0) << s.name;                      // transparent corner
    EXPECT_EQ(qAlpha(a.pixel(s.frame / 2, s.frame / 2)), 255) << s.name;  // opaque face
    std::set<std::string> frames;
    for (int k = 0; k < 4; ++k)
      frames.insert(std::string(reinterpret_cast<const char*>(a.copy(k * s.frame, 0, s.frame, s.frame).constBits()),
                                static_cast<size_t>(s.frame * s.frame * 4)));
    EXPECT_EQ(frames.size(), 4u) << s.name;
  }
  const QImage icon(QString(QUORL_GRAPHICS_DIR) + "/icon_cameracalibration.png");
  ASSERT_FALSE(icon.isNull());
  EXPECT_TRUE(icon.hasAlphaChannel());
}

}  // namespace
