// Captures the SDK's log lines (and failed state checks) for a scope;
// afterwards the log writes to standard output again.
#pragma once

#include <string>
#include <vector>

namespace qcsdk::test {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<std::string> Lines() const;
  // Condition texts of the failed state checks, in order.
  std::vector<std::string> Assertions() const;
  bool Contains(const std::string& text) const;
};

}  // namespace qcsdk::test
