// UDP on IPv4 for search probes and broadcasts: bound sockets that may send
// broadcasts, single datagrams out and in.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "netio/address.h"
#include "netio/fd.h"

namespace netio {

// A UDP socket bound to address:port (port 0: the system picks) that may
// send broadcasts. A shared socket lets other shared sockets bind the same
// address and port (several devices on one machine answering one probe).
Fd BindUdp(uint32_t address, uint16_t port, bool shared, std::string* error);

// Sends one datagram; false unless all of it went.
bool SendDatagram(int fd, const Endpoint& to, const void* data, size_t size);
// Receives one queued datagram without waiting: its size (cut to `size`),
// or -1 when none is queued. `from` gets its source.
ssize_t ReceiveDatagram(int fd, void* data, size_t size, Endpoint* from);

}  // namespace netio
