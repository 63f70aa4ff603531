// Connects that wait for their end, on top of each platform's StartConnect
// and FinishConnect.
#include "netio/socket.h"
#include "netio/wait.h"
#include "socket_platform.h"

namespace netio {

ConnectResult ConnectTcp(uint32_t address, uint16_t port, uint32_t local,
                         Clock::time_point deadline, Interrupt interrupt, int io_timeout_ms,
                         Fd* out, std::string* error) {
  Fd fd;
  ConnectResult result = StartConnect(address, port, local, &fd, error);
  if (result == ConnectResult::kPending) {
    switch (WaitFor(fd.get(), Events::kWritable, deadline, interrupt)) {
      case WaitResult::kReady: result = FinishConnect(fd.get(), error); break;
      case WaitResult::kWoken: *error = "connect: cancelled"; return ConnectResult::kWoken;
      case WaitResult::kTimeout: *error = "connect: timed out"; return ConnectResult::kTimeout;
      case WaitResult::kError: *error = detail::LastErrorText("poll"); return ConnectResult::kError;
    }
  }
  if (result != ConnectResult::kOk) return result;
  detail::SetBlocking(fd.get());
  SetIoTimeouts(fd.get(), io_timeout_ms);
  *out = std::move(fd);
  return ConnectResult::kOk;
}

Fd ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, int io_timeout_ms,
              const std::atomic<bool>* cancel) {
  uint32_t address = 0;
  if (port == 0 || !ResolveIpv4(host, &address)) return Fd();
  Fd fd;
  std::string error;
  ConnectTcp(address, port, 0, Clock::now() + std::chrono::milliseconds(timeout_ms),
             Interrupt{kNoSocket, cancel}, io_timeout_ms, &fd, &error);
  return fd;
}

}  // namespace netio
