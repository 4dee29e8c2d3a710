#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite under Wine; exits with ctest's status.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/cmake/setup.sh"
build="${CNODE_BUILD:-$root/build}"
exec ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"
