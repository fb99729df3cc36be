#pragma once
// Writes a set of files all or nothing: a project or a result file either
// replaces the earlier one whole or leaves it byte for byte.
//
// Every file is first written under a temporary name in its own folder that
// keeps its final extension (image encoders choose the format by it). Only
// when all were written are they renamed over their final names, in the
// order given (so the file that names the others goes last); each replaced
// file is kept under a backup name until the last rename succeeded, so a
// failing rename puts every earlier one back. Files not in the set are left
// alone.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct PlannedFile {
  std::filesystem::path path;  // the final name
  // Writes the whole file at `temporary`; false when any write, close or
  // encode failed. Text writers use WriteTextFile, which checks each.
  std::function<bool(const std::filesystem::path& temporary)> write;
};

// True when every file is in place. Otherwise nothing is changed, no
// temporary or backup is left and *failedPath names the file whose write or
// rename failed (or the second of two entries naming one file).
bool WriteFileSet(const std::vector<PlannedFile>& files, std::string* failedPath);

// Writes `text` to `path` as is (binary, no line-end translation), checking
// the write and the close.
bool WriteTextFile(const std::filesystem::path& path, const std::string& text);

// Steps are the writes, closes, encodes and renames of a file set. A writer
// calls FileStepSucceeds() after each of its own steps and fails when it
// answers false.
bool FileStepSucceeds();

// Test seam: the n-th step counted from this call fails (n >= 1); 0 makes
// every step succeed. The count is process-wide.
void FailFileStep(int n);
