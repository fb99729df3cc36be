#pragma once
// CCaptureSettingsDlg: the modal dialog shown before a recording: the
// compressor ("No compression" or one of the system's video compressors)
// and the AVI file to write.
#include "quorlmfc/dialog_x.h"
#include "win/controls.h"

class CCaptureSettingsDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 155;
  static constexpr UINT kCompressorList = 1044;
  static constexpr UINT kFileName = 1046;
  static constexpr UINT kBrowse = 1063;
  // The enumeration's bounds: names, and characters per name.
  static constexpr int kMaxCompressors = 1000;
  static constexpr int kNameSize = 260;

  explicit CCaptureSettingsDlg(CWnd* parent = nullptr);
  ~CCaptureSettingsDlg() override;

  BOOL OnInitDialog() override;
  CString GetFileName() const { return m_strFileName; }
  // 0: no compression; n: compressor n - 1 of the enumeration.
  int GetCompressorIndex() const { return m_nCompressor; }

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  void OnBnClickedBrowse();
  DECLARE_MESSAGE_MAP()

 private:
  CComboBox m_cbCompressors;
  int m_nCompressor = 0;
  CString m_strFileName;
};
