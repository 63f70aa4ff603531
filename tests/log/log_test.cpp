#include "log/log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

namespace qcsdk::log {
namespace {

std::mutex g_mutex;
std::vector<std::string> g_lines;

void Collect(int32_t, int32_t, const char* line) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_lines.emplace_back(line);
}

Sink FunctionSink(int32_t level, int32_t levelCount = 1) {
  Sink sink{};
  sink.kind = kFunction;
  sink.function = &Collect;
  sink.levelCount = levelCount;
  for (int32_t& l : sink.levels) l = level;
  return sink;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_lines.clear();
  }
  void TearDown() override {
    // Back to the SDK's own configuration: standard output, every level.
    Sink out{};
    out.kind = kStdout;
    out.levelCount = 1;
    ASSERT_TRUE(Configure(&out, 1));
  }
  static std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_lines;
  }
};

TEST_F(LogTest, LineHasTimeLevelFileAndLine) {
  Sink sink = FunctionSink(kAll);
  ASSERT_TRUE(Configure(&sink, 1));
  Write(0, kNotify, "..\\..\\src\\x\\oct_conn", 164, "value=%d", 42);
  Write(0, kError, "a/b\\c", 7, "%s", "x");
  Write(0, kWarning, "plain", 1, "y");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d notify: oct_conn\(164\): value=42\n)")))
      << lines[0];
  EXPECT_TRUE(
      std::regex_match(lines[1], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d error: c\(7\): x\n)")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(.* warning: plain\(1\): y\n)"))) << lines[2];
}

TEST_F(LogTest, ThresholdsFilterPerSinkAndGlobally) {
  // Sink A passes warning and above; sink B has no levels set, so only
  // level 6 reaches it.
  Sink sinks[2] = {FunctionSink(kWarning), FunctionSink(kAll, 0)};
  ASSERT_TRUE(Configure(sinks, 2));
  EXPECT_FALSE(Passes(0, kInfo));
  EXPECT_TRUE(Passes(0, kWarning));
  Write(0, kInfo, "f", 1, "dropped");
  Write(0, kWarning, "f", 2, "one");
  Write(0, kNone, "f", 3, "two");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);  // warning once (A), none twice (A and B)
  EXPECT_NE(lines[0].find("one"), std::string::npos);
  EXPECT_NE(lines[1].find("none: f(3): two"), std::string::npos);
  EXPECT_NE(lines[2].find("none: f(3): two"), std::string::npos);

  // Per-module levels: module 1 uses levels[1], modules past the count use levels[0].
  Sink perModule = FunctionSink(kError, 2);
  perModule.levels[1] = kDebug;
  ASSERT_TRUE(Configure(&perModule, 1));
  EXPECT_TRUE(Passes(1, kDebug));
  EXPECT_FALSE(Passes(0, kDebug));
  EXPECT_FALSE(Passes(5, kWarning));
  EXPECT_TRUE(Passes(5, kError));
}

TEST_F(LogTest, RejectsOutOfRangeLevelsAndModulesAndCutsLongLines) {
  Sink sink = FunctionSink(kAll);
  ASSERT_TRUE(Configure(&sink, 1));
  Write(0, 7, "f", 1, "bad level");
  Write(0, -1, "f", 1, "bad level");
  Write(32, kError, "f", 1, "bad module");
  Write(-1, kError, "f", 1, "bad module");
  EXPECT_TRUE(Lines().empty());
  EXPECT_FALSE(Configure(&sink, 17));

  std::string huge(10000, 'z');
  Write(0, kError, "f", 1, "%s", huge.c_str());
  std::string longFile(5000, 'p');
  Write(0, kError, longFile.c_str(), 1, "%s", "after a long file name");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), static_cast<std::size_t>(kLineCapacity - 1));
  EXPECT_EQ(lines[0].back(), '\n');
  EXPECT_EQ(lines[1].size(), static_cast<std::size_t>(kLineCapacity - 1));
}

TEST_F(LogTest, DailyFileIsNamedByTheDateOfWriting) {
  auto dir = std::filesystem::temp_directory_path() / ("qcsdk_log_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Sink file{};
  file.kind = kDailyFile;
  std::strncpy(file.directory, dir.c_str(), sizeof file.directory - 1);
  file.levelCount = 1;
  Sink missing = file;
  std::strncpy(missing.directory, "/nonexistent/qcsdk", sizeof missing.directory - 1);
  Sink sinks[2] = {missing, file};
  ASSERT_TRUE(Configure(sinks, 2));
  Write(0, kInfo, "daily", 9, "first");
  Write(0, kInfo, "daily", 10, "second");
  os::LocalTime now = os::Now();
  char name[32];
  std::snprintf(name, sizeof name, "%4.4d-%2.2d-%2.2d.txt", now.year, now.month, now.day);
  std::ifstream in(dir / name);
  ASSERT_TRUE(in.good()) << (dir / name);
  std::string a, b;
  std::getline(in, a);
  std::getline(in, b);
  EXPECT_NE(a.find("info: daily(9): first"), std::string::npos);
  EXPECT_NE(b.find("info: daily(10): second"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole) {
  Sink sink = FunctionSink(kAll);
  ASSERT_TRUE(Configure(&sink, 1));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Write(0, kInfo, "mt", t, "thread %d line %d end", t, i);
    });
  }
  for (auto& th : threads) th.join();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 800u);
  for (const auto& line : lines) {
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(.* info: mt\(\d\): thread \d line \d+ end\n)")))
        << line;
  }
}

}  // namespace
}  // namespace qcsdk::log
