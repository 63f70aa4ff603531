// The bound table of each library.
#include "platform/binding.h"
#include "platform/mp4pkg_api.h"
#include "platform/nxl_api.h"
#include "platform/oct_api.h"
#include "platform/player_api.h"

namespace qcsdk::platform {
namespace {

template <class Api>
Binding<Api>& BindingOf(const Api& (*fallback)()) {
  static Binding<Api> binding(fallback());
  return binding;
}

}  // namespace

const PlayerApi& Player() {
  return BindingOf(&DefaultPlayer).Get();
}
void BindPlayer(const PlayerApi* api) {
  BindingOf(&DefaultPlayer).Bind(api);
}
const Mp4PkgApi& Mp4Pkg() {
  return BindingOf(&DefaultMp4Pkg).Get();
}
void BindMp4Pkg(const Mp4PkgApi* api) {
  BindingOf(&DefaultMp4Pkg).Bind(api);
}
const NxlApi& Nxl() {
  return BindingOf(&DefaultNxl).Get();
}
void BindNxl(const NxlApi* api) {
  BindingOf(&DefaultNxl).Bind(api);
}
const OctApi& Oct() {
  return BindingOf(&DefaultOct).Get();
}
void BindOct(const OctApi* api) {
  BindingOf(&DefaultOct).Bind(api);
}

}  // namespace qcsdk::platform
