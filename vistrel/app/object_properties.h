#pragma once
// CObjectProperties: the modal dialog "Calibration Object Properties" in
// which the user edits a camera's board: squares along x and y, the square
// sizes and the corner-search window.
#include "calibration/calibration_records.h"
#include "quorlmfc/dialog_x.h"

class CObjectProperties : public CDialogX {
 public:
  static constexpr UINT IDD = 152;

  explicit CObjectProperties(CWnd* parent = nullptr);

  // The board holds grid points; the dialog shows squares (points - 1).
  void SetValues(double squareSizeX, double squareSizeY, int squaresX, int squaresY, int windowX, int windowY);
  CalibrationObjectSettings GetValues() const;

 protected:
  void DoDataExchange(CDataExchange* dx) override;

 private:
  int m_nSquaresX = 0;
  int m_nSquaresY = 0;
  double m_dSquareSizeX = 0.0;
  double m_dSquareSizeY = 0.0;
  int m_nWindowX = 0;
  int m_nWindowY = 0;
};
