#!/usr/bin/env bash
# Runs a Windows program under Wine with a prefix private to the build tree
# (created once, see wine-prefix.sh).
set -euo pipefail
exe="$1"; shift
build_dir="${CNODE_BUILD_DIR:-}"
if [ -z "$build_dir" ]; then
  # The program lives in <build>/bin; the prefix sits beside it.
  build_dir="$(cd "$(dirname "$exe")/.." && pwd)"
fi
export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$build_dir/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
"$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINEPREFIX"
# Keep the wine server alive for a while after its last client: the packaged
# server exits the moment its last client does, and a program that starts in
# that moment loses its connection before it runs. Refused (and harmless) when
# a server is already running for the prefix.
/usr/lib/wine/wineserver64 -p10 >/dev/null 2>&1 || true
# Wine maps the system's shared data page at a fixed address (0x7ffe0000)
# inside a range its loader reserves, but the kernel starts the loader's heap
# at a random point up to 1 GiB above the loader (0x7d000000): about one
# start in two thousand found that range taken and ended before main ("failed
# to map the shared user data"), silently, or as a CreateProcess failing with
# ERROR_INTERNAL_ERROR inside a test. Without address randomisation the heap
# starts right after the loader; the processes Wine starts inherit the
# setting.
wine=(setarch "$(uname -m)" -R /usr/lib/wine/wine64)
if [ -z "${CNODE_REPORT_ENDS:-}" ]; then
  exec "${wine[@]}" "$exe" "$@"
fi
# The test runs set CNODE_REPORT_ENDS: a test program ends with 0 or with 1
# (gtest's report of a failure); any other status means the process ended
# without a word from the program, and Wine says nothing of it either
# (WINEDEBUG=-all), so its status and running time are printed.
start=$(date +%s%N)
status=0
"${wine[@]}" "$exe" "$@" || status=$?
if [ "$status" -gt 1 ]; then
  echo "wine-run: $(basename "$exe") ended with status $status after $(( ($(date +%s%N) - start) / 1000000 )) ms" >&2
fi
exit "$status"
