// The synchronised player on logs written by the test and, where it shows
// video, two generated clips, driven through its edit fields and buttons:
// which log columns Go searches (no video needed), the frame checks,
// reopening, the first frames in both windows, and files that cannot be
// opened.
#include "sync_player_dlg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "video_test_support.h"
#include "win/gdi.h"
#include "win/prompts.h"

using namespace video_test;

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

using Values = std::vector<std::uint32_t>;

// The dialog and its helpers; no clip.
class SyncPlayerDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override {
    ASSERT_TRUE(dialog.Create(CSyncPlayerDlg::IDD));
    dialog.ShowWindow(SW_SHOW);
  }
  void TearDown() override {
    if (dialog.m_hWnd) dialog.DestroyWindow();
    for (const std::string& f : files) std::remove(f.c_str());
  }

  std::string Log(const std::string& name, const std::string& text) {
    files.push_back(dshow_test::TempPath(std::to_string(::getpid()) + "_" + name));
    std::ofstream(files.back(), std::ios::binary) << text;
    return files.back();
  }
  void Open(const std::string& firstVideo, const std::string& firstLog, const std::string& secondVideo,
            const std::string& secondLog) {
    dialog.SetDlgItemText(CSyncPlayerDlg::kFirstVideoPath, firstVideo.c_str());
    dialog.SetDlgItemText(CSyncPlayerDlg::kFirstLogPath, firstLog.c_str());
    dialog.SetDlgItemText(CSyncPlayerDlg::kSecondVideoPath, secondVideo.c_str());
    dialog.SetDlgItemText(CSyncPlayerDlg::kSecondLogPath, secondLog.c_str());
    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(CSyncPlayerDlg::kOpenFiles, BN_CLICKED), 0);
  }
  std::string Go(const char* frame) {
    dialog.SetDlgItemText(CSyncPlayerDlg::kServerFrame, frame);
    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(CSyncPlayerDlg::kGo, BN_CLICKED), 0);
    CString shown;
    dialog.GetDlgItemText(CSyncPlayerDlg::kResult, shown);
    EXPECT_STREQ(shown.GetString(), dialog.m_strResult.GetString()) << "the result is written back";
    return shown.GetString();
  }
  COLORREF Pixel(UINT window, int x, int y) {
    CClientDC dc(dialog.GetDlgItem(window));
    return dc.GetPixel(x, y);
  }
  // Frame 0 of the flat clip: red over the window's top sixteenth, black below.
  void ExpectFlatFrameZero(UINT window) {
    EXPECT_EQ(Pixel(window, 100, 1), RGB(255, 0, 0));
    EXPECT_EQ(Pixel(window, 100, 10), RGB(255, 0, 0));
    EXPECT_EQ(Pixel(window, 100, 200), RGB(0, 0, 0));
  }
  void ExpectTallFrameZero(UINT window) {
    EXPECT_EQ(Pixel(window, 100, 1), RGB(255, 0, 0));
    EXPECT_EQ(Pixel(window, 100, 10), RGB(0, 0, 0));
    EXPECT_EQ(Pixel(window, 100, 200), RGB(0, 0, 0));
  }
  // A graph gives a second filter of a name a numbered name of its own.
  static int FiltersNamed(IFilterGraph* graph, const std::string& name) {
    int count = 0;
    const std::string names = FilterNames(graph);
    for (std::size_t at = names.find(name); at != std::string::npos; at = names.find(name, at + 1)) ++count;
    return count;
  }

  CSyncPlayerDlg dialog;
  win::ScriptedPrompts prompts;
  std::vector<std::string> files;
};

// Both clips are black with a red top row at frame 0 (later frames turn
// blue). Stretched over a video window, the flat one's red row covers the
// top sixteenth and the tall one's only a ninety-sixth, which tells them
// apart.
class SyncPlayerTest : public SyncPlayerDialog {
 protected:
  static void SetUpTestSuite() {
    SyncPlayerDialog::SetUpTestSuite();
    tall_ = Clip("sync_tall.avi", 32, 96, 8, &why_);
    if (!tall_.empty()) flat_ = Clip("sync_flat.avi", 32, 16, 8, &why_);
  }
  static void TearDownTestSuite() {
    std::remove(tall_.c_str());
    std::remove(flat_.c_str());
  }
  void SetUp() override {
    if (flat_.empty()) MEDIA_FIXTURE_MISSING(why_);
    SyncPlayerDialog::SetUp();
  }

