// The vdevice program: parses its devices, prints their ports, serves them,
// and exits 0 on SIGTERM or when its standard input closes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "nxl/nxl_test_env.h"

namespace vdevice_test {
namespace {

using nxl_test::Event;
using nxl_test::Scaled;

struct Child {
  pid_t pid = -1;
  int in = -1;          // its standard input
  FILE* out = nullptr;  // its standard output
};

Child Spawn(std::vector<std::string> args) {
  int in[2], out[2];
  Child c;
  if (pipe(in) != 0 || pipe(out) != 0) return c;
  c.pid = fork();
  if (c.pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(VDEVICE_PROGRAM, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  c.in = in[1];
  c.out = fdopen(out[0], "r");
  return c;
}

std::vector<std::string> ReadUntilReady(FILE* out) {
  std::vector<std::string> lines;
  char line[512];
  while (std::fgets(line, sizeof line, out)) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    lines.push_back(s);
    if (s == "ready") break;
  }
  return lines;
}

int WaitExit(pid_t pid) {
  int status = 0;
  for (int i = 0; i < Scaled(20000).count() / 10; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

using VdeviceProgramTest = nxl_test::NxlTest;

TEST_F(VdeviceProgramTest, ServesPrintedPortsAndExitsCleanly) {
  for (bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal);
    Child c = Spawn({"vdevice", "--run-directory", "--until-stdin-closes", "--device",
                     "type=2,channels=2,number=B77,width=128,height=96", "--device",
                     "type=3,password=pw,width=128,height=96"});
    ASSERT_GT(c.pid, 0);
    ASSERT_NE(c.out, nullptr);
    const auto lines = ReadUntilReady(c.out);
    ASSERT_EQ(lines.size(), 5u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, std::regex(R"(directory 127\.0\.0\.1:(\d+))")));
    const int directory = std::stoi(m[1]);
    ASSERT_TRUE(std::regex_match(lines[1], std::regex(R"(oct-directory 127\.0\.0\.1:\d+)")));
    ASSERT_TRUE(std::regex_match(
        lines[2], m,
        std::regex(
            R"(device 0 nxl=127\.0\.0\.1:(\d+) oct=127\.0\.0\.1:\d+ number=B77 type=2 channels=2)")));
    const int port0 = std::stoi(m[1]);
    ASSERT_TRUE(std::regex_match(
        lines[3], m, std::regex(R"(device 1 nxl=127\.0\.0\.1:(\d+) oct=\S+ number=A1002 .*)")));
    EXPECT_EQ(lines[4], "ready");
    // By address, and by number through the directory it runs.
    const int32_t link = bySignal ? 1 : 3;
    QVC_Connect(0, link, 1, "127.0.0.1", port0, "admin", "admin", -1, nullptr, 0, 0, 0, 0, 0);
    ASSERT_TRUE(recorder_.WaitCount(Event::kConnect, 1, link, QVC_CONNECT_OK));
    ASSERT_TRUE(recorder_.WaitCount(Event::kLive, 1, link, 1));
    ASSERT_EQ(1, QVC_SetDirectoryServer("127.0.0.1", directory));
    QVC_Connect(1, link + 1, 0, nullptr, 0, "admin", "pw", 1002, "A", 1, 1, 0, 0, 0);
    ASSERT_TRUE(recorder_.WaitCount(Event::kConnect, 1, link + 1, QVC_CONNECT_OK));
    EXPECT_EQ(2, QVC_WANGetChannelCount("B", 77, static_cast<int32_t>(Scaled(5000).count())));
    if (bySignal) {
      kill(c.pid, SIGTERM);
    } else {
      close(c.in);
      c.in = -1;
    }
    EXPECT_EQ(0, WaitExit(c.pid));
    // Its links end with it.
    EXPECT_TRUE(WaitResult(link, 2));
    if (c.in >= 0) close(c.in);
    std::fclose(c.out);
    QVC_DisConnect(link);
    QVC_DisConnect(link + 1);
  }
}

TEST(VdeviceProgram, RejectsBadSettingsAndDocumentsThem) {
  Child help = Spawn({"vdevice", "--help"});
  ASSERT_GT(help.pid, 0);
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, help.out)) text += buf;
  EXPECT_EQ(0, WaitExit(help.pid));
  for (const char* key : {"type=", "channels=", "kind=", "codec=", "header=", "fault=", "file="}) {
    EXPECT_NE(text.find(key), std::string::npos) << key;
  }
  close(help.in);
  std::fclose(help.out);
  Child bad = Spawn({"vdevice", "--device", "type=9"});
  EXPECT_EQ(2, WaitExit(bad.pid));
  close(bad.in);
  std::fclose(bad.out);
}

}  // namespace
}  // namespace vdevice_test
