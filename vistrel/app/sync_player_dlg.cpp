#include "sync_player_dlg.h"

#include <string>
#include <vector>

#include "dshow/interfaces.h"
#include "win/gdi.h"
#include "win/prompts.h"

namespace {

constexpr UINT kStatic = 0xFFFF;

// 476 x 338 dialog units: the two video windows side by side on top, each
// with its video and log path below it, then Open Files, the server frame
// and Go, the result, and OK and Cancel at the bottom right.
win::DialogTemplate SyncPlayerTemplate() {
  win::DialogTemplate t;
  t.id = CSyncPlayerDlg::IDD;
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 476;
  t.cy = 338;
  t.caption = "Dialog";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  constexpr DWORD label = SS_LEFTNOWORDWRAP | WS_VISIBLE;
  constexpr DWORD edit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE;
  constexpr DWORD button = BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE;
  constexpr DWORD video = SS_BLACKFRAME | WS_VISIBLE;
  t.items = {
      {"STATIC", CSyncPlayerDlg::kFirstVideoWindow, "", 7, 7, 228, 171, video},
      {"STATIC", CSyncPlayerDlg::kSecondVideoWindow, "", 241, 7, 228, 171, video},
      {"STATIC", kStatic, "Server video", 7, 188, 50, 8, label},
      {"EDIT", CSyncPlayerDlg::kFirstVideoPath, "", 59, 186, 176, 13, edit},
      {"STATIC", kStatic, "Server log", 7, 206, 50, 8, label},
      {"EDIT", CSyncPlayerDlg::kFirstLogPath, "", 59, 204, 176, 13, edit},
      {"STATIC", kStatic, "Client video", 241, 188, 50, 8, label},
      {"EDIT", CSyncPlayerDlg::kSecondVideoPath, "", 293, 186, 176, 13, edit},
      {"STATIC", kStatic, "Client log", 241, 206, 50, 8, label},
      {"EDIT", CSyncPlayerDlg::kSecondLogPath, "", 293, 204, 176, 13, edit},
      {"BUTTON", CSyncPlayerDlg::kOpenFiles, "Open Files", 7, 226, 60, 14, button},
      {"STATIC", kStatic, "Server frame", 241, 229, 50, 8, label},
      {"EDIT", CSyncPlayerDlg::kServerFrame, "", 293, 227, 60, 13, edit},
      {"BUTTON", CSyncPlayerDlg::kGo, "Go", 359, 226, 50, 14, button},
      {"EDIT", CSyncPlayerDlg::kResult, "", 7, 248, 462, 60,
       ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VISIBLE},
      {"BUTTON", IDOK, "OK", 365, 317, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 419, 317, 50, 14, button},
  };
  return t;
}

// The template comes with the class: whoever links the dialog has it.
const bool g_registered = [] {
  win::RegisterDialogTemplate(SyncPlayerTemplate());
  return true;
}();

// A paused file graph shows its first frame only once it has prerolled;
// the renderer draws when asked, so the caller waits for that before the
// first repaint. Bounded: a graph that never gets there leaves the window
// empty rather than the dialog hung.
constexpr LONG kPrerollWaitMs = 5000;

// An empty field is named by what it should hold: "Cannot open: !" would
// not say which.
std::string CannotOpen(const CString& path, const char* what) {
  if (path.IsEmpty()) return std::string("The ") + what + " has no path.";
  return "Cannot open: " + std::string(path.GetString()) + "!";
}

bool ReadLog(const CString& path, const char* what, SyncLog& log, std::vector<std::string>& problems) {
  std::string message;
  if (path.IsEmpty()) {
    log = SyncLog();
    problems.push_back(CannotOpen(path, what));
    return false;
  }
  if (ReadSyncLog(path.GetString(), log, &message)) return true;
  problems.push_back(message);
  return false;
}

void WaitForPreroll(CVideoCapture& player) {
  IFilterGraph2* graph = player.GetFilterGraph();
  if (!graph) return;
  CComPtr<IMediaControl> control;
  if (FAILED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))) || !control) return;
  OAFilterState state = 0;
  control->GetState(kPrerollWaitMs, &state);
}

}  // namespace

BEGIN_MESSAGE_MAP(CSyncPlayerDlg, CDialog)
ON_BN_CLICKED(CSyncPlayerDlg::kGo, OnGo)
ON_BN_CLICKED(CSyncPlayerDlg::kOpenFiles, OnOpenFiles)
ON_WM_PAINT()
ON_WM_DESTROY()
END_MESSAGE_MAP()

CSyncPlayerDlg::CSyncPlayerDlg(CWnd* parent)
    : CDialog(IDD, parent),
      m_pFirstPlayer(std::make_unique<CVideoCapture>()),
      m_pSecondPlayer(std::make_unique<CVideoCapture>()) {}

