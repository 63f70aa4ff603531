// TCP and UDP on IPv4: deadline-bounded and non-blocking connects,
// listening and accepting, socket options, bound datagram sockets, and sends
// that never raise SIGPIPE (nothing here changes process-wide state).
// Addresses in network byte order, ports in host byte order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "netio/address.h"
#include "netio/fd.h"
#include "netio/wait.h"

namespace netio {

enum class ConnectResult { kOk, kRefused, kTimeout, kWoken, kError, kPending };

// Starts a connect to address:port on a non-blocking socket, bound first to
// `local` (0: any): kOk when connected at once, kPending while under way
// (wait until the socket is writable, then call FinishConnect), else the
// failure with its text in `error`.
ConnectResult StartConnect(uint32_t address, uint16_t port, uint32_t local, Fd* out,
                           std::string* error);
// The outcome of a pending connect whose socket became writable; on kOk the
// socket sends small messages at once (TCP_NODELAY).
ConnectResult FinishConnect(Socket fd, std::string* error);

// A connect as StartConnect that waits for its end. The socket is left
// blocking, with send and receive time-outs of `io_timeout_ms`.
ConnectResult ConnectTcp(uint32_t address, uint16_t port, uint32_t local,
                         Clock::time_point deadline, Interrupt interrupt, int io_timeout_ms,
                         Fd* out, std::string* error);
// The same to a dotted address or host name within `timeout_ms`; an invalid
// descriptor on any failure (port 0 included) or once `cancel` is set.
Fd ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, int io_timeout_ms,
              const std::atomic<bool>* cancel = nullptr);

// A listening socket on address:port (port 0: the system picks).
Fd ListenTcp(uint32_t address, uint16_t port, std::string* error);
// One connection waiting on a listening socket; invalid when there is none
// (on a non-blocking socket) or the accept failed.
Fd Accept(Socket listen_fd);

void SetNonBlocking(Socket fd);
void SetNoDelay(Socket fd);
void SetSendTimeout(Socket fd, int ms);
void SetIoTimeouts(Socket fd, int ms);

// Ends both directions of a connection: the peer sees the end, and so does
// a wait on the socket here.
void Shutdown(Socket fd);

// Makes the close of the socket reset the connection instead of ending it
// in order.
void SetAbortiveClose(Socket fd);

enum class Sent { kSent, kWouldBlock, kFailed };
// Sends what the socket takes now without waiting: kSent with the count in
// `sent` (possibly less than `size`), kWouldBlock when it takes nothing now.
Sent SendNow(Socket fd, const void* data, size_t size, size_t* sent);

// Sends all bytes; false on an error or a send time-out.
bool SendAll(Socket fd, const void* data, size_t size);
// Sends a head and then a body as one stream of bytes without joining them.
bool SendAll(Socket fd, const void* head, size_t head_size, const void* body, size_t body_size);

enum class Received { kData, kNothing, kEnded, kFailed };
// Receives what is queued without waiting: kData with the count in `got`,
// kNothing when nothing is queued, kEnded at the peer's orderly end.
Received ReceiveNow(Socket fd, void* data, size_t size, size_t* got);
// Receives what is queued, waiting (at most the socket's receive time-out)
// when nothing is: kData with the count in `got`, kEnded at the peer's
// orderly end, kFailed on an error or time-out.
Received ReceiveSome(Socket fd, void* data, size_t size, size_t* got);
// Receives exactly `size` bytes, waiting at most the socket's receive
// time-out for each part: kEnded when the stream ended before the first byte,
// kFailed when it ended later or on an error or time-out.
Received ReceiveAll(Socket fd, void* data, size_t size);

// A UDP socket bound to address:port (port 0: the system picks) that may
// send broadcasts. A shared socket lets other shared sockets bind the same
// address and port (several devices on one machine answering one probe).
Fd BindUdp(uint32_t address, uint16_t port, bool shared, std::string* error);
// Sends one datagram; false unless all of it went.
bool SendDatagram(Socket fd, const Endpoint& to, const void* data, size_t size);
// Receives one queued datagram without waiting: its size (cut to `size`),
// or -1 when none is queued. `from` gets its source.
std::ptrdiff_t ReceiveDatagram(Socket fd, void* data, size_t size, Endpoint* from);

}  // namespace netio
