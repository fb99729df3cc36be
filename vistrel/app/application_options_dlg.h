#pragma once
// CApplicationOptionsDlg: the modal dialog "Application Options", in which
// the user picks the format the project writer saves calibration images in.
// The main dialog owns one instance, so the choice lasts until the program
// ends; it is not stored.
#include "quorlmfc/dialog_x.h"
#include "win/controls.h"

class CApplicationOptionsDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 158;
  static constexpr UINT kFormatList = 1069;

  explicit CApplicationOptionsDlg(CWnd* parent = nullptr);

  BOOL OnInitDialog() override;
  // "bmp", "png", "tif", "jpg" or "gif": the image files' extension and
  // the format the image writer is asked for. Any index outside the list
  // (none chosen) gives "jpg".
  CString GetExtension() const;
  int GetFormatIndex() const { return formatIndex; }

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  void OnOK() override;

 private:
  CComboBox m_cbFormat;
  // JPEG re-encodes the images on every save; the corners are saved in
  // their own files, so calibration does not degrade with it.
  int formatIndex = 3;
};
