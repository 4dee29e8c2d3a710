#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite under Wine; exits with ctest's status.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/cmake/setup.sh"
build="${CNODE_BUILD:-$root/build}"
# One wine server for the whole run, kept alive between test processes: a
# client that starts while an idle server is shutting down loses its
# connection, which would fail a test for no fault of its own.
"$root/cmake/wine-prefix.sh" "$build/wineprefix"
WINEPREFIX="$build/wineprefix" /usr/lib/wine/wineserver -p30 2>/dev/null || true
exec ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --repeat until-pass:3 "$@"
