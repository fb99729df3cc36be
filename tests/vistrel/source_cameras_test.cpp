// A source's change of stream configuration on the data store, without a
// window: the source keeps its own cameras, other sources and hand-inserted
// cameras keep theirs (followed by a tag in fx), rigs keep naming their
// cameras, and the entry changes reported are the ones that happened.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app_core/source_cameras.h"
#include "calibration/calibration_data_store.h"

namespace {

double Tag(const CalibrationDataStore& store, int camera) { return store.GetCameraParameters(camera).K[0]; }

void SetTag(CalibrationDataStore& store, int camera, double tag) {
  CameraParameters p = store.GetCameraParameters(camera);
  p.K[0] = tag;
  store.SetCameraParameters(camera, p);
}

// Entries [hand camera H, camera X, rig(H, X), source A's camera, source B's
// camera]: a hand-inserted camera and a rig in front, a second source behind.
class SourceCamerasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 2; ++i) store.AddCamera();
    ASSERT_EQ(store.AddStereoRig(0, 1), 1);
    store.AddCamera();
    store.AddCamera();
    SetTag(store, 0, 1);  // H
    SetTag(store, 1, 2);  // X
    SetTag(store, 2, 10);  // A's first
    SetTag(store, 3, 20);  // B
    a.cameras[0] = 2;
    b.cameras[0] = 3;
  }

  // Applies the change to A and moves B by it, as the sources view does.
  std::vector<EntryChange> Change(int deinterlace, int splitting) {
    const SourceReconfigurationPlan plan = PlanSourceReconfiguration(a, deinterlace, splitting);
    std::vector<EntryChange> changes = ApplySourceReconfiguration(store, a, plan);
    for (int& camera : b.cameras) {
      if (camera >= 0) camera = plan.MapCamera(camera);
    }
    a = plan.next;
    return changes;
  }

  void ExpectInvariant(int expectedACount) {
    SCOPED_TRACE(::testing::Message() << "A with " << expectedACount << " cameras");
    EXPECT_EQ(a.CameraCount(), expectedACount);
    std::set<int> seen;
    for (const StreamConfiguration* s : {&a, &b}) {
      for (int slot = 0; slot < s->CameraCount(); ++slot) {
        const int camera = s->cameras[slot];
        ASSERT_GE(store.GetCameraEntry(camera), 0) << "camera " << camera;
        EXPECT_TRUE(seen.insert(camera).second) << "camera " << camera << " named twice";
      }
    }
    EXPECT_EQ(Tag(store, a.cameras[0]), 10);
    EXPECT_EQ(Tag(store, b.cameras[0]), 20);
    EXPECT_EQ(Tag(store, 0), 1);
    EXPECT_EQ(Tag(store, 1), 2);
    // The front rig still names H and X.
    ASSERT_GE(store.GetStereoRigCount(), 1);
    const StereoPairRecord pair = store.GetStereoPair(0);
    EXPECT_EQ(Tag(store, store.GetMonoCameraOrdinal(pair.cameraA)), 1);
    EXPECT_EQ(Tag(store, store.GetMonoCameraOrdinal(pair.cameraB)), 2);
    EXPECT_EQ(store.GetMonoCameraCount(), 3 + expectedACount);
    // New cameras sit right after A's first, before B.
    for (int slot = 1; slot < a.CameraCount(); ++slot) EXPECT_EQ(a.cameras[slot], a.cameras[0] + slot);
  }

  CalibrationDataStore store;
  StreamConfiguration a, b;
};

