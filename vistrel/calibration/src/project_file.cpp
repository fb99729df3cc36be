#include "calibration/project_file.h"

#include <cstdio>
#include <fstream>

#include <quorl/clocale.h>
#include <quorl/paths.h>

#include "calibration/calibration_data_store.h"
#include "calibration/file_set_writer.h"
#include "calibration/project_structure.h"

namespace fs = std::filesystem;

namespace {

std::string Format(const char* format, auto... values) {
  // Reals as "%lf" with a decimal point whatever the process locale.
  quorl::ScopedCLocale cLocale;
  const int size = std::snprintf(nullptr, 0, format, values...);
  std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}

// A step of the file set that a store or camera writer performs; the step
// counter lets tests fail any one of them.
PlannedFile Planned(const fs::path& path, std::function<bool(const char* temporary)> write) {
  return {path, [write = std::move(write)](const fs::path& temporary) {
            return write(temporary.c_str()) && FileStepSucceeds();
          }};
}

PlannedFile PlannedText(const fs::path& path, std::string text) {
  return {path, [text = std::move(text)](const fs::path& temporary) { return WriteTextFile(temporary, text); }};
}

bool CanOpen(const fs::path& path, std::string* text = nullptr) {
  // A named pipe would block the open; a device would never end the read.
  if (!quorl::IsReadableFile(path.string())) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  if (text) text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// What a calibrated camera's intrinsic matrix (row-major) has; a camera
// file saved before any calibration holds zeros.
bool HasFocalLengths(const double* K) { return K[0] > 0 && K[4] > 0; }

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos; }

}  // namespace

bool WriteProject(const CalibrationDataStore& store, const fs::path& projectPath, const std::string& extension,
                  std::string* message) {
  auto refuse = [&](const std::string& text) {
    if (message) *message = text;
    return false;
  };
  const int count = store.GetEntryCount();
  if (count == 0) return refuse("There is nothing to save: the workbench has no entries!");
  // The reader takes at most 9, and a rig's name holds single-digit entries.
  if (count > kMaxProjectEntries) return refuse(Format("A project holds at most 9 entries; this one has %d!", count));

  const fs::path folder = projectPath.parent_path();
  std::vector<PlannedFile> files;
  std::vector<std::string> names;  // every bare name the save writes
  auto add = [&](const std::string& name, PlannedFile file) {
    names.push_back(name);
    files.push_back(std::move(file));
  };
  std::string project = Format("%d\n", count);

  for (int entry = 0, rig = 0; entry < count; ++entry) {
    if (store.GetEntryKind(entry) == kStereoRigEntry) {
      const StereoPairRecord pair = store.GetStereoPair(rig);
      // Every rig has a stereo camera; one that never ran holds K = 0 and
      // is written as such, so it reads back uncalibrated.
      const CStereoCamera* stereo = store.IsCalibrated(entry) ? store.GetStereoCamera(rig) : nullptr;
      ++rig;
      const int a = pair.cameraA, b = pair.cameraB;
      const std::string dataName = Format("StereoCamera_%d%d_Data.txt", a, b);
      const std::string first = Format("StereoCamera_%d%d_Intrinsic_%d.txt", a, b, a);
      const std::string second = Format("StereoCamera_%d%d_Intrinsic_%d.txt", a, b, b);
      project += dataName + "\n";
      add(dataName, PlannedText(folder / dataName, first + "\n" + second + "\n"));
      // The rig's two cameras, as CStereoCamera::Save(first, second) writes
      // them, each its own file of the set.
      for (int k = 0; k < 2; ++k) {
        const CCamera camera = stereo ? stereo->GetCamera(k) : CCamera();
        const std::string& name = k == 0 ? first : second;
        add(name, Planned(folder / name, [camera](const char* t) { return camera.Save(t); }));
      }
      continue;
    }

    const int camera = store.GetMonoCameraOrdinal(entry);
    const int images = store.GetImageCount(camera);
    const CalibrationObjectSettings board = store.GetObjectSettings(camera);
    const std::string dataName = Format("Camera_%d_Data.txt", entry);
    const std::string intrinsics = Format("Camera_%d_Intrinsic.txt", entry);
    const std::string extrinsics = Format("Camera_%d_Extrinsic.txt", entry);
    project += dataName + "\n";
    project += Format("%d %d %d %lf %lf %d %d\n", images, board.squaresX, board.squaresY, board.squareSizeX,
                      board.squareSizeY, board.windowX, board.windowY);

    std::string data = intrinsics + "\n" + extrinsics + "\n";
    std::vector<std::pair<std::string, PlannedFile>> own;
    own.emplace_back(intrinsics, Planned(folder / intrinsics, [&store, camera](const char* t) {
                       return store.SaveCameraParameters(camera, t);
                     }));
    own.emplace_back(extrinsics, Planned(folder / extrinsics, [&store, camera](const char* t) {
                       return store.SaveViewExtrinsics(camera, t);
                     }));
    for (int j = 0; j < images; ++j) {
      const std::string image = Format("Camera_%d_Image_%d.%s", entry, j, extension.c_str());
      const std::string points = Format("Camera_%d_Points_%d.txt", entry, j);
      data += Format("%d %s\n", store.IsImageEnabled(camera, j), image.c_str());
      data += Format("%d %s\n", store.IsImageDetected(camera, j), points.c_str());
      own.emplace_back(image, Planned(folder / image, [&store, camera, j, extension](const char* t) {
                         return store.SaveImage(camera, j, t, extension.c_str());
                       }));
      own.emplace_back(points, Planned(folder / points, [&store, camera, j](const char* t) {
                         return store.SaveImagePoints(camera, j, t);
                       }));
    }
    add(dataName, PlannedText(folder / dataName, std::move(data)));
    for (auto& [name, file] : own) add(name, std::move(file));
  }

  // Two files one would lose the project's own or one of its parts.
  const std::string chosen = projectPath.filename().string();
  for (const std::string& name : names)
    if (name == chosen) return refuse(chosen + " is the name of a file the project writes!");

  // Last, so an earlier project stays whole until everything it names is in
  // place.
  files.push_back(PlannedText(projectPath, std::move(project)));
  std::string failed;
  if (WriteFileSet(files, &failed)) return true;
  return refuse("Cannot write: " + failed + "!");
}

