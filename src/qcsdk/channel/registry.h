// The table of 512 channel slots. A channel number is its slot index; every
// export and every transport callback holds a shared reference to its
// channel for as long as it works on it.
#pragma once

#include <cstdint>
#include <memory>

namespace qcsdk {

class Channel;
using ChannelPtr = std::shared_ptr<Channel>;

constexpr int32_t kMaxChannels = 512;

// Takes the lowest empty slot and constructs an OCT or an Nxl channel there;
// -1 when all slots are taken or the channel cannot be constructed.
int32_t AllocChannel(bool bOct);
// The channel in that slot, or empty (also for numbers out of range). Each
// arriving frame looks its channel up: this takes only the slot's own lock,
// never the registry lock, so it does not wait for a change of the table
// under way (a change of this very slot holds it for a pointer swap).
ChannelPtr FindChannel(int32_t nChannel);
// Empties the channel's slot, dropping the registry's reference, but only
// while the slot still holds this very channel: one that has already left
// may have passed its number on to a newer channel.
void RemoveChannel(const Channel& channel);
// The first channel, in slot order, whose player handle is `player`.
ChannelPtr FindChannelByPlayer(int32_t player);
// Empties every slot in ascending order under the registry lock, then lets
// the channels go after the lock, in the same order; channels no call still
// holds are destroyed here.
void RemoveAllChannels();

// Constructs the channel object for a slot. Tests replace it to drive
// scripted channels; null restores the transport classes.
using ChannelFactory = ChannelPtr (*)(int32_t nChannel, bool bOct);
void SetChannelFactory(ChannelFactory factory);
// The default factory: an OctChannel or an NxlChannel. It lives with the
// connect exports, so that the registry itself knows no transport.
ChannelPtr MakeTransportChannel(int32_t nChannel, bool bOct);

}  // namespace qcsdk
