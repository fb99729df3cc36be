#pragma once
// What other parts of the workbench ask of the data view: its columns and
// panel texts. The sources view follows a source's camera changes with
// add, insert and remove; the project loader adds one column per loaded
// entry and then rewrites every panel; the calibration commands set the
// text of the panel they ran for. Entries are the store's entry indices.
class IDataViewColumns {
 public:
  virtual ~IDataViewColumns() = default;

  // A column for the camera the store is about to append (its index is the
  // store's mono camera count before AddCamera).
  virtual void AddCameraColumn() = 0;
  // A column for the rig of the two mono entries entryA and entryB.
  virtual void BuildStereoRigPanel(int entryA, int entryB) = 0;
  // A column at entry for a camera the store has inserted there; later
  // columns move along and are renumbered.
  virtual void InsertCameraColumn(int entry) = 0;
  // Drops the column at entry after the store removed that entry.
  virtual void RemoveCameraColumn(int entry) = 0;
  // 1000 rewrites every panel's text from the store; anything else does
  // nothing.
  virtual void RefreshPanels(int what) = 0;
  // Clears the entry's images in the store and drops what was drawn from
  // them (its 3D scene).
  virtual void ClearEntryImages(int entry) = 0;
};

class IDataViewPanels {
 public:
  virtual ~IDataViewPanels() = default;
  // A null title or text keeps the panel's current one.
  virtual void SetPanelText(int entry, const char* title, const char* text) = 0;
};
