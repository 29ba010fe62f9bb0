#!/usr/bin/env bash
# The whole road of a recording in one go, on simulated tuners:
#   1. oneseg-synth makes 39 minutes of two stations (picture, sound,
#      captions, programme guide) from the day scenarios in simulator/scenarios;
#      the streams are kept in BUILD_DIR/demo-streams for the next run;
#   2. brannock --headless records them with simulated tuners (two USBXpress
#      models on two channels and the driver tuner) at 30 times broadcast speed,
#      so each station gets several ten-minute recordings in its day folder;
#   3. pellatt --batch, in continuous mode from each station's first recording,
#      starts skerrow (captions and programme listing) and ffmpeg (thumbnails)
#      and writes one page per recording;
#   4. oneseg-archive indexes every caption and programme (a search for
#      "天気" saved before the recording makes alerts as it is said), and its
#      server shows the search page over the recordings (opened in the browser with
#      a display; kept running until Ctrl-C when started from a terminal).
# The programs' fixed waits are shortened (ONESEG_TIME_SCALE): the tuners'
# boot waits would otherwise let the accelerated broadcast run ahead, and the
# page builder's and analyser's 8-second waits for a finished recording would
# make up most of the run. --real-waits keeps the page builder's and the
# analyser's waits as they are.
# usage: demo.sh BUILD_DIR [--out DIR] [--speed N] [--slow-thumbnails] [--real-waits] [--no-open] [--port N] [--no-serve]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: demo.sh BUILD_DIR [--out DIR] [--speed N] [--slow-thumbnails] [--real-waits] [--no-open] [--port N] [--no-serve]}" && pwd)
shift
bin=$build/bin
out=$build/demo
speed=30
thumbnails=--fast-thumbnails
page_waits=0.1
open_index=1
port=8470
serve=1
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    --speed) speed=${2:?--speed needs a number}; shift 2 ;;
    --slow-thumbnails) thumbnails=""; shift ;;
    --real-waits) page_waits=1; shift ;;
    --no-open) open_index=0; shift ;;
    --port) port=${2:?--port needs a number}; shift 2 ;;
    --no-serve) serve=0; shift ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
  esac
done

scenarios=("$here/simulator/scenarios/hibari_ch27_day.json" "$here/simulator/scenarios/minato_ch22_day.json")
channels=(27 22)
window=(--start 2026-12-07T05:52:00 --duration 00:39:00)  # the stretch of the scenarios' day played
broadcast_start="2026-12-07 05:52:00"  # the window's start; the tuners boot meanwhile
stop_at="06:29:[3-5]"                  # broadcast time to stop at, before the streams' end (06:31)
minimum=6240000                        # the analyser's smallest recording

for program in oneseg-synth brannock skerrow pellatt oneseg-archive; do
  [ -x "$bin/$program" ] || { echo "demo: $bin/$program is missing; build first (./oneseg build)" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "demo: ffmpeg is not installed (./oneseg setup)" >&2; exit 1; }

began=$SECONDS
step_began=$SECONDS
step() {
  printf '[demo %3ds] %s\n' "$((SECONDS - began))" "$1"
  step_began=$SECONDS
}
took() { printf '[demo %3ds]   ... %d s\n' "$((SECONDS - began))" "$((SECONDS - step_began))"; }

# Only a folder of an earlier demo (or an empty one) is cleaned.
if [ -d "$out" ] && [ -n "$(ls -A "$out")" ] && [ ! -f "$out/sim.json" ]; then
  echo "demo: $out is not empty and holds no earlier demo; choose another --out" >&2
  exit 2
fi
rm -rf "$out"
mkdir -p "$out/streams" "$out/cfg" "$out/run" "$out/rec"
out=$(cd "$out" && pwd)

# 1. Streams, both at once (ffmpeg encodes picture and sound). A stream made
# earlier from the same scenario by the same synthesiser is used again.
cache=$build/demo-streams
mkdir -p "$cache"
step "synthesising ${#scenarios[@]} stations, 39 minutes each, with picture and sound"
pids=()
for i in "${!scenarios[@]}"; do
  stream=$cache/ch${channels[$i]}.ts
  if [ "$stream" -nt "${scenarios[$i]}" ] && [ "$stream" -nt "$bin/oneseg-synth" ] && [ "$stream" -nt "$0" ] &&
     [ -f "${stream%.ts}.truth.json" ]; then
    echo "  ch${channels[$i]}: made earlier, in $cache"
    continue
  fi
  "$bin/oneseg-synth" "${scenarios[$i]}" -o "$stream" "${window[@]}" --picture > "$cache/ch${channels[$i]}.log" 2>&1 &
  pids+=("$!:${channels[$i]}")
done
for p in "${pids[@]}"; do
  wait "${p%%:*}" || { cat "$cache/ch${p#*:}.log" >&2; echo "demo: synthesis failed" >&2; exit 1; }
done
for channel in "${channels[@]}"; do
  ln -s "$cache/ch$channel.ts" "$out/streams/ch$channel.ts"
  cp "$cache/ch$channel.truth.json" "$out/streams/"
done
took