bool ReadProject(const fs::path& projectPath, CalibrationDataStore& staged, ProjectReadReport* report) {
  ProjectReadReport local;
  ProjectReadReport& r = report ? *report : local;
  r.message.clear();
  r.skipped.clear();
  r.camerasWithoutViews.clear();
  std::vector<ProjectEntryFiles> entries;
  if (!ReadProjectStructure(projectPath, entries, &r.message)) return false;

  const fs::path folder = projectPath.parent_path();
  auto skip = [&](const fs::path& path) { r.skipped.push_back(path.string()); };
  const int offset = staged.GetEntryCount();
  const int cameraOffset = staged.GetMonoCameraCount();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ProjectEntryFiles& e = entries[i];
    const int entry = offset + static_cast<int>(i);

    if (e.isRig) {
      CCamera first, second;
      const fs::path firstPath = folder / e.firstCamera;
      const fs::path secondPath = folder / e.secondCamera;
      const bool firstLoaded = first.Load(firstPath.c_str());
      const bool secondLoaded = second.Load(secondPath.c_str());
      if (!firstLoaded) skip(firstPath);
      if (!secondLoaded) skip(secondPath);
      // The structure reader settled the pair on two cameras before the rig.
      staged.AddStereoRig(offset + e.entryA, offset + e.entryB);
      // A file written for a rig that never ran loads, with K = 0.
      if (firstLoaded && secondLoaded && HasFocalLengths(first.GetK()) && HasFocalLengths(second.GetK())) {
        staged.SetStereoCamera(staged.GetStereoRigCount() - 1, CStereoCamera(first, second));
        staged.SetCalibrated(entry);
      }
      continue;
    }

    staged.AddCamera();
    const int camera = staged.GetMonoCameraCount() - 1;
    const fs::path intrinsicsPath = folder / e.intrinsics;
    const bool intrinsics = staged.LoadCameraParameters(camera, intrinsicsPath.c_str());
    if (!intrinsics) skip(intrinsicsPath);

    // Sizes first (the file's line holds counts first); the structure reader
    // checked the board. The engine holds a view per image at most; the file
    // holds the views of the last calibration (possibly none).
    const CalibrationObjectSettings& b = e.board;
    staged.SetObjectSettings(camera, b.squareSizeX, b.squareSizeY, b.squaresX, b.squaresY, b.windowX, b.windowY);
    CMonoCameraCalibrationEngine* engine = staged.GetCalibrationEngine(camera);
    engine->AllocateViews(static_cast<int>(e.images.size()), b);
    const fs::path extrinsicsPath = folder / e.extrinsics;
    std::string extrinsicsText;
    if (!CanOpen(extrinsicsPath, &extrinsicsText)) {
      skip(extrinsicsPath);
      engine->SetViewCount(0);
    } else if (!staged.LoadViewExtrinsics(camera, extrinsicsPath.c_str())) {
      engine->SetViewCount(0);
      if (engine->AllocatedViews() > 0 && !IsBlank(extrinsicsText)) skip(extrinsicsPath);
    }

    // The views carry no image names: they go with the images that were
    // usable (enabled and detected) when saved, by position. Once an image
    // is left out, or a usable one loses its points, they would go with the
    // wrong images.
    bool viewsPaired = true;
    for (const ProjectImageFiles& image : e.images) {
      const fs::path imagePath = folder / image.image;
      const fs::path pointsPath = folder / image.points;
      if (!staged.AddImageFromFile(camera, imagePath.c_str(), image.enabled, image.detected, pointsPath.c_str())) {
        skip(imagePath);
        viewsPaired = false;
        continue;
      }
      const int added = staged.GetImageCount(camera) - 1;
      const bool pointsLost = image.detected && !staged.IsImageDetected(camera, added);
      if (!CanOpen(pointsPath) || pointsLost) skip(pointsPath);
      if (pointsLost && image.enabled) viewsPaired = false;
    }
    if (!viewsPaired && engine->ViewCount() > 0) {
      engine->SetViewCount(0);
      r.camerasWithoutViews.push_back(camera - cameraOffset);
    }

    if (intrinsics && HasFocalLengths(staged.GetCameraParameters(camera).K)) staged.SetCalibrated(entry);
  }
  return true;
}

std::string SkippedFilesMessage(const ProjectReadReport& report, int firstCamera) {
  if (report.skipped.empty() && report.camerasWithoutViews.empty()) return {};
  std::string text = "The project was opened without the files below";
  const std::vector<int>& cameras = report.camerasWithoutViews;
  if (!cameras.empty()) {
    text += cameras.size() == 1 ? ", and Camera " : ", and Cameras ";
    for (std::size_t i = 0; i < cameras.size(); ++i) {
      if (i > 0) text += i + 1 == cameras.size() ? " and " : ", ";
      text += std::to_string(firstCamera + cameras[i] + 1);
    }
    text += cameras.size() == 1 ? " without its views" : " without their views";
  }
  text += ":";
  for (const std::string& path : report.skipped) text += "\nCannot open: " + path + "!";
  return text;
}
