#pragma once
// Workbenches for the project file tests and the checks that two of them
// hold the same calibration. Every real is given with at most six decimals,
// the precision the text files keep.
#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <unistd.h>

#include "calibration/calibration_data_store.h"
#include "gdiplus_environment.h"
#include "test_folder.h"

inline std::map<std::string, std::string> ProjectFolderContents(const std::filesystem::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    contents[entry.path().filename().string()] = text.str();
  }
  return contents;
}

// 64 x 48 in plain blocks of 16 x 16 pixels: 12 colours, so a GIF palette
// keeps them, and the blocks fill JPEG's colour blocks, so JPEG comes close.
inline IplImage* ProjectTestImage(int seed) {
  IplImage* image = cvCreateImage(cvSize(64, 48), IPL_DEPTH_8U, 3);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      auto* p = reinterpret_cast<unsigned char*>(image->imageData + y * image->widthStep + 3 * x);
      p[0] = static_cast<unsigned char>((x / 16) * 60);
      p[1] = static_cast<unsigned char>((y / 16) * 80);
      p[2] = static_cast<unsigned char>((40 * seed + ((x / 16 + y / 16) % 2) * 100) % 256);
    }
  return image;
}

inline CameraParameters ProjectTestParameters(int seed) {
  CameraParameters p;
  const double K[9] = {500.25 + seed, 0, 31.5 + seed, 0, 498.125 + seed, 23.75, 0, 0, 1};
  const double d[4] = {-0.125 + 0.01 * seed, 0.0625, 0.001, -0.002};
  const double R[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  const double T[3] = {10.5 * seed, -2.25, 300.0};
  std::copy(K, K + 9, p.K);
  std::copy(d, d + 4, p.d);
  std::copy(R, R + 9, p.R);
  std::copy(T, T + 3, p.T);
  p.width = 64;
  p.height = 48;
  return p;
}

inline CCamera ProjectTestCamera(int seed) {
  const CameraParameters p = ProjectTestParameters(seed);
  return CCamera(p.K, p.d, p.R, p.T, p.width, p.height);
}

// One camera with a board of 4 x 3 points and the given (enabled, detected)
// flags per image; detected images carry all points. Calibrated with seed's
// parameters, one engine view per usable image.
inline void AddProjectTestCamera(CalibrationDataStore& store, int seed, const std::vector<std::pair<int, int>>& flags) {
  store.AddCamera();
  const int camera = store.GetMonoCameraCount() - 1;
  ASSERT_TRUE(store.SetObjectSettings(camera, 25.5 + seed, 30.25, 4, 3, 5, 6));
  for (std::size_t j = 0; j < flags.size(); ++j) {
    ASSERT_EQ(store.AddImage(camera, ProjectTestImage(seed + static_cast<int>(j))), 1);
    const int image = static_cast<int>(j);
    if (!flags[j].first) store.DisableImage(camera, image);
    if (flags[j].second) {
      std::vector<Point2d>& points = *store.GetImagePointList(camera, image);
      for (int k = 0; k < 12; ++k) points.push_back({10.125 + 3.5 * k + seed, 7.75 + 2.5 * (k / 4) + j});
      store.SetImageDetected(camera, image, true);
    }
  }
  const CameraParameters p = ProjectTestParameters(seed);
  store.SetCameraParameters(camera, p);
  CMonoCameraCalibrationEngine* engine = store.GetCalibrationEngine(camera);
  engine->SetResult(p);
  const int views = store.GetUsableImageCount(camera);
  ASSERT_TRUE(engine->AllocateViews(views, store.GetObjectSettings(camera)));
  for (int v = 0; v < views; ++v) {
    const double c = std::cos(0.25 * (v + 1)), s = std::sin(0.25 * (v + 1));
    const double R[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i) engine->RotationMatrices()[9 * v + i] = std::round(R[i] * 1e6) / 1e6;
    const double r[3] = {0, 0, 0.25 * (v + 1)};
    const double T[3] = {v + 1.5, -0.5 * seed, 250.125};
    std::copy(r, r + 3, engine->RotationVectors() + 3 * v);
    std::copy(T, T + 3, engine->Translations() + 3 * v);
  }
  store.SetCalibrated(store.GetEntryCount() - 1);
}

// Rig of two entries with its own cameras (seeds set them apart).
inline void AddProjectTestRig(CalibrationDataStore& store, int entryA, int entryB, int seedA, int seedB) {
  ASSERT_EQ(store.AddStereoRig(entryA, entryB), 1);
  store.SetStereoCamera(store.GetStereoRigCount() - 1, CStereoCamera(ProjectTestCamera(seedA), ProjectTestCamera(seedB)));
  store.SetCalibrated(store.GetEntryCount() - 1);
}

// [camera 0: four images (enabled, detected) 11 11 01 10; camera 1: two
// images 11 00; rig (0, 1)].
inline void BuildProjectWorkbench(CalibrationDataStore& store) {
  AddProjectTestCamera(store, 0, {{1, 1}, {1, 1}, {0, 1}, {1, 0}});
  AddProjectTestCamera(store, 1, {{1, 1}, {0, 0}});
  AddProjectTestRig(store, 0, 1, 0, 1);
}

inline void ExpectNear(const double* a, const double* b, int n, const char* what) {
  for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], b[i], 1e-6) << what << "[" << i << "]";
}

