#include "calibration/file_set_writer.h"

#include <atomic>
#include <cstdio>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::atomic<int> stepsUntilFailure{0};  // 0: no failure planned

// "<stem>.~vistrel-<tag>-<pid>-<index><extension>" beside the final file.
fs::path SideName(const fs::path& path, const char* tag, std::size_t index) {
  fs::path side = path;
  side.replace_filename(path.stem().string() + ".~vistrel-" + tag + "-" + std::to_string(::getpid()) + "-" +
                        std::to_string(index) + path.extension().string());
  return side;
}

bool Rename(const fs::path& from, const fs::path& to) {
  if (!FileStepSucceeds()) return false;
  std::error_code error;
  fs::rename(from, to, error);
  return !error;
}

void RemoveQuietly(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
}

fs::path Normal(const fs::path& path) {
  std::error_code error;
  fs::path normal = fs::weakly_canonical(fs::absolute(path, error), error);
  return error ? fs::absolute(path).lexically_normal() : normal;
}

}  // namespace

bool FileStepSucceeds() {
  int remaining = stepsUntilFailure.load();
  while (remaining > 0) {
    if (stepsUntilFailure.compare_exchange_weak(remaining, remaining - 1)) return remaining != 1;
  }
  return true;
}

void FailFileStep(int n) { stepsUntilFailure.store(n > 0 ? n : 0); }

bool WriteTextFile(const fs::path& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && FileStepSucceeds();
  const bool closed = std::fclose(file) == 0 && FileStepSucceeds();
  return written && closed;
}

bool WriteFileSet(const std::vector<PlannedFile>& files, std::string* failedPath) {
  auto fail = [&](const fs::path& path) {
    if (failedPath) *failedPath = path.string();
    return false;
  };
  for (std::size_t i = 0; i < files.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (Normal(files[i].path) == Normal(files[j].path)) return fail(files[i].path);

  std::vector<fs::path> temporaries;
  for (std::size_t i = 0; i < files.size(); ++i) {
    temporaries.push_back(SideName(files[i].path, "new", i));
    if (!files[i].write || !files[i].write(temporaries.back())) {
      for (const fs::path& temporary : temporaries) RemoveQuietly(temporary);
      return fail(files[i].path);
    }
  }

  // backups[i] is set once file i's old content was moved aside; placed
  // counts the files whose new content is in place.
  std::vector<fs::path> backups(files.size());
  std::size_t placed = 0;
  bool ok = true;
  for (; placed < files.size(); ++placed) {
    const fs::path& target = files[placed].path;
    std::error_code error;
    if (fs::exists(fs::symlink_status(target, error))) {
      const fs::path backup = SideName(target, "old", placed);
      if (!Rename(target, backup)) {
        ok = false;
        break;
      }
      backups[placed] = backup;
    }
    if (!Rename(temporaries[placed], target)) {
      ok = false;
      break;
    }
  }
  if (ok) {
    for (const fs::path& backup : backups)
      if (!backup.empty()) RemoveQuietly(backup);
    return true;
  }

  // Put back what was replaced, newest first; the failing file may have its
  // backup taken without its new content in place.
  for (std::size_t k = placed + 1; k-- > 0;) {
    const fs::path& target = files[k].path;
    if (k < placed) RemoveQuietly(target);
    if (!backups[k].empty()) {
      std::error_code error;
      fs::rename(backups[k], target, error);
    }
  }
  for (std::size_t k = placed; k < files.size(); ++k) RemoveQuietly(temporaries[k]);
  return fail(files[placed].path);
}
