#!/usr/bin/env bash
# Makes sure the build tree's private Wine prefix exists, creating it once;
# concurrent callers (parallel ctest) wait on a lock instead of racing.
#   cmake/wine-prefix.sh <prefix directory>
set -euo pipefail
prefix="$1"
if [ ! -f "$prefix/.cnode-ready" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/.cnode-ready" ]; then
      WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
        setarch "$(uname -m)" -R /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w || true
      touch "$prefix/.cnode-ready"
    fi
  ) 9>"$prefix.lock"
fi
