#include "calibration/project_structure.h"

#include <quorl/paths.h>

#include <algorithm>
#include <charconv>
#include <fstream>

namespace fs = std::filesystem;

const char* const kInvalidProjectMessage = "This does not appear to be a valid calibration project..!!";

namespace {
// A project's text files list names only: even thousands of images make well
// under a megabyte. A longer one is not a project's.
constexpr std::uintmax_t kMaxProjectTextBytes = 16u << 20;
}  // namespace

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Whitespace-separated tokens of a text, read in order.
class Tokens {
 public:
  explicit Tokens(std::string text) : text_(std::move(text)) {}
  bool Next(std::string& token) {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    const std::size_t begin = pos_;
    while (pos_ < text_.size() && !IsSpace(text_[pos_])) ++pos_;
    token.assign(text_, begin, pos_ - begin);
    return !token.empty();
  }
  bool NextInt(int& value) {
    std::string token;
    if (!Next(token)) return false;
    const char* end = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), end, value);
    return ec == std::errc() && ptr == end;
  }
  // from_chars reads in the C locale whatever the process locale is.
  bool NextDouble(double& value) {
    std::string token;
    if (!Next(token)) return false;
    const char* end = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), end, value);
    return ec == std::errc() && ptr == end;
  }
  bool NextFlag(bool& flag) {
    int value = -1;
    if (!NextInt(value) || (value != 0 && value != 1)) return false;
    flag = value == 1;
    return true;
  }
  bool NextName(std::string& name) { return Next(name) && IsBareProjectName(name); }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

// Regular files only (a named pipe or a device would block the read or never
// end it), read up to the size they had when opened.
bool ReadText(const fs::path& path, std::string& text) {
  if (!quorl::IsReadableFile(path.string())) return false;
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string content(static_cast<std::size_t>(std::min<std::uintmax_t>(size, kMaxProjectTextBytes + 1)), '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  if (in.bad()) return false;
  content.resize(static_cast<std::size_t>(in.gcount()));
  text = std::move(content);
  return true;
}

bool IsCamera(const std::vector<ProjectEntryFiles>& entries, int index) {
  return index >= 0 && index < static_cast<int>(entries.size()) && !entries[index].isRig;
}

// The entries a rig joins: the digits of "StereoCamera_<a><b>_Data.txt" when
// they name two distinct cameras before it, else the two entries before it.
bool SettleRig(const std::vector<ProjectEntryFiles>& before, ProjectEntryFiles& rig) {
  const std::string& name = rig.dataName;
  static const std::string prefix = "StereoCamera_";
  static const std::string suffix = "_Data.txt";
  if (name.size() == prefix.size() + 2 + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
      name.compare(prefix.size() + 2, suffix.size(), suffix) == 0) {
    const char a = name[prefix.size()];
    const char b = name[prefix.size() + 1];
    if (a >= '0' && a <= '9' && b >= '0' && b <= '9' && a != b && IsCamera(before, a - '0') &&
        IsCamera(before, b - '0')) {
      rig.entryA = a - '0';
      rig.entryB = b - '0';
      return true;
    }
  }
  const int n = static_cast<int>(before.size());
  if (IsCamera(before, n - 2) && IsCamera(before, n - 1)) {
    rig.entryA = n - 2;
    rig.entryB = n - 1;
    return true;
  }
  return false;
}

}  // namespace

bool IsBareProjectName(const std::string& name) {
  if (name.empty() || name.size() > kMaxProjectName) return false;
  for (char c : name)
    if (IsSpace(c) || c == '/' || c == '\\' || c == '\0') return false;
  return name.find("..") == std::string::npos;
}

bool ReadProjectStructure(const fs::path& projectPath, std::vector<ProjectEntryFiles>& entries,
                          std::string* message) {
  entries.clear();
  auto refuse = [&](const std::string& text) {
    if (message) *message = text;
    return false;
  };
  std::string text;
  if (!ReadText(projectPath, text)) return refuse("Cannot open: " + projectPath.string() + "!");
  if (text.size() > kMaxProjectTextBytes) return refuse(kInvalidProjectMessage);
  const fs::path folder = projectPath.parent_path();

  Tokens project(std::move(text));
  int count = 0;
  if (!project.NextInt(count) || count < 1 || count > kMaxProjectEntries) return refuse(kInvalidProjectMessage);

  std::vector<ProjectEntryFiles> read;
  for (int i = 0; i < count; ++i) {
    ProjectEntryFiles entry;
    if (!project.NextName(entry.dataName)) return refuse(kInvalidProjectMessage);
    const char kind = entry.dataName[0];
    if (kind != 'C' && kind != 'S') return refuse(kInvalidProjectMessage);
    entry.isRig = kind == 'S';

    int imageCount = 0;
    if (!entry.isRig) {
      // The camera line stands in the project file, right after the name.
      CalibrationObjectSettings& b = entry.board;
      if (!project.NextInt(imageCount) || !project.NextInt(b.squaresX) || !project.NextInt(b.squaresY) ||
          !project.NextDouble(b.squareSizeX) || !project.NextDouble(b.squareSizeY) ||
          !project.NextInt(b.windowX) || !project.NextInt(b.windowY) || imageCount < 0)
        return refuse(kInvalidProjectMessage);
      const bool noBoard = b.squaresX == 0 && b.squaresY == 0;
      if (!noBoard && !IsValidBoard(b)) return refuse(kInvalidProjectMessage);
      // The camera's engine is sized for a view per image before any image
      // is read: a forged count must not become a giant allocation.
      if (static_cast<long long>(imageCount) * b.squaresX * b.squaresY > kMaxProjectViewPoints)
        return refuse(kInvalidProjectMessage);
    }

    const fs::path dataPath = folder / entry.dataName;
    std::string dataText;
    if (!ReadText(dataPath, dataText)) return refuse("Cannot open: " + dataPath.string() + "!");
    if (dataText.size() > kMaxProjectTextBytes) return refuse(kInvalidProjectMessage);
    Tokens data(std::move(dataText));
    if (entry.isRig) {
      if (!data.NextName(entry.firstCamera) || !data.NextName(entry.secondCamera) || !SettleRig(read, entry))
        return refuse(kInvalidProjectMessage);
    } else {
      if (!data.NextName(entry.intrinsics) || !data.NextName(entry.extrinsics)) return refuse(kInvalidProjectMessage);
      for (int j = 0; j < imageCount; ++j) {
        ProjectImageFiles image;
        if (!data.NextFlag(image.enabled) || !data.NextName(image.image) || !data.NextFlag(image.detected) ||
            !data.NextName(image.points))
          return refuse(kInvalidProjectMessage);
        entry.images.push_back(std::move(image));
      }
    }
    read.push_back(std::move(entry));
  }
  entries = std::move(read);
  return true;
}
