// Where the transports' LAN search probes and OKIP broadcasts go
// (QCSDK_SetBroadcastTarget), and the local address the OCT search service
// binds. By default probes go to the loopback broadcast address, so the SDK
// reaches no network unless the host names one, and the OCT search service
// binds any local address, so that a target set later is reachable.
#pragma once

#include <cstdint>

namespace qcsdk {

// Hands the target to both transports, with port 0 so that each service
// keeps sending to the remote port it was started with, and the local
// address to the OCT search service, which binds it when it starts.
void ApplyBroadcastTarget();

// The Nxl transport accepted network adapter `card` (QCSDK_SetNetCard): the
// OCT search service binds that adapter's address from its next start too
// (any address for card 0, or for an adapter that is no longer there).
void UseNetCardForSearch(int32_t card);

}  // namespace qcsdk
