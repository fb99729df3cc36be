#include "app_core/sync_log.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool IsBlank(std::string_view line) {
  for (char c : line)
    if (!IsSpace(c)) return false;
  return true;
}

// Splits off the next whitespace-separated token; empty at the end.
std::string_view NextToken(std::string_view& rest) {
  std::size_t begin = 0;
  while (begin < rest.size() && IsSpace(rest[begin])) ++begin;
  std::size_t end = begin;
  while (end < rest.size() && !IsSpace(rest[end])) ++end;
  std::string_view token = rest.substr(begin, end - begin);
  rest.remove_prefix(end);
  return token;
}

// A whole token as an integer within [low, high]. from_chars ignores the
// locale and refuses a leading '+', spaces and trailing characters.
bool ReadInteger(std::string_view token, long long low, long long high, long long& value) {
  if (token.empty()) return false;
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, value);
  return ec == std::errc() && ptr == end && value >= low && value <= high;
}

bool ReadLogLine(std::string_view line, std::uint32_t& second, std::uint32_t& fifth) {
  constexpr long long kUnsignedMax = std::numeric_limits<std::uint32_t>::max();
  constexpr long long kIntMin = std::numeric_limits<std::int32_t>::min();
  constexpr long long kIntMax = std::numeric_limits<std::int32_t>::max();
  const long long lows[5] = {0, 0, 0, kIntMin, 0};
  const long long highs[5] = {kUnsignedMax, kUnsignedMax, kUnsignedMax, kIntMax, kUnsignedMax};
  long long values[5];
  for (int i = 0; i < 5; ++i)
    if (!ReadInteger(NextToken(line), lows[i], highs[i], values[i])) return false;
  if (!NextToken(line).empty()) return false;
  second = static_cast<std::uint32_t>(values[1]);
  fifth = static_cast<std::uint32_t>(values[4]);
  return true;
}

}  // namespace

bool ParseSyncLog(std::string_view text, const std::string& name, SyncLog& log, std::string* message) {
  log = SyncLog();
  SyncLog read;
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t newline = text.find('\n');
    const bool terminated = newline != std::string_view::npos;
    std::string_view line = text.substr(0, terminated ? newline : text.size());
    text.remove_prefix(terminated ? newline + 1 : text.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (IsBlank(line)) {
      // Blank lines may only close the file; one in the middle would shift
      // every later frame.
      if (IsBlank(text)) break;
    } else {
      std::uint32_t second = 0;
      std::uint32_t fifth = 0;
      if (line.size() <= kSyncLogMaxLine && ReadLogLine(line, second, fifth)) {
        read.column2.push_back(second);
        read.column5.push_back(fifth);
        continue;
      }
      if (!terminated) break;  // cut short when the recording stopped
    }
    if (message) *message = name + ", line " + std::to_string(lineNumber) + ": not a log line!";
    return false;
  }
  log = std::move(read);
  return true;
}

bool ReadSyncLog(const std::string& path, SyncLog& log, std::string* message) {
  log = SyncLog();
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) {
    if (message) *message = "Cannot open: " + path + "!";
    return false;
  }
  return ParseSyncLog(content.str(), path, log, message);
}

SyncMatch FindNearestFrame(const std::vector<std::uint32_t>& client, std::uint32_t value, int serverFrame) {
  constexpr std::int64_t kStartDifference = 1000000000;
  SyncMatch match;
  match.clientFrame = serverFrame - 200;
  std::int64_t best = kStartDifference;
  for (std::size_t i = 0; i < client.size(); ++i) {
    std::int64_t difference = static_cast<std::int64_t>(client[i]) - static_cast<std::int64_t>(value);
    if (difference < 0) difference = -difference;
    if (difference < best) {
      best = difference;
      match.found = true;
      match.clientFrame = static_cast<int>(i);
    }
  }
  match.difference = static_cast<int>(best);
  return match;
}

std::string SyncResultText(bool opened, const SyncLog& server, const SyncLog& client, int serverFrame) {
  if (!opened) return "Open the videos and their logs first.\n";
  if (serverFrame < 0 || static_cast<std::size_t>(serverFrame) >= server.column2.size())
    return "Server frame " + std::to_string(serverFrame) + " is not in the server log (" +
           std::to_string(server.column2.size()) + " lines).\n";
  const SyncMatch match = FindNearestFrame(client.column5, server.column2[serverFrame], serverFrame);
  char text[128];
  if (match.found)
    std::snprintf(text, sizeof text, "Server fame: %d Client Frame: %d\nTick Difference: %d\n", serverFrame,
                  match.clientFrame, match.difference);
  else
    std::snprintf(text, sizeof text, "Server fame: %d Client Frame: none found\n", serverFrame);
  return text;
}
