#!/usr/bin/env bash
# Runs a Windows program under Wine with a prefix private to the build tree.
# The prefix is created once; concurrent callers (parallel ctest) wait on a lock
# instead of racing to create it.
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
WINE=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/.cnode-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.cnode-ready" ]; then
      "$WINE" wineboot -i >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -w || true
      touch "$WINEPREFIX/.cnode-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$WINE" "$exe" "$@"
