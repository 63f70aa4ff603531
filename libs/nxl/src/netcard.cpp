// Local IPv4 addresses of the network cards, counted as the system lists them.
#include "netcard.h"

#include "netio/address.h"

namespace qvc {

bool LocalAddressOfCard(int32_t card, uint32_t* address) {
  return netio::CardAddress(card, address);
}

}  // namespace qvc