// The players go before the windows they draw into.
CSyncPlayerDlg::~CSyncPlayerDlg() {
  m_pFirstPlayer.reset();
  m_pSecondPlayer.reset();
}

void CSyncPlayerDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Text(dx, kFirstVideoPath, m_strFirstVideoPath);
  DDX_Text(dx, kFirstLogPath, m_strFirstLogPath);
  DDX_Text(dx, kSecondLogPath, m_strSecondLogPath);
  DDX_Text(dx, kSecondVideoPath, m_strSecondVideoPath);
  DDX_Text(dx, kServerFrame, m_nServerFrame);
  DDX_Text(dx, kResult, m_strResult);
}

bool CSyncPlayerDlg::OpenVideo(CVideoCapture& player, CWnd* window, const CRect& rect, const CString& path) {
  if (!window || path.IsEmpty()) return false;
  player.InitRenderer(window->m_hWnd);
  if (FAILED(player.OpenFile(path.GetString()))) return false;
  player.SetVideoPosition(nullptr, &rect);
  CClientDC dc(window);
  player.RepaintVideo(window->m_hWnd, dc.m_hDC);
  return true;
}

void CSyncPlayerDlg::OnOpenFiles() {
  if (!UpdateData(TRUE)) return;
  m_bOpened = false;
  // A player opens once: a second Open Files starts from new ones, the old
  // graphs stopped and released first.
  if (m_bPlayersSpent) {
    m_pFirstPlayer.reset();
    m_pSecondPlayer.reset();
    m_pFirstPlayer = std::make_unique<CVideoCapture>();
    m_pSecondPlayer = std::make_unique<CVideoCapture>();
  }
  m_bPlayersSpent = true;
  m_pFirstWindow = GetDlgItem(kFirstVideoWindow);
  m_pSecondWindow = GetDlgItem(kSecondVideoWindow);
  if (m_pFirstWindow) m_pFirstWindow->GetClientRect(&m_rcFirst);
  if (m_pSecondWindow) m_pSecondWindow->GetClientRect(&m_rcSecond);

  std::vector<std::string> problems;
  const bool firstOpen = OpenVideo(*m_pFirstPlayer, m_pFirstWindow, m_rcFirst, m_strFirstVideoPath);
  if (!firstOpen) problems.push_back(CannotOpen(m_strFirstVideoPath, "server video"));
  const bool secondOpen = OpenVideo(*m_pSecondPlayer, m_pSecondWindow, m_rcSecond, m_strSecondVideoPath);
  if (!secondOpen) problems.push_back(CannotOpen(m_strSecondVideoPath, "client video"));
  if (firstOpen) m_pFirstPlayer->Pause();
  if (secondOpen) m_pSecondPlayer->Pause();
  if (firstOpen) WaitForPreroll(*m_pFirstPlayer);
  if (secondOpen) WaitForPreroll(*m_pSecondPlayer);
  RepaintVideos();

  // Each read replaces its lists: values of an earlier opening never join a
  // later search.
  const bool serverRead = ReadLog(m_strFirstLogPath, "server log", m_server, problems);
  const bool clientRead = ReadLog(m_strSecondLogPath, "client log", m_client, problems);
  m_bOpened = serverRead && clientRead;

  if (!problems.empty()) {
    std::string text;
    for (const std::string& p : problems) text += (text.empty() ? "" : "\n") + p;
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONEXCLAMATION);
  }
}

void CSyncPlayerDlg::OnGo() {
  if (!UpdateData(TRUE)) return;
  m_strResult = SyncResultText(m_bOpened, m_server, m_client, m_nServerFrame).c_str();
  UpdateData(FALSE);
}

void CSyncPlayerDlg::RepaintVideos() {
  if (m_pFirstWindow) {
    CClientDC dc(m_pFirstWindow);
    m_pFirstPlayer->RepaintVideo(m_pFirstWindow->m_hWnd, dc.m_hDC);
  }
  if (m_pSecondWindow) {
    CClientDC dc(m_pSecondWindow);
    m_pSecondPlayer->RepaintVideo(m_pSecondWindow->m_hWnd, dc.m_hDC);
  }
}

// The video windows go with the dialog: the graphs drawing into them and
// posting their events to them are stopped and released first.
void CSyncPlayerDlg::OnDestroy() {
  m_pFirstPlayer->Teardown();
  m_pSecondPlayer->Teardown();
  m_bPlayersSpent = true;
  m_pFirstWindow = nullptr;
  m_pSecondWindow = nullptr;
  CDialog::OnDestroy();
}

void CSyncPlayerDlg::OnPaint() {
  CPaintDC dc(this);
  RepaintVideos();
}