inline void ExpectSameCamera(const CCamera& a, const CCamera& b) {
  ExpectNear(a.GetK(), b.GetK(), 9, "K");
  ExpectNear(a.Getd(), b.Getd(), 4, "d");
  ExpectNear(a.GetR(), b.GetR(), 9, "R");
  ExpectNear(a.GetT(), b.GetT(), 3, "T");
  EXPECT_EQ(a.GetWidth(), b.GetWidth());
  EXPECT_EQ(a.GetHeight(), b.GetHeight());
}

// Pixels: exact at tolerance 0, else the mean absolute difference.
inline void ExpectSameImage(const IplImage* a, const IplImage* b, double tolerance) {
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->width, b->width);
  ASSERT_EQ(a->height, b->height);
  double sum = 0;
  int differing = 0;
  for (int y = 0; y < a->height; ++y)
    for (int x = 0; x < 3 * a->width; ++x) {
      const int d = std::abs(static_cast<unsigned char>(a->imageData[y * a->widthStep + x]) -
                             static_cast<unsigned char>(b->imageData[y * b->widthStep + x]));
      sum += d;
      differing += d != 0;
    }
  if (tolerance == 0) EXPECT_EQ(differing, 0);
  else EXPECT_LE(sum / (3.0 * a->width * a->height), tolerance);
}

// Entries [first, first + count) of a against those from `offset` on in b.
inline void ExpectSameEntries(const CalibrationDataStore& a, int first, int count, const CalibrationDataStore& b,
                              int offset, double imageTolerance) {
  for (int e = first; e < first + count; ++e) {
    SCOPED_TRACE("entry " + std::to_string(e));
    const int f = e - first + offset;
    ASSERT_EQ(a.GetEntryKind(e), b.GetEntryKind(f));
    EXPECT_EQ(a.IsCalibrated(e), b.IsCalibrated(f));
    if (a.GetEntryKind(e) == kStereoRigEntry) {
      int rigA = 0, rigB = 0;
      for (int k = 0; k < e; ++k) rigA += a.GetEntryKind(k) == kStereoRigEntry;
      for (int k = 0; k < f; ++k) rigB += b.GetEntryKind(k) == kStereoRigEntry;
      EXPECT_EQ(a.GetStereoPair(rigA).cameraA - first, b.GetStereoPair(rigB).cameraA - offset);
      EXPECT_EQ(a.GetStereoPair(rigA).cameraB - first, b.GetStereoPair(rigB).cameraB - offset);
      for (int k = 0; k < 2; ++k) ExpectSameCamera(a.GetStereoCamera(rigA)->GetCamera(k), b.GetStereoCamera(rigB)->GetCamera(k));
      continue;
    }
    const int ca = a.GetMonoCameraOrdinal(e), cb = b.GetMonoCameraOrdinal(f);
    const CalibrationObjectSettings sa = a.GetObjectSettings(ca), sb = b.GetObjectSettings(cb);
    EXPECT_EQ(sa.squaresX, sb.squaresX);
    EXPECT_EQ(sa.squaresY, sb.squaresY);
    EXPECT_NEAR(sa.squareSizeX, sb.squareSizeX, 1e-6);
    EXPECT_NEAR(sa.squareSizeY, sb.squareSizeY, 1e-6);
    EXPECT_EQ(sa.windowX, sb.windowX);
    EXPECT_EQ(sa.windowY, sb.windowY);
    const CameraParameters pa = a.GetCameraParameters(ca), pb = b.GetCameraParameters(cb);
    ExpectNear(pa.K, pb.K, 9, "K");
    ExpectNear(pa.d, pb.d, 4, "d");
    ExpectNear(pa.R, pb.R, 9, "R");
    ExpectNear(pa.T, pb.T, 3, "T");
    EXPECT_EQ(pa.width, pb.width);
    EXPECT_EQ(pa.height, pb.height);
    const CMonoCameraCalibrationEngine& ea = *a.GetCalibrationEngine(ca);
    const CMonoCameraCalibrationEngine& eb = *b.GetCalibrationEngine(cb);
    ASSERT_EQ(ea.ViewCount(), eb.ViewCount());
    ExpectNear(ea.RotationMatrices(), eb.RotationMatrices(), 9 * ea.ViewCount(), "view R");
    ExpectNear(ea.RotationVectors(), eb.RotationVectors(), 3 * ea.ViewCount(), "view r");
    ExpectNear(ea.Translations(), eb.Translations(), 3 * ea.ViewCount(), "view T");
    ASSERT_EQ(a.GetImageCount(ca), b.GetImageCount(cb));
    for (int j = 0; j < a.GetImageCount(ca); ++j) {
      SCOPED_TRACE("image " + std::to_string(j));
      EXPECT_EQ(a.IsImageEnabled(ca, j), b.IsImageEnabled(cb, j));
      EXPECT_EQ(a.IsImageDetected(ca, j), b.IsImageDetected(cb, j));
      ASSERT_EQ(a.GetImagePointCount(ca, j), b.GetImagePointCount(cb, j));
      for (int k = 0; k < a.GetImagePointCount(ca, j); ++k) {
        EXPECT_NEAR(a.GetImagePoint(ca, j, k).x, b.GetImagePoint(cb, j, k).x, 1e-6);
        EXPECT_NEAR(a.GetImagePoint(ca, j, k).y, b.GetImagePoint(cb, j, k).y, 1e-6);
      }
      ExpectSameImage(a.GetImage(ca, j), b.GetImage(cb, j), imageTolerance);
    }
  }
}

inline void ExpectSameWorkbench(const CalibrationDataStore& a, const CalibrationDataStore& b, double imageTolerance) {
  ASSERT_EQ(a.GetEntryCount(), b.GetEntryCount());
  ExpectSameEntries(a, 0, a.GetEntryCount(), b, 0, imageTolerance);
}
