// Local IPv4 addresses through getifaddrs.
#include "netcard.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace qvc {

bool LocalAddressOfCard(int32_t card, uint32_t* address) {
  if (card < 1) return false;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  int32_t index = 0;
  bool found = false;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !(it->ifa_flags & IFF_UP)) {
      continue;
    }
    if (++index == card) {
      *address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  ::freeifaddrs(list);
  return found;
}

}  // namespace qvc
