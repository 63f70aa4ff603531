// Captures the SDK's log lines and failed state checks for a scope, then restores stdout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qcsdk::test {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<std::string> Lines() const;
  // The lines so far, which are forgotten.
  std::vector<std::string> Take();
  // Condition texts of the failed state checks, in order.
  std::vector<std::string> Assertions() const;
  bool Contains(const std::string& text) const;
  // The log function the capture configures, for a test's own sinks.
  static void Collect(int32_t module, int32_t level, const char* line);
};

}  // namespace qcsdk::test
