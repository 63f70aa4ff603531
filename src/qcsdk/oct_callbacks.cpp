// Routing of what the OCT library reports. The routing to connections and
// channels arrives with the OCT transport; until then the library holds no
// connection of the SDK's and these functions have nothing to route.
#include "qcsdk/oct_callbacks.h"

namespace qcsdk::oct {

void OnConnection(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                  const OctDevInfo*) {}
void OnNotice(int32_t, int32_t, const void*, int32_t) {}
void OnStreamState(int32_t, int32_t, int32_t, int32_t) {}
void OnStreamData(int32_t, int32_t, int32_t, const void*) {}
void OnVodState(int32_t, int32_t, int32_t, int32_t) {}
void OnVodData(int32_t, int32_t, int32_t, const void*) {}
void OnDownState(int32_t, int32_t, int32_t, int32_t) {}
void OnDownData(int32_t, int32_t, const OctDownData*) {}
void OnChatState(int32_t, int32_t, int32_t, int32_t) {}
void OnChatData(int32_t, int32_t, const void*, int32_t) {}

}  // namespace qcsdk::oct
