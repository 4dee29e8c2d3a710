#!/usr/bin/env bash
# Installs what the build needs (only what is missing), then configures and
# builds into build/: the targets named as arguments (with what they depend
# on), or everything. Run by test.sh (everything) and run.sh (cnode-run).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CNODE_BUILD:-$root/build}"

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
command -v flock >/dev/null || need+=(util-linux)
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
fi
if [ $# -gt 0 ]; then
  cmake --build "$build" --target "$@"
else
  cmake --build "$build"
fi
