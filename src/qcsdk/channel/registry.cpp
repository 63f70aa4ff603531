#include "qcsdk/channel/registry.h"

#include <array>
#include <atomic>
#include <mutex>
#include <new>

#include "platform/os.h"
#include "qcsdk/channel/channel.h"

namespace qcsdk {
namespace {

// A slot is changed under both the registry lock and its own; the lookup
// that every arriving frame makes takes only the slot's own lock, so the
// transport's threads never wait for the table, for a change of another slot
// nor for each other. Walks over the table hold the registry lock, which
// keeps every slot as it is.
struct Slot {
  std::mutex mu;
  ChannelPtr channel;  // written under the registry lock and mu

  ChannelPtr Exchange(ChannelPtr next) {
    std::lock_guard<std::mutex> guard(mu);
    channel.swap(next);
    return next;
  }
};

struct Registry {
  os::RecursiveLock g_csChannels;
  std::array<Slot, kMaxChannels> g_channels;
  std::atomic<ChannelFactory> factory{&MakeTransportChannel};

  ~Registry() {
    // The library is being unloaded: empty the slots while the lock exists.
    for (Slot& slot : g_channels) {
      ChannelPtr dropped;
      {
        std::lock_guard<os::RecursiveLock> guard(g_csChannels);
        dropped = slot.Exchange(nullptr);
      }
    }
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
    Slot& slot = r.g_channels[static_cast<std::size_t>(n)];
    if (slot.channel) continue;
    try {
      ChannelPtr channel = r.factory.load(std::memory_order_acquire)(n, bOct);
      if (!channel) return -1;
      slot.Exchange(std::move(channel));
    } catch (const std::bad_alloc&) {
      return -1;
    }
    return n;
  }
  return -1;
}

ChannelPtr FindChannel(int32_t nChannel) {
  if (!InRange(nChannel)) return {};
  Slot& slot = Instance().g_channels[static_cast<std::size_t>(nChannel)];
  std::lock_guard<std::mutex> guard(slot.mu);
  return slot.channel;
}

void RemoveChannel(const Channel& channel) {
  const int32_t nChannel = channel.Number();
  if (!InRange(nChannel)) return;
  Registry& r = Instance();
  ChannelPtr dropped;  // released after the lock: a destructor may take time
  {
    std::lock_guard<os::RecursiveLock> guard(r.g_csChannels);
    Slot& slot = r.g_channels[static_cast<std::size_t>(nChannel)];
    if (slot.channel.get() == &channel) dropped = slot.Exchange(nullptr);
  }
}

ChannelPtr FindChannelByPlayer(int32_t player) {
  Registry& r = Instance();
  std::lock_guard<os::RecursiveLock> guard(r.g_csChannels);
  for (const Slot& slot : r.g_channels) {
    if (slot.channel && slot.channel->PlayerHandle() == player) return slot.channel;
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
    for (std::size_t n = 0; n < dropped.size(); ++n) dropped[n] = r.g_channels[n].Exchange(nullptr);
  }
  // Ascending, as the slots were emptied (an array is destroyed backwards).
  for (ChannelPtr& channel : dropped) channel.reset();
}

void SetChannelFactory(ChannelFactory factory) {
  Instance().factory.store(factory != nullptr ? factory : &MakeTransportChannel,
                           std::memory_order_release);
}

}  // namespace qcsdk
