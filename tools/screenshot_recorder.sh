#!/bin/sh
# Screenshots of the recorder's windows under a virtual X display: the main
# window with two simulated tuners streaming, and the storage-days dialog.
#   tools/screenshot_recorder.sh [BUILD_DIR] [OUT_DIR]
# BUILD_DIR defaults to ./build (needs bin/brannock and bin/oneseg-synth);
# OUT_DIR defaults to ./screenshots. Writes OUT_DIR/main.png and OUT_DIR/days.png.
set -eu

build=$(cd "${1:-build}" && pwd)
out=${2:-screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One short broadcast, played on two channels by two simulated tuners.
cat > "$work/scenario.json" <<'JSON'
{
  "network": {"network_id": 32736, "name": "試験"},
  "transport_stream_id": 32736,
  "channel": 27,
  "service": {"service_id": 1, "station_name": "試験局", "remote_control_key_id": 1},
  "start": "2008-12-06T14:30:00",
  "duration": "00:05:00",
  "events": [{"event_id": 1, "start": "2008-12-06T14:30:00", "duration": "00:05:00",
              "name": "ニュース", "captions": []}],
  "captions": [],
  "faults": []
}
JSON
"$build/bin/oneseg-synth" "$work/scenario.json" -o "$work/station.ts" --no-picture >/dev/null

cat > "$work/tuners.json" <<'JSON'
{
  "stations": [
    {"channel": 27, "stream": "station.ts"},
    {"channel": 35, "stream": "station.ts"}
  ],
  "devices": [
    {"model": "A", "serial": "A0001"},
    {"model": "Mini", "serial": "M0001"}
  ]
}
JSON

mkdir -p "$work/settings" "$work/recordings"
cat > "$work/settings/OneSeg_Config.ini" <<INI
[Config]
TSFolder=$work/recordings
RecDays=7
[TunerA0001]
Channel=27
FriendlyName=居間のチューナ
[TunerM0001]
Channel=35
INI
cat > "$work/settings/OneSeg_Channels.ini" <<'INI'
[stationID]
ＮＨＫ総合=27
試験放送=35
INI

# A lock of its own, so that a recorder already running elsewhere does not
# turn this one away.
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" BRANNOCK_SCREENSHOT_DIR="$out" BRANNOCK_SCREENSHOT_AFTER_MS=6000 \
  xvfb-run -a -s "-screen 0 800x600x24" \
  "$build/bin/brannock" --simulate "$work/tuners.json" --config-dir "$work/settings"

ls "$out/main.png" "$out/days.png"
