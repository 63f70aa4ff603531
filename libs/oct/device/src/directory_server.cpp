#include <list>
#include <map>

#include "device_internal.h"
#include "messages.h"
#include "netio/socket.h"

namespace octc::device {
namespace {

using wire::Type;

constexpr size_t kMaxClients = 1024;

struct Entry {
  std::string address;
  uint16_t port = 0;
  uint64_t owner = 0;  // the connection that registered it
};

}  // namespace

struct DirectoryServer::Impl {
  struct Client {
    uint64_t id = 0;
    std::shared_ptr<net::FrameConn> conn;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Reap();
  void Admit(netio::Fd fd);
  void Serve(Client& c);

  mutable std::mutex lock;
  std::map<std::string, Entry> entries;
  std::list<Client> clients;
  uint64_t next_client = 1;
  std::atomic<bool> stop{false};
  netio::AcceptLoop acceptor;
};

void DirectoryServer::Impl::Serve(Client& c) {
  wire::Frame f;
  while (!stop) {
    net::ReadResult r = net::ReadFrame(c.conn->fd(), 200, f);
    if (r == net::ReadResult::kIdle) continue;
    if (r != net::ReadResult::kFrame) break;
    wire::Reader rd(f.payload);
    wire::Writer w;
    Type answer;
    if (f.header.type == Type::kDirRegister) {
      std::string number = rd.Text();
      std::string address = rd.Text();
      uint16_t p = rd.U16();
      if (!rd.AtEnd() || number.empty() || p == 0) break;
      std::lock_guard<std::mutex> l(lock);
      entries[number] = Entry{address, p, c.id};
      w.I32(0);
      answer = Type::kDirRegisterResp;
    } else if (f.header.type == Type::kDirLookup) {
      std::string number = rd.Text();
      if (!rd.AtEnd()) break;
      std::lock_guard<std::mutex> l(lock);
      auto it = entries.find(number);
      if (it == entries.end())
        w.I32(OCTC_ERR_UNREACHABLE).Text("").U16(0);
      else
        w.I32(0).Text(it->second.address).U16(it->second.port);
      answer = Type::kDirLookupResp;
    } else if (f.header.type == Type::kDirStatus) {
      uint32_t count = rd.U32();
      if (!rd.ok() || count > rd.remaining() / 2) break;  // each number takes at least 2 bytes
      w.U32(count);
      std::lock_guard<std::mutex> l(lock);
      for (uint32_t i = 0; i < count; ++i) {
        auto it = entries.find(rd.Text());
        w.U8(it != entries.end() ? 1 : 0).U16(it != entries.end() ? it->second.port : 0);
      }
      if (!rd.AtEnd()) break;
      answer = Type::kDirStatusResp;
    } else {
      break;
    }
    if (!c.conn->Send(answer, 0, f.header.seq, w.data())) break;
  }
  c.conn->Shutdown();
  std::lock_guard<std::mutex> l(lock);
  for (auto it = entries.begin(); it != entries.end();)
    it = it->second.owner == c.id ? entries.erase(it) : std::next(it);
  c.done = true;
}

void DirectoryServer::Impl::Reap() {
  std::lock_guard<std::mutex> l(lock);
  for (auto it = clients.begin(); it != clients.end();) {
    if (it->done) {
      it->thread.join();
      it = clients.erase(it);
    } else {
      ++it;
    }
  }
}

void DirectoryServer::Impl::Admit(netio::Fd fd) {
  netio::SetIoTimeouts(fd.get(), 5000);
  std::lock_guard<std::mutex> l(lock);
  if (clients.size() >= kMaxClients) return;  // closes the connection at once
  Client& c = clients.emplace_back();
  c.id = next_client++;
  c.conn = std::make_shared<net::FrameConn>(std::move(fd));
  c.thread = std::thread([this, &c] { Serve(c); });
}

DirectoryServer::DirectoryServer() : m_impl(std::make_unique<Impl>()) {}
DirectoryServer::~DirectoryServer() {
  Stop();
}

bool DirectoryServer::Start(const std::string& address, uint16_t port) {
  Impl& d = *m_impl;
  uint32_t local = 0;
  if (d.acceptor.running() || !netio::ResolveIpv4(address, &local)) return false;
  d.stop = false;
  return d.acceptor.Start(
      local, port, [&d](netio::Fd fd) { d.Admit(std::move(fd)); }, [&d] { d.Reap(); });
}

void DirectoryServer::Stop() {
  Impl& d = *m_impl;
  d.stop = true;
  d.acceptor.Stop();
  {
    std::lock_guard<std::mutex> l(d.lock);
    for (auto& c : d.clients) c.conn->Shutdown();
  }
  for (auto& c : d.clients)
    if (c.thread.joinable()) c.thread.join();
  d.clients.clear();
  d.entries.clear();
}

uint16_t DirectoryServer::port() const {
  return m_impl->acceptor.port();
}

size_t DirectoryServer::RegisteredCount() const {
  std::lock_guard<std::mutex> l(m_impl->lock);
  return m_impl->entries.size();
}

}  // namespace octc::device
