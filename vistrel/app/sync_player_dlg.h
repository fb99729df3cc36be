#pragma once
// CSyncPlayerDlg: two recorded videos side by side, each with the text log
// written while it was recorded. The first video is the "server", the
// second the "client". Open Files opens both videos paused on their first
// frame and reads both logs; Go finds, for a server frame, the client frame
// whose logged value is nearest and shows it with the difference.
//
// A plain dialog, not a skinned one: it has the system's frame and
// caption. The paths and the server frame are typed into the dialog's edit
// fields.
#include <memory>

#include "app_core/sync_log.h"
#include "video_capture.h"
#include "win/controls.h"
#include "win/dialog.h"

class CSyncPlayerDlg : public CDialog {
 public:
  static constexpr UINT IDD = 156;
  static constexpr UINT kFirstVideoWindow = 1050;
  static constexpr UINT kSecondVideoWindow = 1051;
  static constexpr UINT kFirstVideoPath = 1052;
  static constexpr UINT kFirstLogPath = 1053;
  static constexpr UINT kSecondVideoPath = 1054;
  static constexpr UINT kSecondLogPath = 1055;
  static constexpr UINT kServerFrame = 1056;
  static constexpr UINT kResult = 1014;
  static constexpr UINT kGo = 1057;
  static constexpr UINT kOpenFiles = 1058;

  explicit CSyncPlayerDlg(CWnd* parent = nullptr);
  ~CSyncPlayerDlg() override;

  // The dialog's values, exchanged with its edit fields.
  CString m_strFirstVideoPath;
  CString m_strFirstLogPath;
  CString m_strSecondLogPath;
  CString m_strSecondVideoPath;
  CString m_strResult;
  int m_nServerFrame = 0;

  // Both logs have been read by the last Open Files.
  bool IsOpened() const { return m_bOpened; }
  const SyncLog& ServerLog() const { return m_server; }
  const SyncLog& ClientLog() const { return m_client; }
  CVideoCapture& FirstPlayer() { return *m_pFirstPlayer; }
  CVideoCapture& SecondPlayer() { return *m_pSecondPlayer; }

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  void OnGo();
  void OnOpenFiles();
  void OnPaint();
  void OnDestroy();
  DECLARE_MESSAGE_MAP()

 private:
  // Opens `path` paused in `player`, drawing into `window`; false when the
  // file cannot be opened.
  bool OpenVideo(CVideoCapture& player, CWnd* window, const CRect& rect, const CString& path);
  void RepaintVideos();

  std::unique_ptr<CVideoCapture> m_pFirstPlayer;
  std::unique_ptr<CVideoCapture> m_pSecondPlayer;
  CWnd* m_pFirstWindow = nullptr;
  CWnd* m_pSecondWindow = nullptr;
  CRect m_rcFirst;
  CRect m_rcSecond;
  bool m_bOpened = false;
  // The players have been given a window and a file, or torn down with the
  // window: a player opens once, so the next Open Files makes new ones.
  bool m_bPlayersSpent = false;
  SyncLog m_server;  // column 2 searched for, column 5 kept
  SyncLog m_client;  // column 5 searched in, column 2 kept
};
