# Shared by ./scripts/test win32 (and win64): installs the cross tools and
# wine (only what is missing), then cross-builds cJSON, GoogleTest and a small
# FFmpeg from Debian's own source packages into a cache outside the clone,
# per target (QCSDK_WIN_HOST). A package is rebuilt only when its cache folder
# for the current Debian version is missing or was built by another recipe.
# shellcheck shell=bash

QCSDK_WIN_CACHE="${QCSDK_WIN_CACHE:-/var/cache/qcsdk-win32}"
QCSDK_WIN_HOST="${QCSDK_WIN_HOST:-i686-w64-mingw32}"

qcsdk_win_packages() {
  local arch=i686
  case "$QCSDK_WIN_HOST" in x86_64-*) arch=x86-64 ;; esac
  echo "g++-mingw-w64-$arch-posix gcc-mingw-w64-$arch-posix mingw-w64-tools" \
    "wine wine32:i386 wine64 nasm xvfb xauth dpkg-dev pkg-config cmake ninja-build python3" \
    "googletest clang lld llvm"  # the last three: qcsdk.lib and the host test that links it
}

qcsdk_win_sudo() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

qcsdk_win_apt() {
  # Other builds on this machine may be installing at the same time.
  DEBIAN_FRONTEND=noninteractive qcsdk_win_sudo apt-get -o DPkg::Lock::Timeout=600 "$@"
}

# Adds deb-src lines for the mirror the machine already uses, so apt-get
# source fetches from the same place as the binaries.
qcsdk_win_deb_src() {
  if grep -qsr '^Types:.*deb-src' /etc/apt/sources.list.d/ ||
    grep -qs '^deb-src' /etc/apt/sources.list; then
    return 1
  fi
  local src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    sed 's/^Types: deb$/Types: deb-src/' "$src" |
      qcsdk_win_sudo tee /etc/apt/sources.list.d/qcsdk-deb-src.sources >/dev/null
  else
    sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list |
      qcsdk_win_sudo tee /etc/apt/sources.list.d/qcsdk-deb-src.list >/dev/null
  fi
}

