#!/usr/bin/env bash
# Sets up, builds and runs the node in the host program cnode-run under Wine.
#   ./run.sh [cnode-run flags]     e.g. ./run.sh --json --size 14
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/cmake/setup.sh" >/dev/null
build="${CNODE_BUILD:-$root/build}"
exec "$root/cmake/wine-run.sh" "$build/bin/cnode-run.exe" "$@"
