#include "support/log_capture.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "log/log.h"
#include "qcsdk/base/assertion.h"

namespace qcsdk::test {
namespace {

std::mutex g_mutex;
std::vector<std::string> g_lines, g_assertions;

void Observe(const char* condition, const char*, int) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_assertions.emplace_back(condition);
}

}  // namespace

void LogCapture::Collect(int32_t, int32_t, const char* line) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_lines.emplace_back(line);
}

LogCapture::LogCapture() {
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_lines.clear();
    g_assertions.clear();
  }
  const log::Sink sink{log::kFunction, "", &Collect, {}, 1};
  log::Configure(&sink, 1);
  SetAssertObserver(&Observe);
}

LogCapture::~LogCapture() {
  SetAssertObserver(nullptr);
  const log::Sink out{log::kStdout, "", nullptr, {}, 1};
  log::Configure(&out, 1);
}

std::vector<std::string> LogCapture::Lines() const {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_lines;
}

std::vector<std::string> LogCapture::Take() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return std::exchange(g_lines, {});
}

std::vector<std::string> LogCapture::Assertions() const {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_assertions;
}

bool LogCapture::Contains(const std::string& text) const {
  std::lock_guard<std::mutex> guard(g_mutex);
  return std::any_of(g_lines.begin(), g_lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

}  // namespace qcsdk::test
