// The machine's IPv4 addresses, for QVC_SetLocalNetCard.
#pragma once

#include <cstdint>

namespace qvc {

// The address of network card `card` (1: the first IPv4 address the system
// lists, counting every interface that is up, loopback included), in
// network order; false when there is no such card.
bool LocalAddressOfCard(int32_t card, uint32_t* address);

}  // namespace qvc
