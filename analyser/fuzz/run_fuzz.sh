#!/bin/sh
# Builds the analyser fuzz target with clang (whatever compiler the main build
# uses) and runs it for a bounded number of inputs over the seed streams.
# Usage: run_fuzz.sh OUTPUT_DIR SEED_DIR RUNS
# OUTPUT_DIR holds sources.txt and includes.txt (one path a line, written by CMake).
set -eu
out=$1 seeds=$2 runs=$3
sources_file="$out/sources.txt"
includes=$(tr '\n' ' ' < "$out/includes.txt")
command -v clang++ >/dev/null 2>&1 || { echo "clang++ not found: fuzz run skipped"; exit 77; }
mkdir -p "$out/corpus"
binary="$out/analyser_fuzz"
sources=$(tr '\n' ' ' < "$sources_file")
headers=""
for dir in $includes; do headers="$headers $(ls "$dir"/*.h 2>/dev/null | tr '\n' ' ')"; done
stale=no
[ -x "$binary" ] || stale=yes
if [ $stale = no ]; then
  for f in $sources $headers "$sources_file"; do
    if [ "$f" -nt "$binary" ]; then stale=yes; break; fi
  done
fi
if [ $stale = yes ]; then
  flags=""
  for dir in $includes; do flags="$flags -I$dir"; done
  echo "compiling $binary"
  # shellcheck disable=SC2086
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    $flags $sources -o "$binary.tmp"
  mv "$binary.tmp" "$binary"
fi
exec "$binary" -runs="$runs" -seed=1 -max_len=8192 -max_total_time=120 "$out/corpus" "$seeds"
