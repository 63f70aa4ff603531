#include "settings.h"

namespace octc {
namespace {

std::mutex& SettingsLock() {
  static std::mutex m;
  return m;
}
Settings& SettingsStore() {
  static Settings s;
  return s;
}

}  // namespace

Settings CurrentSettings() {
  std::lock_guard<std::mutex> lock(SettingsLock());
  return SettingsStore();
}

void UpdateSettings(const Settings& s) {
  std::lock_guard<std::mutex> lock(SettingsLock());
  SettingsStore() = s;
}

std::mutex& CallbackLock() {
  static std::mutex m;
  return m;
}

CallbackSet& CallbackStore() {
  static CallbackSet c;
  return c;
}

CallbackSet CurrentCallbacks() {
  std::lock_guard<std::mutex> lock(CallbackLock());
  return CallbackStore();
}

}  // namespace octc
