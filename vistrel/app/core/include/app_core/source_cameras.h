#pragma once
// What a video source's change of stream configuration does to the data
// store, without any window: which of the source's cameras stay, which are
// inserted or removed, and where every other camera index moves. The
// sources view applies the plan to the store, then follows the returned
// entry changes with its columns and shifts the other sources' indices.
//
// Index spaces: a StreamConfiguration holds camera indices (mono cameras in
// store order); views, the selection and 3D scene keys hold entry indices.
#include <string>
#include <vector>

#include "app_core/video_sample.h"

class CalibrationDataStore;

// Images a splitting mode carries: 1, 2, 4; 0 for an unknown mode.
int StreamImageCount(int splitting);

struct SourceReconfigurationPlan {
  // The source's configuration after the change, its cameras in the new
  // numbering.
  StreamConfiguration next;
  // The source's cameras (old numbering) that go, highest first: each
  // removal leaves the lower ones where they are.
  std::vector<int> removedCameras;
  // New cameras go right after this camera (old numbering), insertCount of
  // them.
  int insertAfterCamera = -1;
  int insertCount = 0;

  // A camera's index after the change (old numbering in); -1 for a removed
  // one. Cameras of other sources move by this, never by their position.
  int MapCamera(int oldCamera) const;
};

// The plan for a source with configuration `current` switched to
// (deinterlace, splitting). Changing deinterlace only keeps every index.
// The source's cameras must be the first CameraCount() slots.
SourceReconfigurationPlan PlanSourceReconfiguration(const StreamConfiguration& current, int deinterlace,
                                                    int splitting);

// The plan for removing a source with its cameras: every camera of the
// source goes (highest first), nothing is inserted; MapCamera then moves the
// cameras of the other sources down past the removed ones.
SourceReconfigurationPlan PlanSourceRemoval(const StreamConfiguration& current);

// One change of the store's entry list, in the order it happened.
struct EntryChange {
  bool inserted = false;
  int entry = -1;
  // For a removed camera: the rig entries that went with it, collected
  // before the removal, highest first (entry numbering before the removal).
  std::vector<int> removedRigEntries;
};

// The entry of the stereo rig at position rig; -1 when there is none.
int StereoRigEntry(const CalibrationDataStore& store, int rig);

// The 3D scene keys drawn from the images that ClearEntryImages(entry)
// clears: the entry's own, for a rig its two cameras', and every rig's that
// names a camera losing its images (a rig's scene shows both cameras'
// images). In entry order after the entry itself; empty out of range.
std::vector<int> ScenesDrawnFromClearedImages(const CalibrationDataStore& store, int entry);

// Removes a camera and the rigs naming it. The change lists the rigs'
// entries before the removal; an unknown camera changes nothing (entry -1).
EntryChange RemoveCameraWithRigs(CalibrationDataStore& store, int camera);

// Applies a plan to the store: the images of every camera that stays with
// the source are cleared, surplus cameras (and the rigs naming them) are
// removed from the last down, new cameras are inserted after the source's
// last one (appended when that is the last entry). Returns the entry changes
// in order, for the view to follow.
std::vector<EntryChange> ApplySourceReconfiguration(CalibrationDataStore& store,
                                                    const StreamConfiguration& current,
                                                    const SourceReconfigurationPlan& plan);

// 3D scene keys are entries: an insert at `entry` raises keys >= entry; a
// removal of `entry` drops its key (-1) and lowers keys above it.
int EntryKeyAfterInsert(int key, int entry);
int EntryKeyAfterRemove(int key, int entry);

// Column titles: "Camera %d" numbers by camera index + 1; a rig names its
// two cameras the same way. Empty for an entry out of range.
std::string EntryTitle(const CalibrationDataStore& store, int entry);
