#include "directory_client.h"

#include <cstring>

#include "frame_io.h"
#include "netio/socket.h"

namespace octc {
namespace {

int32_t Exchange(const Settings& s, wire::Type type, const std::vector<uint8_t>& payload,
                 wire::Type answer, std::vector<uint8_t>* reply, const std::atomic<bool>* cancel) {
  netio::Fd fd = netio::ConnectTcp(s.directory_host, s.directory_port, s.connect_timeout_ms,
                                   s.request_timeout_ms, cancel);
  if (!fd.valid()) return OCTC_ERR_UNREACHABLE;
  if (!netio::SendAll(fd.get(), wire::BuildMessage(type, 0, 1, payload).data(),
                      wire::kHeaderSize + payload.size()))
    return OCTC_ERR_UNREACHABLE;
  wire::Frame f;
  switch (net::ReadFrame(fd.get(), s.request_timeout_ms, f)) {
    case net::ReadResult::kFrame: break;
    case net::ReadResult::kIdle: return OCTC_ERR_TIMEOUT;
    default: return OCTC_ERR_PROTOCOL;
  }
  if (f.header.type != answer || f.header.seq != 1) return OCTC_ERR_PROTOCOL;
  *reply = std::move(f.payload);
  return 0;
}

}  // namespace

int32_t DirectoryLookup(const Settings& s, const std::string& number, std::string* address,
                        uint16_t* port, const std::atomic<bool>* cancel) {
  wire::Writer w;
  w.Text(number);
  std::vector<uint8_t> reply;
  int32_t rc =
      Exchange(s, wire::Type::kDirLookup, w.data(), wire::Type::kDirLookupResp, &reply, cancel);
  if (rc != 0) return rc;
  wire::Reader r(reply);
  int32_t result = r.I32();
  *address = r.Text();
  *port = r.U16();
  if (!r.AtEnd()) return OCTC_ERR_PROTOCOL;
  if (result != 0 || *port == 0) return OCTC_ERR_UNREACHABLE;
  return 0;
}

int32_t DirectoryStatus(const Settings& s, const std::vector<std::string>& numbers,
                        std::vector<OctOnlineStatus>* out) {
  wire::Writer w;
  w.U32(static_cast<uint32_t>(numbers.size()));
  for (const std::string& n : numbers) w.Text(n);
  if (w.data().size() > wire::kMaxPayload) return OCTC_ERR_FAILED;
  std::vector<uint8_t> reply;
  int32_t rc =
      Exchange(s, wire::Type::kDirStatus, w.data(), wire::Type::kDirStatusResp, &reply, nullptr);
  if (rc != 0) return rc;
  wire::Reader r(reply);
  if (r.U32() != numbers.size()) return OCTC_ERR_PROTOCOL;
  out->assign(numbers.size(), OctOnlineStatus{});
  int32_t online = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    OctOnlineStatus& e = (*out)[i];
    std::strncpy(e.number, numbers[i].c_str(), sizeof e.number - 1);
    e.online = r.U8() != 0 ? 1 : 0;
    e.port = r.U16();
    if (!e.online) e.port = 0;
    online += e.online;
  }
  if (!r.AtEnd()) return OCTC_ERR_PROTOCOL;
  return online;
}

}  // namespace octc
