#include "app_core/source_cameras.h"

#include <algorithm>
#include <cstdio>

#include "calibration/calibration_data_store.h"

int StreamImageCount(int splitting) {
  switch (splitting) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 4;
    default: return 0;
  }
}

int SourceReconfigurationPlan::MapCamera(int oldCamera) const {
  if (oldCamera < 0) return -1;
  int shifted = oldCamera;
  for (int removed : removedCameras) {
    if (removed == oldCamera) return -1;
    if (removed < oldCamera) --shifted;
  }
  // Inserted cameras sit after insertAfterCamera, whose own index and the
  // ones below it stay.
  if (insertCount > 0 && oldCamera > insertAfterCamera) shifted += insertCount;
  return shifted;
}

SourceReconfigurationPlan PlanSourceReconfiguration(const StreamConfiguration& current, int deinterlace,
                                                    int splitting) {
  SourceReconfigurationPlan plan;
  plan.next = current;
  plan.next.deinterlace = deinterlace;
  plan.next.splitting = splitting;
  const int oldCount = current.CameraCount();
  const int newCount = StreamImageCount(splitting);
  if (newCount == 0 || newCount == oldCount) return plan;

  if (newCount < oldCount) {
    for (int slot = oldCount - 1; slot >= newCount; --slot) plan.removedCameras.push_back(current.cameras[slot]);
    std::sort(plan.removedCameras.rbegin(), plan.removedCameras.rend());
  } else {
    int last = -1;
    for (int slot = 0; slot < oldCount; ++slot) last = std::max(last, current.cameras[slot]);
    plan.insertAfterCamera = last;
    plan.insertCount = newCount - oldCount;
  }

  StreamConfiguration next = plan.next;
  for (int slot = 0; slot < 4; ++slot) next.cameras[slot] = -1;
  for (int slot = 0; slot < std::min(oldCount, newCount); ++slot) next.cameras[slot] = plan.MapCamera(current.cameras[slot]);
  for (int i = 0; i < plan.insertCount; ++i) next.cameras[oldCount + i] = plan.insertAfterCamera + 1 + i;
  plan.next = next;
  return plan;
}

SourceReconfigurationPlan PlanSourceRemoval(const StreamConfiguration& current) {
  SourceReconfigurationPlan plan;
  plan.next = current;
  for (int camera : current.cameras) {
    if (camera >= 0) plan.removedCameras.push_back(camera);
  }
  std::sort(plan.removedCameras.rbegin(), plan.removedCameras.rend());
  plan.removedCameras.erase(std::unique(plan.removedCameras.begin(), plan.removedCameras.end()),
                            plan.removedCameras.end());
  for (int& camera : plan.next.cameras) camera = -1;
  return plan;
}

int StereoRigEntry(const CalibrationDataStore& store, int rig) {
  if (rig < 0) return -1;
  int seen = 0;
  for (int entry = 0; entry < store.GetEntryCount(); ++entry) {
    if (store.GetEntryKind(entry) != kStereoRigEntry) continue;
    if (seen++ == rig) return entry;
  }
  return -1;
}

std::vector<int> ScenesDrawnFromClearedImages(const CalibrationDataStore& store, int entry) {
  std::vector<int> cameras;
  switch (store.GetEntryKind(entry)) {
    case kMonoCameraEntry:
      cameras = {entry};
      break;
    case kStereoRigEntry: {
      // The rigs before it are the entries before it that are not cameras.
      const StereoPairRecord pair = store.GetStereoPair(entry - store.GetMonoCameraOrdinal(entry));
      cameras = {pair.cameraA, pair.cameraB};
      break;
    }
    default:
      return {};
  }
  std::vector<int> keys{entry};
  auto add = [&keys](int key) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  };
  for (int camera : cameras) add(camera);
  for (int rig = 0; rig < store.GetStereoRigCount(); ++rig) {
    const StereoPairRecord pair = store.GetStereoPair(rig);
    const bool named = std::find(cameras.begin(), cameras.end(), pair.cameraA) != cameras.end() ||
                       std::find(cameras.begin(), cameras.end(), pair.cameraB) != cameras.end();
    if (named) add(StereoRigEntry(store, rig));
  }
  return keys;
}

EntryChange RemoveCameraWithRigs(CalibrationDataStore& store, int camera) {
  EntryChange change;
  const int entry = store.GetCameraEntry(camera);
  if (entry < 0) return change;
  for (int rig = 0; rig < store.GetStereoRigCount(); ++rig) {
    const StereoPairRecord pair = store.GetStereoPair(rig);
    if (pair.cameraA == entry || pair.cameraB == entry) change.removedRigEntries.push_back(StereoRigEntry(store, rig));
  }
  std::sort(change.removedRigEntries.rbegin(), change.removedRigEntries.rend());
  if (store.RemoveEntry(entry) > 0) change.entry = entry;
  return change;
}

std::vector<EntryChange> ApplySourceReconfiguration(CalibrationDataStore& store,
                                                    const StreamConfiguration& current,
                                                    const SourceReconfigurationPlan& plan) {
  std::vector<EntryChange> changes;
  // Every camera of the source loses its images; the removed ones too,
  // which costs nothing.
  for (int slot = 0; slot < current.CameraCount(); ++slot) {
    const int entry = store.GetCameraEntry(current.cameras[slot]);
    if (entry >= 0) store.ClearEntryImages(entry);
  }
  for (int camera : plan.removedCameras) {
    EntryChange change = RemoveCameraWithRigs(store, camera);
    if (change.entry >= 0) changes.push_back(std::move(change));
  }
  if (plan.insertCount > 0) {
    const int afterEntry = store.GetCameraEntry(plan.insertAfterCamera);
    if (afterEntry < 0) return changes;
    for (int i = 0; i < plan.insertCount; ++i) {
      const int entry = afterEntry + 1 + i;
      // InsertCamera refuses entry == entry count: that is an append.
      const int done = entry < store.GetEntryCount() ? store.InsertCamera(entry) : store.AddCamera();
      if (!done) break;
      EntryChange change;
      change.inserted = true;
      change.entry = entry;
      changes.push_back(std::move(change));
    }
  }
  return changes;
}

int EntryKeyAfterInsert(int key, int entry) { return key >= entry ? key + 1 : key; }

int EntryKeyAfterRemove(int key, int entry) {
  if (key == entry) return -1;
  return key > entry ? key - 1 : key;
}

std::string EntryTitle(const CalibrationDataStore& store, int entry) {
  char text[96];
  switch (store.GetEntryKind(entry)) {
    case kMonoCameraEntry:
      std::snprintf(text, sizeof text, "Camera %d", store.GetMonoCameraOrdinal(entry) + 1);
      return text;
    case kStereoRigEntry: {
      for (int rig = 0; rig < store.GetStereoRigCount(); ++rig) {
        if (StereoRigEntry(store, rig) != entry) continue;
        const StereoPairRecord pair = store.GetStereoPair(rig);
        std::snprintf(text, sizeof text, "Stereo Rig - Camera %d & %d", store.GetMonoCameraOrdinal(pair.cameraA) + 1,
                      store.GetMonoCameraOrdinal(pair.cameraB) + 1);
        return text;
      }
      return {};
    }
    default:
      return {};
  }
}
