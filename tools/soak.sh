#!/bin/sh
# The long soak of the recorder: 25 broadcast hours (a full retention day and
# more) at speed 144, about eleven minutes. Builds brannock first.
#   tools/soak.sh [BUILD_DIR] [SEED] [more soak.py options, e.g. --keep]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seed=${2:-7}
[ $# -gt 2 ] && shift 2 || set --
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target brannock
exec python3 "$root/tests/soak/soak.py" --brannock "$build/bin/brannock" \
  --work "$build/soak_long" --hours 25 --speed 144 --seed "$seed" "$@"
