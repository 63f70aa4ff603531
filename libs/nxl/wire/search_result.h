// The host's record of a LAN search answer, as the client library reports it.
#pragma once

#include <qvc/qvc.h>

#include <cstdint>

#include "discovery.h"

namespace qvc::wire {

// Texts are cut to their fields; the address is the one the answer names or,
// when it names none, the datagram's source (both in network order).
QVC_SearchResult ToSearchResult(const SearchAnswer& answer, uint32_t source);

}  // namespace qvc::wire
