// The synchronised player's log reader and frame search.
#include "app_core/sync_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using Values = std::vector<std::uint32_t>;

struct ParseCase {
  const char* label;
  std::string text;
  bool ok;
  Values column2;
  Values column5;
  std::string message;  // when refused
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.label; }

class SyncLogParse : public testing::TestWithParam<ParseCase> {};

TEST_P(SyncLogParse, ReadsOrRefusesWholeLog) {
  const ParseCase& c = GetParam();
  SyncLog log;
  log.column2 = {99};  // stale values from an earlier read must go
  std::string message;
  ASSERT_EQ(ParseSyncLog(c.text, "server.txt", log, &message), c.ok) << message;
  if (c.ok) {
    EXPECT_EQ(log.column2, c.column2);
    EXPECT_EQ(log.column5, c.column5);
  } else {
    EXPECT_EQ(message, c.message);
    EXPECT_TRUE(log.column2.empty());
    EXPECT_TRUE(log.column5.empty());
  }
}

std::string Long(std::size_t n) {
  std::string line = "1 2 3 4 5";
  line.append(n - line.size(), ' ');
  return line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SyncLogParse,
    testing::Values(
        ParseCase{"Plain", "1 10 3 -4 50\n2 20 3 4 60\n", true, {10, 20}, {50, 60}, ""},
        ParseCase{"CrLfAndTrailingBlank", "1 10 3 -4 50\r\n2 20 3 4 60\r\n\r\n  \n", true, {10, 20}, {50, 60}, ""},
        ParseCase{"NoFinalLineEnd", "1 10 3 4 50\n2 20 3 4 60", true, {10, 20}, {50, 60}, ""},
        ParseCase{"CutLastLineDropped", "1 10 3 4 50\n2 20 3", true, {10}, {50}, ""},
        ParseCase{"Extremes", "0 0 0 -2147483648 4294967295\n", true, {0}, {4294967295u}, ""},
        ParseCase{"Empty", "", true, {}, {}, ""},
        ParseCase{"MalformedMiddle", "1 10 3 4 50\n2 x 3 4 60\n3 30 3 4 70\n", false, {}, {},
                  "server.txt, line 2: not a log line!"},
        ParseCase{"MalformedTerminatedLast", "1 10 3 4 50\n2 20 3\n", false, {}, {},
                  "server.txt, line 2: not a log line!"},
        ParseCase{"BlankInMiddle", "1 10 3 4 50\n\n3 30 3 4 70\n", false, {}, {},
                  "server.txt, line 2: not a log line!"},
        ParseCase{"TooManyNumbers", "1 10 3 4 50 6\n", false, {}, {}, "server.txt, line 1: not a log line!"},
        ParseCase{"Wraps32Bits", "1 4294967296 3 4 5\n", false, {}, {}, "server.txt, line 1: not a log line!"},
        ParseCase{"NegativeUnsigned", "1 -1 3 4 5\n", false, {}, {}, "server.txt, line 1: not a log line!"},
        ParseCase{"IntOutOfRange", "1 2 3 2147483648 5\n", false, {}, {}, "server.txt, line 1: not a log line!"},
        ParseCase{"LineOf1000", Long(1000) + "\n", true, {2}, {5}, ""},
        ParseCase{"LineOf1200", "1 2 3 4 5\n" + Long(1200) + "\n", false, {}, {},
                  "server.txt, line 2: not a log line!"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

TEST(SyncLogFile, MissingFileIsNamedAndReadFileParses) {
  SyncLog log;
  std::string message;
  const std::string missing = (std::filesystem::temp_directory_path() / "no_such_sync_log_19.txt").string();
  EXPECT_FALSE(ReadSyncLog(missing, log, &message));
  EXPECT_EQ(message, "Cannot open: " + missing + "!");

  const auto path = std::filesystem::temp_directory_path() / ("sync_log_test_" + std::to_string(::getpid()) + ".txt");
  { std::ofstream(path, std::ios::binary) << "1 10 3 4 50\r\n2 20 3 4 60\r\n"; }
  EXPECT_TRUE(ReadSyncLog(path.string(), log, &message)) << message;
  EXPECT_EQ(log.column2, (Values{10, 20}));
  EXPECT_EQ(log.column5, (Values{50, 60}));
  std::filesystem::remove(path);
}

struct GoCase {
  const char* label;
  bool opened;
  Values server2;
  Values client5;
  int frame;
  std::string text;
};

void PrintTo(const GoCase& c, std::ostream* os) { *os << c.label; }

class SyncGo : public testing::TestWithParam<GoCase> {};

TEST_P(SyncGo, ResultText) {
  const GoCase& c = GetParam();
  SyncLog server;
  server.column2 = c.server2;
  server.column5.assign(c.server2.size(), 0);
  SyncLog client;
  client.column5 = c.client5;
  client.column2.assign(c.client5.size(), 0);
  EXPECT_EQ(SyncResultText(c.opened, server, client, c.frame), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SyncGo,
    testing::Values(
        GoCase{"ExactFirstWins", true, {0, 500}, {100, 500, 500}, 1,
               "Server fame: 1 Client Frame: 1\nTick Difference: 0\n"},
        GoCase{"EquidistantEarlierWins", true, {500}, {490, 510}, 0,
               "Server fame: 0 Client Frame: 0\nTick Difference: 10\n"},
        GoCase{"EquidistantLaterBelow", true, {500}, {510, 490}, 0,
               "Server fame: 0 Client Frame: 0\nTick Difference: 10\n"},
        GoCase{"EmptyClient", true, {500}, {}, 0, "Server fame: 0 Client Frame: none found\n"},
        GoCase{"NothingNearer", true, {0}, {4000000000u}, 0, "Server fame: 0 Client Frame: none found\n"},
        GoCase{"ValuesAcross2To31", true, {4000000000u}, {0, 3999999999u}, 0,
               "Server fame: 0 Client Frame: 1\nTick Difference: 1\n"},
        GoCase{"ZeroValue", true, {0}, {7, 0}, 0, "Server fame: 0 Client Frame: 1\nTick Difference: 0\n"},
        GoCase{"PastTheLists", true, {1, 2}, {1}, 2, "Server frame 2 is not in the server log (2 lines).\n"},
        GoCase{"Negative", true, {1, 2}, {1}, -1, "Server frame -1 is not in the server log (2 lines).\n"},
        GoCase{"BeforeOpenFiles", false, {1}, {1}, 0, "Open the videos and their logs first.\n"}),
    [](const testing::TestParamInfo<GoCase>& info) { return std::string(info.param.label); });

TEST(SyncSearch, NothingFoundKeepsStartValues) {
  const SyncMatch match = FindNearestFrame({}, 5, 3);
  EXPECT_FALSE(match.found);
  EXPECT_EQ(match.clientFrame, -197);
  EXPECT_EQ(match.difference, 1000000000);
}

}  // namespace
