#!/usr/bin/env bash
# check_packages.sh BUILD_DIR SCRATCH SOURCE_DIR: see CMakeLists.txt beside it.
set -euo pipefail
build=$1 scratch=$2 source=$3
rm -rf "$scratch" && mkdir -p "$scratch/tree"
cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" ||
  { cat "$scratch/cpack.log"; exit 1; }
deb() { echo "$scratch"/"$1"_*.deb; }

# PACKAGE PATH...: each path is in the package; a path after '!' is not.
holds() {
  local package=$1 listing want=yes
  listing=$(dpkg-deb -c "$(deb "$package")" | awk '{print $6}')
  for path in "${@:2}"; do
    if [ "$path" = '!' ]; then want=no; continue; fi
    if grep -qx "./$path" <<<"$listing"; then found=yes; else found=no; fi
    [ $found = $want ] || { echo "$package: $path: expected present=$want" >&2; exit 1; }
  done
}
lib=usr/lib
for p in libqcsdk0 libqcsdk-dev qcsdk-tools; do holds $p usr/share/doc/$p/copyright; done
holds libqcsdk0 $lib/libqcsdk.so.0 $lib/libqcsdk.so.0.1.0 $lib/libqvc.so $lib/libqp.so \
  $lib/libqvsp.so.0 $lib/liboctc.so.1 ! $lib/libqcsdk.so usr/include/qcsdk/qcsdk.h
holds libqcsdk-dev usr/include/qcsdk/qcsdk.h usr/include/qcsdk/qcsdk_grpc.h $lib/libqcsdk.so \
  $lib/pkgconfig/qcsdk.pc $lib/cmake/qcsdk/qcsdkConfig.cmake ! $lib/libqcsdk.so.0.1.0
holds qcsdk-tools usr/bin/qcview usr/bin/qcctl usr/bin/qcsdk-vdevice ! $lib/libqcsdk.so.0
dpkg-deb -f "$(deb qcsdk-tools)" Depends | grep -q "libqcsdk0 (= " ||
  { echo "qcsdk-tools does not depend on libqcsdk0" >&2; exit 1; }

lintian --fail-on error "$scratch"/*.deb

# A host built against the extracted packages only, as the README says.
for p in libqcsdk0 libqcsdk-dev qcsdk-tools; do dpkg-deb -x "$(deb $p)" "$scratch/tree"; done
export PKG_CONFIG_SYSROOT_DIR=$scratch/tree PKG_CONFIG_LIBDIR=$scratch/tree/$lib/pkgconfig
read -ra flags <<<"$(pkg-config --cflags --libs qcsdk)"
cc -o "$scratch/rpc_search" "$source/examples/rpc_search.c" "${flags[@]}" \
  -Wl,-rpath,"$(pkg-config --variable=libdir qcsdk)" -lpthread
env -i "$source/tests/support/with_simulator.sh" "$scratch/tree/usr/bin/qcsdk-vdevice" \
  "--search-port 6666 --oct-search-port 29999 --device number=PK@PID@" \
  "$scratch/rpc_search" 127.0.0.1 @NXL@ @NUMBER@
