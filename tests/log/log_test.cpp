#include "log/log.h"

#include <gmock/gmock.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "support/event_log.h"
#include "support/log_capture.h"

namespace qcsdk::log {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

Sink FunctionSink(int32_t level, int32_t levelCount = 1) {
  Sink sink{kFunction, "", &test::LogCapture::Collect, {}, levelCount};
  for (int32_t& l : sink.levels) l = level;
  return sink;
}

class LogTest : public ::testing::Test {
 protected:
  // Afterwards the SDK's own configuration again: standard output, every level.
  test::LogCapture capture;
};

TEST_F(LogTest, ThresholdsPerSinkAndModule) {
  // Sink A passes warning and above; sink B has no levels set, so only level 6 reaches it.
  Sink sinks[2] = {FunctionSink(kWarning), FunctionSink(kAll, 0)};
  ASSERT_TRUE(Configure(sinks, 2));
  EXPECT_FALSE(Passes(0, kNotify));
  EXPECT_TRUE(Passes(0, kWarning));
  Write(0, kNotify, "f", 1, "dropped");
  Write(0, kWarning, "f", 2, "one");
  Write(0, kError, "f", 3, "two");
  Write(0, kNone, "f", 4, "three");
  // Warning and error once (A), none twice (A and B).
  EXPECT_THAT(capture.Take(),
              ElementsAre(HasSubstr("warning: f(2): one"), HasSubstr("error: f(3): two"),
                          HasSubstr("none: f(4): three"), HasSubstr("none: f(4): three")));

  // Two levels set: module 1 is the last with its own level, module 2 falls back to levels[0].
  Sink perModule = FunctionSink(kError, 2);
  perModule.levels[1] = kDebug;
  ASSERT_TRUE(Configure(&perModule, 1));
  EXPECT_EQ((std::vector<bool>{Passes(1, kDebug), Passes(1, kAll), Passes(0, kWarning),
                               Passes(2, kWarning), Passes(2, kError), Passes(31, kError)}),
            (std::vector<bool>{true, false, false, false, true, true}));

  // The host's callback takes the standard-output sink's lines, and nothing reaches stdout
  // meanwhile; a null callback restores stdout.
  const Sink out{kStdout, "", nullptr, {}, 1};
  ASSERT_TRUE(Configure(&out, 1));
  std::vector<std::string> got;
  QCSDK_SetLogCallback(
      [](int32_t level, const char* source, const char* text, void* user) {
        static_cast<std::vector<std::string>*>(user)->push_back(std::to_string(level) + " " +
                                                                source + " " + text);
      },
      &got);
  ::testing::internal::CaptureStdout();
  Write(0, kWarning, "src/nxl/nxl_channel", 290, "no %s", "exchange");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  QCSDK_SetLogCallback(nullptr, nullptr);
  ::testing::internal::CaptureStdout();
  Write(0, kError, "f", 1, "back");
  EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr(" error: f(1): back\n"));
  EXPECT_THAT(got, ElementsAre("4 nxl_channel(290) no exchange"));

  // Replaced while another thread logs: once the call returns, the old callback is silent.
  const QCSDK_LogCallback count = [](int32_t, const char*, const char*, void* user) {
    ++*static_cast<std::atomic<int>*>(user);
  };
  std::atomic<int> before{0}, after{0};
  std::atomic<bool> stop{false};
  QCSDK_SetLogCallback(count, &before);
  std::thread writer([&] {
    while (!stop) Write(0, kInfo, "f", 1, "busy");
  });
  EXPECT_TRUE(test::WaitUntil([&] { return before > 0; }));
  QCSDK_SetLogCallback(count, &after);
  const int settled = before;
  EXPECT_TRUE(test::WaitUntil([&] { return after > 0; }));
  stop = true;
  writer.join();
  QCSDK_SetLogCallback(nullptr, nullptr);
  EXPECT_EQ(before, settled);
}

TEST_F(LogTest, LineFormatAndRangesOfLevelsModulesSinksAndLineLength) {
  Sink sink = FunctionSink(kAll);
  ASSERT_TRUE(Configure(&sink, 1));
  const char* const names[] = {"all", "debug", "info", "notify", "warning", "error", "none"};
  for (int32_t level = 0; level <= 6; ++level) {
    Write(0, level, "..\\..\\src\\x\\oct_conn", 164, "value=%d", level);
    // std::regex: GoogleTest's own regular expressions on Windows lack {n} and [].
    const std::regex line("[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} " + std::string(names[level]) +
                          ": oct_conn\\(164\\): value=" + std::to_string(level) + "\n");
    EXPECT_THAT(capture.Take(), ElementsAre(::testing::Truly([&](const std::string& text) {
                  return std::regex_match(text, line);
                })));
  }
  Write(0, kError, "a/b\\c", 7, "%s", "x");
  Write(0, kError, "plain", 1, "y");
  EXPECT_THAT(capture.Take(),
              ElementsAre(HasSubstr(" error: c(7): x\n"), HasSubstr(" error: plain(1): y\n")));
  std::vector<Sink> sinks(kMaxSinks + 1, sink);
  EXPECT_FALSE(Configure(sinks.data(), kMaxSinks + 1));
  ASSERT_TRUE(Configure(sinks.data(), kMaxSinks));
  Write(0, kError, "f", 1, "sixteen");
  EXPECT_EQ(capture.Take().size(), 16u);
  ASSERT_TRUE(Configure(&sink, 1));
  Write(0, 7, "f", 1, "bad level");
  Write(0, -1, "f", 1, "bad level");
  Write(32, kError, "f", 1, "bad module");
  Write(-1, kError, "f", 1, "bad module");
  EXPECT_TRUE(capture.Lines().empty());
  Write(31, kAll, "f", 1, "last module");
  EXPECT_EQ(capture.Take().size(), 1u);

  // A line as long as the buffer less its terminator is whole; longer is cut, keeping its '\n'.
  Write(0, kError, "f", 1, "%s", "");
  const size_t head = capture.Take()[0].size() - 1;
  for (size_t extra : {0, 1, 10000}) {
    const std::string text(kLineCapacity - 2 - head + extra, 'z');
    Write(0, kError, "f", 1, "%s", text.c_str());
    const std::string line = capture.Take()[0];
    EXPECT_EQ(line.size(), static_cast<size_t>(kLineCapacity - 1)) << extra;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line[line.size() - 2], 'z');
  }
  const std::string longFile(5000, 'p');
  Write(0, kError, longFile.c_str(), 1, "%s", "after a long file name");
  EXPECT_EQ(capture.Lines()[0].size(), static_cast<size_t>(kLineCapacity - 1));
}

TEST_F(LogTest, DailyFileIsNamedByTheDateOfWriting) {
  auto dir = std::filesystem::temp_directory_path() / ("qcsdk_log_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Sink file{kDailyFile, "", nullptr, {}, 1};
  std::strncpy(file.directory, dir.string().c_str(), sizeof file.directory - 1);
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
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_THAT(
      lines, ElementsAre(HasSubstr("info: daily(9): first"), HasSubstr("info: daily(10): second")));
  in.close();
  Sink function = FunctionSink(kAll);
  ASSERT_TRUE(Configure(&function, 1));  // closes the file: Windows removes no open file
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qcsdk::log
