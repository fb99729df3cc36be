#pragma once
// What the fuzz targets share with the corpus replay: scratch files for the
// readers that take a path, the several-file input of the readers that follow
// names to other files, and the check that turns a broken invariant into a
// finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz {

// Prints the target and the broken condition, then aborts: under libFuzzer a
// finding, in the replay a failed test.
[[noreturn]] void Fail(const char* target, const char* condition);

#define FUZZ_CHECK(target, condition)                          \
  do {                                                         \
    if (!(condition)) ::fuzz::Fail(target, #condition);        \
  } while (0)

// A folder of this process under the temporary folder, removed at exit.
// Readers that take a path read the input from there.
const std::filesystem::path& ScratchFolder();
// The same folder, emptied.
const std::filesystem::path& FreshScratchFolder();

// Writes bytes as `name` into the scratch folder (which it does not empty)
// and returns the file's path.
std::filesystem::path WriteScratchFile(const std::string& name, const void* data, std::size_t size);

struct InputFile {
  std::string name;
  std::string bytes;
};

// A several-file input: the bytes up to the first "\n@@ <name>\n" are the main
// file (named mainName); each such marker starts the file it names. A file
// whose name is not a bare name (1 to 100 characters, no white space, "/",
// "\" or "..") is dropped, as is a later file of a name already taken.
std::vector<InputFile> SplitFiles(const std::uint8_t* data, std::size_t size, const std::string& mainName);
// The inverse, for the corpus maker: the first file is the main one.
std::string JoinFiles(const std::vector<InputFile>& files);

// Writes every file into a fresh scratch folder; the main file's path.
std::filesystem::path WriteScratchFiles(const std::vector<InputFile>& files);

// Runs f with the working folder set to `folder`, then restores it: for the
// readers that open the names a file holds as given.
template <class F>
auto InFolder(const std::filesystem::path& folder, F f) {
  struct Restore {
    std::filesystem::path previous = std::filesystem::current_path();
    ~Restore() { std::filesystem::current_path(previous); }
  } restore;
  std::filesystem::current_path(folder);
  return f();
}

}  // namespace fuzz
