// The library's process-wide state: whether it is initialised, the
// decoded-picture function and the fixed table of players.
//
// Handles are table indexes. A released handle is given out again, but only
// after every other free one has been (the search for a free slot starts
// after the last handle given), so a stale handle rarely names a new player.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio_output.h"
#include "player.h"
#include "thread_reaper.h"

namespace qvsp {

inline constexpr int32_t kMaxPlayers = 1024;

class PlayerTable {
 public:
  static PlayerTable& Instance();

  PlayerTable() = default;
  ~PlayerTable();
  PlayerTable(const PlayerTable&) = delete;
  PlayerTable& operator=(const PlayerTable&) = delete;

  void Init();
  // Releases every player and waits for every decoding thread, except the
  // calling one when it is a decoding thread itself.
  void Release();
  void SetCallback(QVSP_PictureCallback callback) {
    m_callback.store(callback, std::memory_order_release);
  }

  // A new player's handle, or -1 when the library is not initialised or the
  // table is full.
  int32_t Create();
  bool Remove(int32_t handle);
  std::shared_ptr<Player> Find(int32_t handle) const;

 private:
  ThreadReaper m_reaper;  // first: outlives every player
  AudioOutput m_output;   // outlives every player too
  std::atomic<QVSP_PictureCallback> m_callback{nullptr};
  mutable std::mutex m_mutex;
  bool m_initialised = false;
  int32_t m_next = 0;
  std::array<std::shared_ptr<Player>, kMaxPlayers> m_players;
};

}  // namespace qvsp
