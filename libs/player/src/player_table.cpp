#include "player_table.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace qvsp {

PlayerTable& PlayerTable::Instance() {
  static PlayerTable table;
  return table;
}

PlayerTable::~PlayerTable() { Release(); }

void PlayerTable::Init() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initialised = true;
  }
  m_reaper.JoinFinished();
}

void PlayerTable::Release() {
  // The players stay in the table until their threads have ended, so that a
  // last callback can still ask for its picture's size.
  std::vector<std::shared_ptr<Player>> players;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initialised = false;
    for (const auto& player : m_players) {
      if (player) players.push_back(player);
    }
  }
  for (const auto& player : players) player->Shutdown();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& slot : m_players) {
      if (slot && std::find(players.begin(), players.end(), slot) != players.end()) slot.reset();
    }
  }
  players.clear();
  m_output.Shutdown();
  m_reaper.JoinAll();
}

int32_t PlayerTable::Create() {
  m_reaper.JoinFinished();
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_initialised) return -1;
  for (int32_t i = 0; i < kMaxPlayers; ++i) {
    const int32_t handle = (m_next + i) % kMaxPlayers;
    if (!m_players[static_cast<size_t>(handle)]) {
      m_players[static_cast<size_t>(handle)] =
          std::make_shared<Player>(handle, m_reaper, m_callback, m_output);
      m_next = (handle + 1) % kMaxPlayers;
      return handle;
    }
  }
  return -1;
}

bool PlayerTable::Remove(int32_t handle) {
  std::shared_ptr<Player> player = Find(handle);
  if (!player || !player->Shutdown()) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  auto& slot = m_players[static_cast<size_t>(handle)];
  if (slot == player) slot.reset();
  return true;
}

std::shared_ptr<Player> PlayerTable::Find(int32_t handle) const {
  if (handle < 0 || handle >= kMaxPlayers) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_players[static_cast<size_t>(handle)];
}

}  // namespace qvsp