TEST_F(SourceCamerasTest, StepsKeepEveryCameraWithItsOwner) {
  struct Step {
    const char* name;
    int deinterlace, splitting, aCount;
    std::vector<bool> insertedChanges;  // kinds of the reported changes, in order
  };
  const Step steps[] = {
      {"single to stereo", 0, 1, 2, {true}},
      {"stereo to quad", 0, 2, 4, {true, true}},
      {"deinterlace only", 1, 2, 4, {}},
      {"quad to single", 1, 0, 1, {false, false, false}},
  };
  ExpectInvariant(1);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const int entriesBefore = store.GetEntryCount();
    const std::vector<EntryChange> changes = Change(step.deinterlace, step.splitting);
    ASSERT_EQ(changes.size(), step.insertedChanges.size());
    for (size_t i = 0; i < changes.size(); ++i) EXPECT_EQ(changes[i].inserted, step.insertedChanges[i]);
    EXPECT_EQ(a.deinterlace, step.deinterlace);
    EXPECT_EQ(a.splitting, step.splitting);
    EXPECT_EQ(store.GetEntryCount() - entriesBefore, step.aCount - static_cast<int>(entriesBefore - 4));
    ExpectInvariant(step.aCount);
  }
}

TEST_F(SourceCamerasTest, InsertedCamerasGoBeforeTheNextSourceAndAppendAtTheEnd) {
  // A's camera is not the last entry: the new one is inserted at its entry + 1.
  std::vector<EntryChange> changes = Change(0, 1);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].entry, 4);
  EXPECT_EQ(b.cameras[0], 4);
  EXPECT_EQ(store.GetCameraEntry(b.cameras[0]), 5);

  // B is the last entry: its extra camera is appended (InsertCamera refuses
  // entry == entry count).
  const SourceReconfigurationPlan plan = PlanSourceReconfiguration(b, 0, 1);
  changes = ApplySourceReconfiguration(store, b, plan);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(changes[0].inserted);
  EXPECT_EQ(changes[0].entry, 6);
  EXPECT_EQ(store.GetEntryCount(), 7);
  EXPECT_EQ(plan.next.cameras[1], 5);
}

TEST_F(SourceCamerasTest, RemovedCameraTakesTheRigsNamingIt) {
  Change(0, 1);  // A: cameras 2, 3; B: 4; entries [H, X, rig, A0, A1, B]
  ASSERT_EQ(store.AddStereoRig(store.GetCameraEntry(a.cameras[1]), store.GetCameraEntry(b.cameras[0])), 1);
  ASSERT_EQ(store.GetEntryCount(), 7);
  const std::vector<EntryChange> changes = Change(0, 0);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_FALSE(changes[0].inserted);
  EXPECT_EQ(changes[0].entry, 4);
  EXPECT_EQ(changes[0].removedRigEntries, std::vector<int>({6}));
  EXPECT_EQ(store.GetEntryCount(), 5);
  EXPECT_EQ(store.GetStereoRigCount(), 1);
  ExpectInvariant(1);
}

TEST_F(SourceCamerasTest, HandInsertedCameraBetweenTheSourcesCamerasStays) {
  Change(0, 1);  // A: cameras 2, 3
  // A camera inserted by hand between A's two cameras.
  ASSERT_EQ(store.InsertCamera(store.GetCameraEntry(a.cameras[1])), 1);
  SetTag(store, 3, 30);
  a.cameras[1] += 1;
  b.cameras[0] += 1;
  Change(0, 0);
  EXPECT_EQ(Tag(store, 3), 30);
  EXPECT_EQ(b.cameras[0], 4);
  EXPECT_EQ(Tag(store, b.cameras[0]), 20);
  EXPECT_EQ(store.GetMonoCameraCount(), 5);
}

TEST_F(SourceCamerasTest, RemovingASourceTakesItsCamerasAndMovesLaterOnesDown) {
  Change(0, 1);  // A: cameras 2, 3; B: 4
  ASSERT_EQ(store.AddStereoRig(store.GetCameraEntry(a.cameras[1]), store.GetCameraEntry(b.cameras[0])), 1);
  const SourceReconfigurationPlan plan = PlanSourceRemoval(a);
  EXPECT_EQ(plan.removedCameras, std::vector<int>({3, 2}));
  EXPECT_EQ(plan.next.CameraCount(), 0);
  const std::vector<EntryChange> changes = ApplySourceReconfiguration(store, a, plan);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].entry, 4);
  EXPECT_EQ(changes[0].removedRigEntries, std::vector<int>({6}));
  EXPECT_EQ(changes[1].entry, 3);
  EXPECT_EQ(plan.MapCamera(4), 2);
  EXPECT_EQ(plan.MapCamera(1), 1);
  EXPECT_EQ(Tag(store, 2), 20) << "B's camera moved down to 2";
  EXPECT_EQ(store.GetEntryCount(), 4);
  EXPECT_EQ(store.GetStereoRigCount(), 1);
}

