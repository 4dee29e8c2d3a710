#!/usr/bin/env bash
# Sets up, builds what a run needs (the module, the stand-ins, cnode-run) and
# runs the node in the host program cnode-run under Wine.
#   ./run.sh [cnode-run flags]     e.g. ./run.sh --json --size 14
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${CNODE_BUILD:-$root/build}"
# A Windows command line holds at most 32767 characters; Wine would refuse to
# start a longer one without a word. Counted as Windows quotes it (each
# argument in quotes, a blank between), with the program's path in front.
length=$(( ${#build} + 30 ))
for arg in "$@"; do length=$(( length + ${#arg} + 3 )); done
if [ "$length" -gt 32767 ]; then
  echo "cnode-run: the arguments make a command line of about $length characters; Windows takes at most 32767" >&2
  echo "(pass long texts in a --batch line on standard input instead)" >&2
  exit 2
fi
"$root/cmake/setup.sh" cnode-run >/dev/null
exec "$root/cmake/wine-run.sh" "$build/bin/cnode-run.exe" "$@"
