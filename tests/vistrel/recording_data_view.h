#pragma once
// A data view stand-in that writes down what it is asked, one line a call:
// "camera", "rig A B", "insert E", "remove E", "refresh W", "clear E".
// Given a store, a refresh of every panel (1000) also words every panel's
// text from that store as the data view does.
#include <string>
#include <vector>

#include "app_core/panel_texts.h"
#include "calibration/calibration_data_store.h"
#include "data_view_columns.h"

class RecordingDataView : public IDataViewColumns {
 public:
  RecordingDataView() = default;
  explicit RecordingDataView(const CalibrationDataStore& store) : store_(&store) {}

  void AddCameraColumn() override { calls.push_back("camera"); }
  void BuildStereoRigPanel(int a, int b) override {
    calls.push_back("rig " + std::to_string(a) + " " + std::to_string(b));
  }
  void InsertCameraColumn(int entry) override { calls.push_back("insert " + std::to_string(entry)); }
  void RemoveCameraColumn(int entry) override { calls.push_back("remove " + std::to_string(entry)); }
  void RefreshPanels(int what) override {
    calls.push_back("refresh " + std::to_string(what));
    if (what == 1000 && store_) texts = PanelTexts(*store_);
  }
  void ClearEntryImages(int entry) override { calls.push_back("clear " + std::to_string(entry)); }

  // Every entry's panel text, in entry order.
  static std::vector<std::string> PanelTexts(const CalibrationDataStore& store) {
    std::vector<std::string> result;
    for (int e = 0, rig = 0; e < store.GetEntryCount(); ++e)
      result.push_back(store.GetEntryKind(e) == kStereoRigEntry ? RefreshedRigText(store, rig++)
                                                               : RefreshedCameraText(store, e));
    return result;
  }

  std::vector<std::string> calls;
  std::vector<std::string> texts;

 private:
  const CalibrationDataStore* store_ = nullptr;
};