// Clearing an entry's images takes the scenes drawn from them: the entry's,
// a rig's cameras', and every rig's built on a camera that loses its images.
TEST(ClearedScenes, TheEntrysAndEveryRigsOnItsCameras) {
  // [H, X, rig(H, X), A0, A1, B, rig(A1, B), rig(A0, A1)]
  CalibrationDataStore store;
  for (int i = 0; i < 2; ++i) store.AddCamera();
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  for (int i = 0; i < 3; ++i) store.AddCamera();
  ASSERT_EQ(store.AddStereoRig(4, 5), 1);
  ASSERT_EQ(store.AddStereoRig(3, 4), 1);
  const struct {
    int entry;
    std::vector<int> keys;
  } cases[] = {
      {0, {0, 2}},          {3, {3, 7}}, {4, {4, 6, 7}}, {5, {5, 6}},
      {2, {2, 0, 1}},       {7, {7, 3, 4, 6}},           {6, {6, 4, 5, 7}},
      {8, {}},              {-1, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ScenesDrawnFromClearedImages(store, c.entry), c.keys) << "entry " << c.entry;
}

TEST(SourceCamerasPlan, UnknownSplittingOrSameCountChangesNoCamera) {
  StreamConfiguration c;
  c.cameras[0] = 3;
  c.cameras[1] = 4;
  c.splitting = 1;
  for (int splitting : {1, 7, -1}) {
    const SourceReconfigurationPlan plan = PlanSourceReconfiguration(c, 1, splitting);
    EXPECT_TRUE(plan.removedCameras.empty());
    EXPECT_EQ(plan.insertCount, 0);
    EXPECT_EQ(plan.MapCamera(5), 5);
    EXPECT_EQ(plan.next.cameras[1], 4);
  }
}

TEST(EntryKeys, FollowInsertsAndRemovals) {
  struct Case {
    int key, entry, afterInsert, afterRemove;
  };
  const Case cases[] = {{0, 2, 0, 0}, {2, 2, 3, -1}, {5, 2, 6, 4}, {1, 0, 2, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(EntryKeyAfterInsert(c.key, c.entry), c.afterInsert) << c.key << " at " << c.entry;
    EXPECT_EQ(EntryKeyAfterRemove(c.key, c.entry), c.afterRemove) << c.key << " at " << c.entry;
  }
}

TEST(EntryTitles, NumberCamerasByCameraIndex) {
  struct Layout {
    const char* name;
    bool insertBetween;
    std::vector<std::string> titles;
  };
  const Layout layouts[] = {
      {"cam cam rig cam", false, {"Camera 1", "Camera 2", "Stereo Rig - Camera 1 & 2", "Camera 3"}},
      {"camera inserted between the rig's cameras",
       true,
       {"Camera 1", "Camera 2", "Camera 3", "Stereo Rig - Camera 1 & 3", "Camera 4"}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    CalibrationDataStore store;
    store.AddCamera();
    store.AddCamera();
    ASSERT_EQ(store.AddStereoRig(0, 1), 1);
    store.AddCamera();
    if (layout.insertBetween) {
      ASSERT_EQ(store.InsertCamera(1), 1);
    }
    ASSERT_EQ(store.GetEntryCount(), static_cast<int>(layout.titles.size()));
    for (int e = 0; e < store.GetEntryCount(); ++e) EXPECT_EQ(EntryTitle(store, e), layout.titles[e]) << e;
    EXPECT_EQ(EntryTitle(store, store.GetEntryCount()), "");
    EXPECT_EQ(StereoRigEntry(store, 1), -1);
  }
}

}  // namespace
