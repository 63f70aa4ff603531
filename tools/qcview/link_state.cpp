#include "link_state.h"

#include <qcsdk/qcsdk.h>

#include "hostlib/event_names.h"

namespace qcview {

std::string FailureText(const hostlib::DeviceSource& source, int32_t event,
                        std::chrono::milliseconds attempt) {
  switch (event) {
    case QCSDK_EVENT_AUTH_FAILED: return "wrong user or password (" + source.user + ")";
    case QCSDK_EVENT_NO_CHANNEL:
      return "the device has no channel " + std::to_string(source.channel);
    case QCSDK_EVENT_BAD_CONNECT_TYPE: return "the device refused this kind of connection";
    case QCSDK_EVENT_CLIENT_LIMIT: return "the device serves no more clients";
    case QCSDK_EVENT_CONNECT_FAILED:
      if (source.byNumber) return "device " + source.host + " not found or offline";
      // A refusal (nothing listening, host unreachable) comes back within a
      // round trip; a connect nobody answers ends with the transport's
      // time-out.
      if (attempt < std::chrono::seconds(2)) return "connection refused or host unreachable";
      return "no answer: timed out after " + std::to_string((attempt.count() + 500) / 1000) + " s";
    case QCSDK_EVENT_DISCONNECTED: return "disconnected";
    case QCSDK_EVENT_LINK_LOST: return "link lost";
    case QCSDK_EVENT_REMOTE_CLOSED: return "link closed by the device";
    default: return hostlib::EventName(event);
  }
}

}  // namespace qcview
