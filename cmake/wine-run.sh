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
exec /usr/lib/wine/wine64 "$exe" "$@"
