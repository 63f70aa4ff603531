# Shared by the project's scripts: installs the Debian packages the build
# needs (only those missing), then configures and builds a preset.
# shellcheck shell=bash

QCSDK_PACKAGES=(
  cmake ninja-build g++ gcc-multilib g++-multilib pkg-config python3
  libcjson-dev libssl-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libsdl2-dev
  libgstrtspserver-1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  libxcb1-dev libxcb-shm0-dev xvfb xfonts-base
  dpkg-dev lintian
)

qcsdk_install_packages() {
  local missing=()
  local pkg
  for pkg in "${QCSDK_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# qcsdk_build PRESET: configure and build with a CMake preset.
qcsdk_build() {
  local preset="$1"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)"
}
