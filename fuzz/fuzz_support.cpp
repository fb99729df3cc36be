#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace fuzz {
namespace {

constexpr char kMarker[] = "\n@@ ";
constexpr std::size_t kMaxName = 100;

bool IsBareName(const std::string& name) {
  if (name.empty() || name.size() > kMaxName || name.find("..") != std::string::npos) return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == '\0' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' ||
        c == '\f')
      return false;
  return true;
}

}  // namespace

void Fail(const char* target, const char* condition) {
  std::fprintf(stderr, "fuzz target %s: invariant broken: %s\n", target, condition);
  std::fflush(stderr);
  std::abort();
}

const fs::path& ScratchFolder() {
  static const fs::path folder = [] {
    const fs::path f = fs::temp_directory_path() / ("quorl_fuzz_" + std::to_string(::getpid()));
    fs::create_directories(f);
    // Nothing of this process's inputs stays behind it.
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(ScratchFolder(), ignored);
    });
    return f;
  }();
  return folder;
}

const fs::path& FreshScratchFolder() {
  const fs::path& folder = ScratchFolder();
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) fs::remove_all(entry.path(), ignored);
  return folder;
}

fs::path WriteScratchFile(const std::string& name, const void* data, std::size_t size) {
  const fs::path path = ScratchFolder() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

std::vector<InputFile> SplitFiles(const std::uint8_t* data, std::size_t size, const std::string& mainName) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<InputFile> files;
  std::set<std::string> names;
  std::string name = mainName;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t marker = text.find(kMarker, begin);
    const std::size_t end = marker == std::string::npos ? text.size() : marker;
    if (IsBareName(name) && names.insert(name).second) files.push_back({name, text.substr(begin, end - begin)});
    if (marker == std::string::npos) break;
    const std::size_t nameBegin = marker + sizeof kMarker - 1;
    std::size_t nameEnd = text.find('\n', nameBegin);
    if (nameEnd == std::string::npos) nameEnd = text.size();
    name = text.substr(nameBegin, nameEnd - nameBegin);
    if (!name.empty() && name.back() == '\r') name.pop_back();
    begin = std::min(nameEnd + 1, text.size());
  }
  return files;
}

std::string JoinFiles(const std::vector<InputFile>& files) {
  std::string text;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) text += kMarker + files[i].name + "\n";
    text += files[i].bytes;
  }
  return text;
}

fs::path WriteScratchFiles(const std::vector<InputFile>& files) {
  FreshScratchFolder();
  fs::path main;
  for (const InputFile& f : files) {
    const fs::path path = WriteScratchFile(f.name, f.bytes.data(), f.bytes.size());
    if (main.empty()) main = path;
  }
  return main;
}

}  // namespace fuzz