qcsdk_win_install() {
  local update=0 missing=() pkg
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    qcsdk_win_sudo dpkg --add-architecture i386
    update=1
  fi
  if qcsdk_win_deb_src; then update=1; fi
  for pkg in $(qcsdk_win_packages); do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then update=1; fi
  if [ $update -eq 1 ]; then qcsdk_win_apt update -qq; fi
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    qcsdk_win_apt install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# The Debian version of source package $1 that apt-get source would fetch.
qcsdk_win_src_version() {
  apt-get source --print-uris -qq "$1" | awk '$2 ~ /\.dsc$/ {print $2; exit}' |
    sed "s/^$1_//; s/\.dsc$//"
}

# qcsdk_win_dep NAME VERSION BUILDER: runs BUILDER PREFIX WORKDIR unless
# <cache>/<triple>/NAME-VERSION exists and was built by the same BUILDER
# (its text is stamped into the folder), then points <cache>/<triple>/NAME
# at it.
qcsdk_win_dep() {
  local name="$1" version="$2" builder="$3"
  local root="$QCSDK_WIN_CACHE/$QCSDK_WIN_HOST"
  local prefix="$root/$name-$version" recipe
  recipe=$(declare -f "$builder" | sha1sum | cut -c1-40)
  if [ "$(cat "$prefix/.recipe" 2>/dev/null)" != "$recipe" ]; then
    rm -rf "$prefix"
    local start=$SECONDS work="$root/.work-$name"
    echo "Cross-building $name $version for $QCSDK_WIN_HOST"
    rm -rf "$work"
    mkdir -p "$work"
    # Configured for the final prefix, installed into a staging folder, then
    # moved into place: a failed build leaves no folder that looks complete.
    "$builder" "$prefix" "$work"
    mv "$work/stage$prefix" "$prefix"
    echo "$recipe" >"$prefix/.recipe"
    rm -rf "$work"
    echo "$name $version built in $((SECONDS - start)) s"
  fi
  ln -sfn "$name-$version" "$root/$name"
}

qcsdk_win_fetch_source() {
  local package="$1" work="$2"
  (cd "$work" && apt-get source -qq "$package") >/dev/null
  find "$work" -mindepth 1 -maxdepth 1 -type d | head -1
}

qcsdk_win_cmake_dep() {
  local src="$1" prefix="$2" work="$3"
  shift 3
  cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$QCSDK_WIN_TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$work/build" -j "$(nproc)" >/dev/null
  DESTDIR="$work/stage" cmake --install "$work/build" >/dev/null
}

# cJSON as a static archive with its symbols hidden, so that only our own
# exports leave the DLLs; consumers need the same macro to agree on it.
qcsdk_win_build_cjson() {
  local prefix="$1" work="$2" src
  src=$(qcsdk_win_fetch_source cjson "$work")
  qcsdk_win_cmake_dep "$src" "$prefix" "$work" -DENABLE_CJSON_TEST=OFF \
    -DENABLE_CJSON_UTILS=OFF -DENABLE_CUSTOM_COMPILER_FLAGS=OFF \
    -DENABLE_PUBLIC_SYMBOLS=OFF -DENABLE_HIDDEN_SYMBOLS=ON -DENABLE_TARGET_EXPORT=OFF
  sed -i 's|^Cflags: \(.*\)$|Cflags: \1 -DCJSON_HIDE_SYMBOLS|' \
    "$work/stage$prefix/lib/pkgconfig/libcjson.pc"
}

# GoogleTest and GoogleMock from the googletest package's own sources.
qcsdk_win_build_googletest() {
  local prefix="$1" work="$2"
  qcsdk_win_cmake_dep /usr/src/googletest "$prefix" "$work" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# FFmpeg's libraries with just what the player, the MP4 packager and the
# tests use: the decoders of the device codecs, the encoders the tests make
# their streams with, the MP4/MOV muxer and demuxer, swscale and swresample.
qcsdk_win_build_ffmpeg() {
  local prefix="$1" work="$2" src arch=x86
  src=$(qcsdk_win_fetch_source ffmpeg "$work")
  case "$QCSDK_WIN_HOST" in x86_64-*) arch=x86_64 ;; esac
  mkdir -p "$work/build"
  (
    cd "$work/build" || exit 1
    "$src/configure" --prefix="$prefix" --enable-cross-compile --target-os=mingw32 \
      --arch="$arch" --cross-prefix="$QCSDK_WIN_HOST-" --cc="$QCSDK_WIN_HOST-gcc-posix" \
      --cxx="$QCSDK_WIN_HOST-g++-posix" --pkg-config=false \
      --enable-shared --disable-static --disable-debug --disable-doc --disable-programs \
      --disable-autodetect --enable-w32threads --disable-network \
      --disable-avdevice --disable-avfilter --disable-postproc --disable-everything \
      --enable-swscale --enable-swresample \
      --enable-decoder=h264,hevc,mpeg4,adpcm_ima_wav,pcm_alaw,pcm_mulaw,aac \
      --enable-encoder=mpeg4,adpcm_ima_wav,pcm_alaw,pcm_mulaw,aac \
      --enable-parser=h264,hevc,mpeg4video,aac \
      --enable-muxer=mp4,mov --enable-demuxer=mov --enable-protocol=file \
      --extra-ldflags=-static >/dev/null
    make -j "$(nproc)" >/dev/null
    make install DESTDIR="$work/stage" >/dev/null
  )
}

qcsdk_win_deps() {
  QCSDK_WIN_TOOLCHAIN="$PWD/cmake/toolchains/$QCSDK_WIN_HOST.cmake"
  mkdir -p "$QCSDK_WIN_CACHE/$QCSDK_WIN_HOST"
  local package
  for package in cjson ffmpeg; do
    qcsdk_win_dep "$package" "$(qcsdk_win_src_version "$package")" "qcsdk_win_build_$package"
  done
  qcsdk_win_dep googletest "$(dpkg-query -W -f='${Version}' googletest)" qcsdk_win_build_googletest
}

qcsdk_win_step() {
  local start=$SECONDS
  "$@"
  echo "== $* took $((SECONDS - start)) s"
}

# The simulator program of the Linux build (build/): the Windows tests under
# wine take their virtual devices from it (QCSDK_NATIVE_VDEVICE).
qcsdk_win_simulator() {
  qcsdk_install_packages
  cmake --preset default >/dev/null
  cmake --build --preset default --target vdevice -j "$(nproc)"
}

# Runs a Windows preset's tests under wine, inside a private X server for
# the tests that draw (wine's display driver needs one).
qcsdk_win_ctest() {
  local prefix="$PWD/build-$1/wineprefix" status=0
  # One wine server for the whole run, started after the prefix is made and
  # holding none of ctest's pipes: a program that starts just as the server
  # of the one before shuts down fails with "wine client error". Temporary
  # folders a failed run left behind go first (wine reuses process ids).
  # All of it inside the X server: the server's desktop keeps the display
  # its first program found, and one made without any left every later
  # window without a display driver.
  # shellcheck disable=SC2016  # expanded by the inner shell
  xvfb-run -a sh -c '"$0" cmd /c exit >/dev/null 2>&1 || true
    rm -rf "$1"/drive_c/users/*/Temp/*
    WINEPREFIX="$1" wineserver -p </dev/null >/dev/null 2>&1 || true
    ctest --preset "$2" -j "$3"' "build-$1/wine-run" "$prefix" "$1" "$(nproc)" || status=$?
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  return $status
}