# 2. Recording. The settings name each simulated tuner by its serial number.
cat > "$out/cfg/OneSeg_Config.ini" <<EOF
[Config]
TSFolder=$out/rec
RecDays=3650
[TunerA0001]
Channel=${channels[0]}
FriendlyName=USBXpress A
[TunerM0001]
Channel=${channels[1]}
FriendlyName=USBXpress Mini
[Tuner__._ISDBT]
Channel=${channels[0]}
FriendlyName=ISDBT driver
EOF
cat > "$out/cfg/OneSeg_Channels.ini" <<EOF
[stationID]
ひばりテレビ=${channels[0]}
みなとテレビ=${channels[1]}
EOF
cat > "$out/sim.json" <<EOF
{"speed": $speed, "start": "$broadcast_start",
 "stations": [{"channel": ${channels[0]}, "stream": "streams/ch${channels[0]}.ts", "bitrate": 416000},
              {"channel": ${channels[1]}, "stream": "streams/ch${channels[1]}.ts", "bitrate": 416000}],
 "devices": [{"model": "A", "serial": "A0001", "queue_bytes": 67108864},
             {"model": "Mini", "serial": "M0001", "queue_bytes": 67108864},
             {"model": "driver"}]}
EOF

# A saved search, as a user who watches for a word would have made it:
# every line that says it makes an alert (/alerts).
db=$out/archive/archive.sqlite
"$bin/oneseg-archive" watch add 天気 --name "天気の話" --db "$db" > /dev/null

step "recording with brannock --headless on simulated tuners at ${speed}x broadcast speed"
# Our own lock folder, so a recorder running on this desktop does not stop this one.
XDG_RUNTIME_DIR=$out/run ONESEG_TIME_SCALE=0.01 "$bin/brannock" --headless --simulate "$out/sim.json" --config-dir "$out/cfg" \
  > "$out/brannock.log" 2>&1 &
recorder=$!
stop_recorder() { kill -TERM "$recorder" 2>/dev/null || true; wait "$recorder" 2>/dev/null || true; }
trap stop_recorder EXIT
limit=$((SECONDS + 2 * 2340 / speed + 60))
until grep -q "A0001：放送受信：26/12/07 $stop_at" "$out/brannock.log" &&
      grep -q "M0001：放送受信：26/12/07 $stop_at" "$out/brannock.log"; do
  if ! kill -0 "$recorder" 2>/dev/null; then
    cat "$out/brannock.log" >&2
    echo "demo: the recorder ended early" >&2
    exit 1
  fi
  if [ $SECONDS -gt $limit ]; then
    tail -20 "$out/brannock.log" >&2
    echo "demo: the recorder did not reach broadcast time $stop_at" >&2
    exit 1
  fi
  sleep 0.2
done
kill -TERM "$recorder"
wait "$recorder" || { echo "demo: the recorder did not stop cleanly" >&2; exit 1; }
trap - EXIT
took
find "$out/rec" -name '*.ts' | LC_ALL=C sort | sed "s|^$out/|  |"

# 3. Pages, one continuous job per station, both at once.
step "building pages with pellatt --batch --continue ${thumbnails:-(one ffmpeg per thumbnail)}"
pids=()
for channel in "${channels[@]}"; do
  # The first recording long enough for the analyser (the first one starts
  # whenever the tuner has booted).
  first=$(find "$out/rec" -name "*_Ch$channel.ts" -size +$((minimum - 1))c | LC_ALL=C sort | head -n 1)
  [ -n "$first" ] || { echo "demo: nothing was recorded on channel $channel" >&2; exit 1; }
  # The analyser keeps its scratch log in the working folder: keep it out of the recordings.
  (cd "$out" && ONESEG_TIME_SCALE=$page_waits "$bin/pellatt" --batch "$first" --continue $thumbnails) > "$out/pellatt_ch$channel.log" 2>&1 &
  pids+=($!)
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || {
    cat "$out/pellatt_ch${channels[$i]}.log" >&2
    echo "demo: pellatt failed on channel ${channels[$i]}" >&2
    exit 1
  }
done
took

# 4. The archive: every caption line and programme in the index, and its
# search page over the recordings.
step "indexing captions and programmes with oneseg-archive"
"$bin/oneseg-archive" index --root "$out/rec" --db "$db" | sed 's/^/  /'
pages=$(find "$out/rec" -name '*.html' | wc -l)
captions=$(cat "$out"/rec/*/*.sub | tr -cd '\n' | wc -c)
step "done in $((SECONDS - began)) s: $pages pages, $captions caption lines"
[ "$serve" = 1 ] || exit 0

# The server on the port asked for, or any free one when that is taken.
start_archive() {
  "$bin/oneseg-archive" serve --root "$out/rec" --db "$db" --listen "127.0.0.1:$1" > "$out/archive.log" 2>&1 &
  archive=$!
  for _ in $(seq 100); do
    address=$(grep -o 'http://[^ ]*' "$out/archive.log" | head -n 1 || true)
    [ -n "$address" ] && return 0
    kill -0 "$archive" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
start_archive "$port" || start_archive 0 || { cat "$out/archive.log" >&2; echo "demo: the archive did not start" >&2; exit 1; }
stop_archive() { kill -TERM "$archive" 2>/dev/null || true; wait "$archive" 2>/dev/null || true; }
trap stop_archive EXIT
echo
echo "Search page: $address   (e.g. ${address}search?q=%E5%A4%A9%E6%B0%97)"
echo "Alerts of the saved search \"天気\": ${address}alerts"
echo "  recordings: $out/rec; index: $db; log: $out/archive.log"
if [ "$open_index" = 1 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xdg-open >/dev/null; then
  xdg-open "$address" >/dev/null 2>&1 &
fi
if [ -t 0 ]; then
  echo "The archive runs until Ctrl-C."
  wait "$archive" || true
else
  echo "Not started from a terminal: the archive stops now. Again with:"
  echo "  $bin/oneseg-archive serve --root $out/rec --db $db"
fi