  static std::string tall_, flat_, why_;
};

std::string SyncPlayerTest::tall_, SyncPlayerTest::flat_, SyncPlayerTest::why_;

// The search reads only the logs: the videos are missing, and the one
// message names only them.
TEST_F(SyncPlayerDialog, GoSearchesTheServerValueAmongTheClientValues) {
  const std::string noVideo = dshow_test::TempPath("no_such_video.avi");
  // The server's fifth and the client's second column hold decoys: a search
  // on the wrong column finds another line.
  struct Case {
    const char* label;
    const char* serverLog;
    const char* clientLog;
    const char* frame;
    const char* result;
  } const cases[] = {
      {"exact, first of equals", "1 100 0 0 999\n2 500 0 -3 100\n", "7 500 0 0 100\n8 100 0 0 500\n9 0 0 0 500\n", "1",
       "Server fame: 1 Client Frame: 1\nTick Difference: 0\n"},
      {"equidistant, earlier line", "1 500 0 0 0\n", "1 489 0 0 510\n2 500 0 0 490\n", "0",
       "Server fame: 0 Client Frame: 0\nTick Difference: 10\n"},
      {"empty client log", "1 500 0 0 0\n", "", "0", "Server fame: 0 Client Frame: none found\n"},
      {"past the lists", "1 500 0 0 0\n2 600 0 0 0\n", "1 0 0 0 500\n2 0 0 0 600\n9 0 0 0 700\n", "2",
       "Server frame 2 is not in the server log (2 lines).\n"},
      {"negative", "1 500 0 0 0\n", "1 0 0 0 500\n", "-1", "Server frame -1 is not in the server log (1 lines).\n"},
      {"4,000,000,000 and 0", "1 4000000000 0 0 0\n", "1 0 0 0 0\n2 0 0 0 3999999999\n", "0",
       "Server fame: 0 Client Frame: 1\nTick Difference: 1\n"},
      {"0 far from 4,000,000,000", "1 0 0 0 4000000000\n", "1 0 0 0 4000000000\n", "0",
       "Server fame: 0 Client Frame: none found\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    prompts.boxes.clear();
    Open(noVideo, Log("server.log", c.serverLog), noVideo, Log("client.log", c.clientLog));
    ASSERT_TRUE(dialog.IsOpened());
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Cannot open: " + noVideo + "!\nCannot open: " + noVideo + "!");
    EXPECT_EQ(Go(c.frame), c.result);
  }
}

TEST_F(SyncPlayerDialog, GoBeforeOpenFilesReadsNothing) {
  EXPECT_EQ(Go("0"), "Open the videos and their logs first.\n");
  EXPECT_EQ(Go("-5"), "Open the videos and their logs first.\n");
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(SyncPlayerTest, BothWindowsShowFrameZeroPausedAndPaintBringsItBack) {
  Open(tall_, Log("server.log", "1 1 1 1 1\n"), flat_, Log("client.log", "1 1 1 1 1\n"));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(dialog.FirstPlayer().GetState(), CVideoCapture::kPaused);
  EXPECT_EQ(dialog.SecondPlayer().GetState(), CVideoCapture::kPaused);
  ExpectTallFrameZero(CSyncPlayerDlg::kFirstVideoWindow);
  ExpectFlatFrameZero(CSyncPlayerDlg::kSecondVideoWindow);
  Sleep(400);  // longer than the clips: a running player would have moved on
  EXPECT_EQ(Pixel(CSyncPlayerDlg::kFirstVideoWindow, 100, 200), RGB(0, 0, 0));
  EXPECT_EQ(Pixel(CSyncPlayerDlg::kSecondVideoWindow, 100, 200), RGB(0, 0, 0));

  // Something drew over the windows; the dialog's repaint restores both.
  for (UINT window : {CSyncPlayerDlg::kFirstVideoWindow, CSyncPlayerDlg::kSecondVideoWindow}) {
    CClientDC dc(dialog.GetDlgItem(window));
    dc.FillSolidRect(0, 0, 300, 250, RGB(255, 255, 255));
  }
  ASSERT_EQ(Pixel(CSyncPlayerDlg::kFirstVideoWindow, 100, 200), RGB(255, 255, 255));
  dialog.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  win::PumpMessages();
  ExpectTallFrameZero(CSyncPlayerDlg::kFirstVideoWindow);
  ExpectFlatFrameZero(CSyncPlayerDlg::kSecondVideoWindow);
}

TEST_F(SyncPlayerTest, ReopeningReplacesListsAndPlayers) {
  Open(tall_, Log("server1.log", "1 10 0 0 11\n2 20 0 0 21\n3 30 0 0 31\n"), flat_,
       Log("client1.log", "1 40 0 0 41\n"));
  ASSERT_TRUE(dialog.IsOpened());
  Open(flat_, Log("server2.log", "1 50 0 0 51\n2 60 0 0 61\n"), tall_, Log("client2.log", "1 70 0 0 71\n"));
  ASSERT_TRUE(dialog.IsOpened());
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(dialog.ServerLog().column2, (Values{50, 60}));
  EXPECT_EQ(dialog.ServerLog().column5, (Values{51, 61}));
  EXPECT_EQ(dialog.ClientLog().column2, (Values{70}));
  EXPECT_EQ(dialog.ClientLog().column5, (Values{71}));
  EXPECT_EQ(Go("2"), "Server frame 2 is not in the server log (2 lines).\n");
  EXPECT_EQ(Go("1"), "Server fame: 1 Client Frame: 0\nTick Difference: 11\n");

  // One source and one renderer per player, each showing its new video.
  for (CVideoCapture* player : {&dialog.FirstPlayer(), &dialog.SecondPlayer()}) {
    IFilterGraph2* graph = player->GetFilterGraph();
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(FiltersNamed(graph, "Media File Source"), 1) << FilterNames(graph);
    EXPECT_EQ(FiltersNamed(graph, "Video Mixing Renderer 9"), 1) << FilterNames(graph);
    EXPECT_EQ(player->GetState(), CVideoCapture::kPaused);
  }
  ExpectFlatFrameZero(CSyncPlayerDlg::kFirstVideoWindow);
  ExpectTallFrameZero(CSyncPlayerDlg::kSecondVideoWindow);
}

TEST_F(SyncPlayerTest, FilesThatCannotBeOpenedAreNamed) {
  const std::string good = Log("good.log", "1 5 0 0 5\n");
  const std::string bad = Log("bad.log", "1 5 0 0 5\n1 2 3\n1 5 0 0 5\n");
  const std::string missingVideo = dshow_test::TempPath("no_such_video.avi");
  const std::string missingLog = dshow_test::TempPath("no_such_log.txt");
  struct Case {
    const char* label;
    std::string firstVideo, firstLog, secondVideo, secondLog;
    std::string message;
    bool opened;  // both logs read: Go searches
  } const cases[] = {
      {"first video", missingVideo, good, flat_, good, "Cannot open: " + missingVideo + "!", true},
      {"second video", tall_, good, missingVideo, good, "Cannot open: " + missingVideo + "!", true},
      {"server log", tall_, missingLog, flat_, good, "Cannot open: " + missingLog + "!", false},
      {"client log", tall_, good, flat_, bad, bad + ", line 2: not a log line!", false},
      {"all four", missingVideo, missingLog, missingVideo, missingLog,
       "Cannot open: " + missingVideo + "!\nCannot open: " + missingVideo + "!\nCannot open: " + missingLog +
           "!\nCannot open: " + missingLog + "!",
       false},
      {"empty fields", "", "", "", "",
       "The server video has no path.\nThe client video has no path.\nThe server log has no path.\n"
       "The client log has no path.",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    prompts.boxes.clear();
    Open(c.firstVideo, c.firstLog, c.secondVideo, c.secondLog);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, c.message);
    EXPECT_EQ(dialog.IsOpened(), c.opened);
    EXPECT_EQ(Go("0"), c.opened ? "Server fame: 0 Client Frame: 0\nTick Difference: 0\n"
                                : "Open the videos and their logs first.\n");
  }
  // The video that did open shows its first frame all the same.
  prompts.boxes.clear();
  Open(missingVideo, good, flat_, good);
  ExpectFlatFrameZero(CSyncPlayerDlg::kSecondVideoWindow);
}

}  // namespace
