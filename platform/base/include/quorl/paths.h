#pragma once
// Paths written in the old form ("C:\dir\file.txt", "\Graphics\x.png") keep
// working: backslashes become slashes, and a drive letter maps to a folder.
//   C:  -> $QUORL_DRIVE_C, default the user's home
//   X:  -> $QUORL_DRIVE_X, default $HOME/drive_x
#include <cstdio>
#include <string>
#include <string_view>

namespace quorl {

// Maps an old-form path to a native one. Native paths pass unchanged.
std::string MapPath(std::string_view path);

// fopen through MapPath. Null path gives null. A read-only mode ("r",
// "rb") opens regular files only: a named pipe, a device or a folder gives
// null at once, so no reader waits on one or reads one without end.
FILE* OpenFile(const char* path, const char* mode);

// True for an existing regular file at a native path: the readers that open
// files by other means check it first, for the reason above.
bool IsReadableFile(const std::string& path);

// Folder of the running executable, ending in '/'.
std::string ProgramFolder();

// Joins a folder (with or without a trailing separator) and an old-form
// relative literal such as "\Graphics\button.png".
std::string JoinPath(std::string_view folder, std::string_view relative);

}  // namespace quorl
