#include "support/event_log.h"

#include <cstdlib>

namespace qcsdk::test {

int ScaledMs(int ms) {
  const char* scale = std::getenv("QCSDK_TEST_TIME_SCALE");
  const int factor = scale != nullptr && std::atoi(scale) > 0 ? std::atoi(scale) : 1;
  return ms * factor;
}

}  // namespace qcsdk::test
