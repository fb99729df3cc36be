#pragma once
// CRelativeOrientationDlg: the modal "Relative Orientation Calculator". The
// user picks a camera and one of its calibration views, and a second camera
// and one of its views; Calculate shows the rotation and translation from
// the first view's camera frame to the second's with its rotation vector,
// and Save writes them to a text file.
#include "calibration/relative_orientation.h"
#include "quorlmfc/dialog_x.h"
#include "quorlmfc/static_ex.h"
#include "win/controls.h"

class CalibrationDataStore;

class CRelativeOrientationDlg : public CDialogX {
 public:
  static constexpr UINT IDD = 159;
  static constexpr UINT kSave = 3;
  static constexpr UINT kCalculate = 4;
  static constexpr UINT kFirstCamera = 1066;
  static constexpr UINT kSecondCamera = 1067;
  static constexpr UINT kFirstView = 1068;
  static constexpr UINT kSecondView = 1069;
  static constexpr UINT kOutput = 1071;

  CRelativeOrientationDlg(CWnd* parent, CalibrationDataStore* store);

  BOOL OnInitDialog() override;
  const CStaticEx& Output() const { return m_output; }

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  void OnCameraChanged();
  void OnCalculate();
  void OnSave();
  DECLARE_MESSAGE_MAP()

 private:
  void FillViews(CComboBox& views, const CComboBox& camera);

  CalibrationDataStore* m_pStore;
  CComboBox m_cbFirstCamera;
  CComboBox m_cbSecondCamera;
  CComboBox m_cbFirstView;
  CComboBox m_cbSecondView;
  CStaticEx m_output;
  RelativeOrientation m_result;
  bool m_bHasResult = false;
};
