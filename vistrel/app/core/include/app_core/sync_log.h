#pragma once
// The synchronised player's logs and its frame search, without windows.
//
// A log is a text file written while a video was recorded, one line per
// frame: five whitespace-separated numbers (unsigned, unsigned, unsigned,
// int, unsigned). The second and the fifth are kept. The lists are indexed
// by line, so a line that cannot be read is never skipped: it refuses the
// whole log, since every later frame would otherwise shift.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SyncLog {
  std::vector<std::uint32_t> column2;
  std::vector<std::uint32_t> column5;
};

// Longest line content accepted, line end excluded.
constexpr std::size_t kSyncLogMaxLine = 1000;

// Parses a whole log text into `log` (cleared first). CR LF and trailing
// blank lines are accepted; a last line without a line end that does not
// read (a recording stopped mid-line) is dropped. Any other line that is
// longer than kSyncLogMaxLine or does not hold exactly five numbers in
// range refuses the log with "<name>, line <n>: not a log line!" and leaves
// `log` empty.
bool ParseSyncLog(std::string_view text, const std::string& name, SyncLog& log, std::string* message);

// Reads the file at `path` through ParseSyncLog; "Cannot open: <path>!"
// when it cannot be read.
bool ReadSyncLog(const std::string& path, SyncLog& log, std::string* message);

struct SyncMatch {
  bool found = false;       // some client value came nearer than the start difference
  int clientFrame = 0;      // serverFrame - 200 when nothing was found
  int difference = 0;       // 1,000,000,000 when nothing was found
};

// The client line whose value is nearest to `value`; the first of equal
// differences wins. Differences are taken in 64 bits, so values on either
// side of 2^31 do not wrap.
SyncMatch FindNearestFrame(const std::vector<std::uint32_t>& client, std::uint32_t value, int serverFrame);

// The result text Go shows for server frame `serverFrame`: the match of the
// server's column-2 value among the client's column-5 values, or the reason
// nothing was searched (logs not read, frame outside the server log).
std::string SyncResultText(bool opened, const SyncLog& server, const SyncLog& client, int serverFrame);
