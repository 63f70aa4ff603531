#include "qcsdk/channel/registry.h"

#include <array>
#include <atomic>
#include <mutex>
#include <new>

#include "platform/os.h"
#include "qcsdk/channel/channel.h"

namespace qcsdk {
namespace {

// Every change of the table (a slot filled or emptied) and every walk over
// it happens under g_csChannels. A slot is read alone without the lock: the
// lookup that every arriving frame makes loads its slot atomically, so the
// transport's threads never wait for the table nor for each other.
struct Registry {
  os::RecursiveLock g_csChannels;
  std::array<std::atomic<ChannelPtr>, kMaxChannels> g_channels;
  // What each slot holds, for the walks under the lock (no reference taken
  // per slot); changed with the slot.
  std::array<const Channel*, kMaxChannels> g_held{};
  std::atomic<ChannelFactory> factory{&MakeTransportChannel};

  ~Registry() {
    // The library is being unloaded: empty the slots while the lock exists.
    for (auto& slot : g_channels) {
      ChannelPtr dropped;
      {
        std::lock_guard<os::RecursiveLock> guard(g_csChannels);
        dropped = slot.exchange(nullptr);
      }
    }
    g_held.fill(nullptr);
  }
};

Registry& Instance() {
  static Registry registry;
  return registry;
}

bool InRange(int32_t nChannel) {
  return static_cast<uint32_t>(nChannel) < kMaxChannels;
}

}  // namespace

int32_t AllocChannel(bool bOct) {
  Registry& r = Instance();
  std::lock_guard<os::RecursiveLock> guard(r.g_csChannels);
  for (int32_t n = 0; n < kMaxChannels; ++n) {
    const std::size_t i = static_cast<std::size_t>(n);
    if (r.g_held[i] != nullptr) continue;
    try {
      ChannelPtr channel = r.factory.load(std::memory_order_acquire)(n, bOct);
      if (!channel) return -1;
      r.g_held[i] = channel.get();
      r.g_channels[i].store(std::move(channel), std::memory_order_release);
    } catch (const std::bad_alloc&) {
      return -1;
    }
    return n;
  }
  return -1;
}

ChannelPtr FindChannel(int32_t nChannel) {
  if (!InRange(nChannel)) return {};
  return Instance().g_channels[static_cast<std::size_t>(nChannel)].load(std::memory_order_acquire);
}

void RemoveChannel(const Channel& channel) {
  const int32_t nChannel = channel.Number();
  if (!InRange(nChannel)) return;
  Registry& r = Instance();
  ChannelPtr dropped;  // released after the lock: a destructor may take time
  {
    std::lock_guard<os::RecursiveLock> guard(r.g_csChannels);
    const std::size_t i = static_cast<std::size_t>(nChannel);
    if (r.g_held[i] != &channel) return;
    r.g_held[i] = nullptr;
    dropped = r.g_channels[i].exchange(nullptr);
  }
}

ChannelPtr FindChannelByPlayer(int32_t player) {
  Registry& r = Instance();
  std::lock_guard<os::RecursiveLock> guard(r.g_csChannels);
  for (std::size_t i = 0; i < kMaxChannels; ++i) {
    const Channel* held = r.g_held[i];
    if (held != nullptr && held->PlayerHandle() == player) return r.g_channels[i].load();
  }
  return {};
}

void RemoveAllChannels() {
  Registry& r = Instance();
  // Destroying a channel releases its player, which waits for its decoding
  // thread; that thread may be waiting for this lock to hand a picture over.
  // So the references are only taken out under the lock and dropped after.
  std::array<ChannelPtr, kMaxChannels> dropped;
  {
    std::lock_guard<os::RecursiveLock> guard(r.g_csChannels);
    for (std::size_t n = 0; n < dropped.size(); ++n) dropped[n] = r.g_channels[n].exchange(nullptr);
    r.g_held.fill(nullptr);
  }
  // Ascending, as the slots were emptied (an array is destroyed backwards).
  for (ChannelPtr& channel : dropped) channel.reset();
}

void SetChannelFactory(ChannelFactory factory) {
  Instance().factory.store(factory != nullptr ? factory : &MakeTransportChannel,
                           std::memory_order_release);
}

}  // namespace qcsdk
