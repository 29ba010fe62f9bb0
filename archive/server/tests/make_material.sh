#!/usr/bin/env bash
# Test recordings for the archive's server and browser tests, made by the
# suite's own programs: 13 minutes of ひばりテレビ (picture, sound, captions)
# cut into two recordings of UHF 27 at the ten-minute mark, as the recorder
# cuts them, and 3 minutes of みなとテレビ (UHF 22) without picture; skerrow
# then writes their captions and programme listings. Two minutes of
# ひばりテレビ at 18:20 (after a gap, as when a tuner dropped out) makes the
# programme of 18:00 run through a third recording: OUT_DIR/programme/. The synthesised streams
# are kept and used again while the synthesiser and this script stay the same.
#   make_material.sh BIN_DIR OUT_DIR      -> OUT_DIR/rec/261207/..., OUT_DIR/programme/261207/...,
#                                            OUT_DIR/ch27.truth.json
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scenarios=$here/../../../simulator/scenarios
bin=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
out=$(cd "$out" && pwd)

stream=$out/ch27.ts
if ! [ "$stream" -nt "$bin/oneseg-synth" ] || ! [ "$stream" -nt "${BASH_SOURCE[0]}" ] || ! [ -f "$out/ch27.truth.json" ] || ! [ -f "$out/ch27_1820.ts" ]; then
  "$bin/oneseg-synth" "$scenarios/hibari_ch27_day.json" -o "$stream" --start 2026-12-07T18:00:00 --duration 00:13:00 --picture >/dev/null
  "$bin/oneseg-synth" "$scenarios/minato_ch22_day.json" -o "$out/ch22.ts" --start 2026-12-07T18:00:00 --duration 00:03:00 --no-picture >/dev/null
  "$bin/oneseg-synth" "$scenarios/hibari_ch27_day.json" -o "$out/ch27_1820.ts" --start 2026-12-07T18:20:00 --duration 00:02:10 --picture >/dev/null
fi

rm -rf "$out/rec"
day=$out/rec/261207
mkdir -p "$day"
# The cut at 600 of the 780 seconds, on a packet boundary.
packets=$(( $(stat -c %s "$stream") / 188 ))
first=$(( packets * 600 / 780 * 188 ))
head -c "$first" "$stream" > "$day/261207180_Ch27.ts"
tail -c +$((first + 1)) "$stream" > "$day/261207181_Ch27.ts"
cp "$out/ch22.ts" "$day/261207180_Ch22.ts"
rm -rf "$out/programme"
mkdir -p "$out/programme/261207"
cp "$out/ch27_1820.ts" "$out/programme/261207/261207182_Ch27.ts"
(cd "$out" && ONESEG_TIME_SCALE=0.01 "$bin/skerrow" "$out/rec" "$out/programme" >/dev/null 2>&1)
for name in rec/261207/261207180_Ch27 rec/261207/261207181_Ch27 rec/261207/261207180_Ch22 programme/261207/261207182_Ch27; do
  [ -f "$out/$name.sub" ] || { echo "make_material: skerrow wrote no $name.sub" >&2; exit 1; }
done
