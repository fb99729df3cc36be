#pragma once
// The data view's calibration commands, apart from its window so that they
// run against recording stand-ins for the panels and the 3D dialog:
// Load camera parameters (1075), Calibrate (1039), Calibrate Stereo (1042)
// and Show 3D view (1074). Each takes the selected entry (-1 for none) and
// returns true only when it changed something; refusals and failures are
// shown in a message box over the owner and leave store, panels and scenes
// as they were. Runs are synchronous on the calling thread.
#include <string>

class CalibrationDataStore;
class CWnd;
class ICalibSceneTarget;
class IDataViewColumns;
class IDataViewPanels;

class CCalibrationCommands {
 public:
  CCalibrationCommands(CalibrationDataStore& store, IDataViewColumns& columns, IDataViewPanels& panels,
                       ICalibSceneTarget& scenes);

  // Message boxes and the open dialog go over this window (null: none).
  void SetOwner(CWnd* owner) { m_pOwner = owner; }

  bool LoadCameraParameters(int entry);
  bool Calibrate(int entry);
  bool CalibrateStereo(int entry);
  // True when the dialog was shown (with a rebuilt scene unless it already
  // showed the entry's).
  bool Show3DView(int entry);

  // Caps the stereo engine's refinement (0: the engine's own limit) so tests
  // can make a stereo run fail.
  void SetStereoEvaluationLimitForTesting(int evaluations) { m_nStereoEvaluationLimit = evaluations; }

 private:
  void Tell(const std::string& text) const;
  // The rig of the two camera entries, by position among the rigs; -1.
  int FindRig(int entryA, int entryB) const;

  CalibrationDataStore& m_Store;
  IDataViewColumns& m_Columns;
  IDataViewPanels& m_Panels;
  ICalibSceneTarget& m_Scenes;
  CWnd* m_pOwner = nullptr;
  int m_nStereoEvaluationLimit = 0;
};
