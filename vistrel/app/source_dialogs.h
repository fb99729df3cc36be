#pragma once
// The sources view's two small modal dialogs: choosing a capture device and
// asking whether a removed source takes its cameras along.
#include <string>
#include <vector>

#include "quorlmfc/dialog_x.h"
#include "win/controls.h"

// "Select Video Source": the system's capture devices in a list, the first
// chosen at the start. OK keeps the chosen entry.
class CSourceSelectDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 150;
  static constexpr UINT kDeviceList = 1069;
  // The enumeration's bounds: names, and characters per name (terminator
  // included); longer names are cut, further devices not listed.
  static constexpr int kMaxDevices = 20;
  static constexpr int kNameSize = 100;

  explicit CSourceSelectDlg(CWnd* parent = nullptr);
  ~CSourceSelectDlg() override;

  BOOL OnInitDialog() override;
  // The device chosen on OK; -1 before.
  int GetSelectedIndex() const { return m_nSelected; }
  const std::string& GetSelectedName() const { return m_strSelected; }

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  void OnOK() override;

 private:
  CComboBox m_cbDevices;
  std::vector<std::string> m_names;
  int m_nSelected = -1;
  std::string m_strSelected;
};

// "Remove video source": Yes (answer 0) and No (answer 1) close with OK,
// Cancel (answer 2) with Cancel.
class CRemoveSourceOptionsDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 101;
  static constexpr UINT kYes = 1033;
  static constexpr UINT kNo = 3;
  static constexpr UINT kCancel = 1034;
  enum Answer { kRemoveCameras = 0, kKeepCameras = 1, kCancelled = 2 };

  explicit CRemoveSourceOptionsDlg(CWnd* parent = nullptr);
  ~CRemoveSourceOptionsDlg() override;

  int GetAnswer() const { return m_nAnswer; }

 protected:
  void OnYes();
  void OnNo();
  void OnCancelButton();
  DECLARE_MESSAGE_MAP()

 private:
  int m_nAnswer = kCancelled;
};
