#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite under Wine; exits with ctest's status.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/cmake/setup.sh"
build="${CNODE_BUILD:-$root/build}"
# A test process that ends without a word is named with its status (cmake/wine-run.sh).
export CNODE_REPORT_ENDS=1
exec ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"
