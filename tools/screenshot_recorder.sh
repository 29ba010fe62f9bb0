#!/bin/sh
# Screenshots of the recorder's windows under a virtual X display: the main
# window with two simulated tuners streaming, and the storage-days dialog.
#   tools/screenshot_recorder.sh [BUILD_DIR] [OUT_DIR]
# BUILD_DIR defaults to ./build (needs bin/brannock and bin/oneseg-synth);
# OUT_DIR defaults to ./screenshots. Writes OUT_DIR/main.png and OUT_DIR/days.png.
#
# When openbox, trayer and xdotool are installed it then also plays the
# notification area on a real X server: minimise, the panel going away and
# coming back, a click for the menu and a double-click to restore, and fails
# when the window or the icon is not where it should be.
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

for tool in openbox trayer xdotool xprop xwininfo Xvfb; do
  command -v "$tool" >/dev/null || { echo "tray check skipped: $tool is not installed"; exit 0; }
done

display=:$((90 + $$ % 9))
Xvfb "$display" -screen 0 800x600x24 >/dev/null 2>&1 &
pids=$!
trap 'kill $pids 2>/dev/null; rm -rf "$work"' EXIT
export DISPLAY="$display"
sleep 1
openbox >/dev/null 2>&1 &
pids="$pids $!"
panel() {
  trayer --edge bottom --align right --widthtype pixel --width 100 --heighttype pixel --height 24 >/dev/null 2>&1 &
  panel_pid=$!
  sleep 2
}
panel
XDG_RUNTIME_DIR="$work/runtime" "$build/bin/brannock" --simulate "$work/tuners.json" \
  --config-dir "$work/settings" 2>/dev/null &
recorder=$!
pids="$pids $recorder"
sleep 4
window=$(xdotool search --name '^Tollgarth$' | head -1)
icons() { xwininfo -root -tree | grep -c '"brannock": ("brannock" "brannock")  22x22' || true; }
wm_state() { xprop -id "$window" WM_STATE | sed -n 's/.*window state: //p'; }
failed=0
expect() {  # what, WM state (empty = withdrawn), icon count
  if [ "$(wm_state)" = "$2" ] && [ "$(icons)" = "$3" ]; then
    echo "tray check: $1: ok"
  else
    echo "tray check: $1: window state '$(wm_state)', $(icons) icon(s); expected '$2', $3"
    failed=1
  fi
}
expect "shown" Normal 0
xdotool windowminimize "$window"; sleep 2
expect "minimised into the panel" "" 1
kill "$panel_pid"; sleep 3
expect "panel gone: back on the taskbar" Iconic 0
panel; sleep 2
expect "panel back: into the panel again" "" 1
icon=$(xwininfo -root -tree | grep '"brannock": ("brannock" "brannock")  22x22' | grep -oE '0x[0-9a-f]+' | head -1)
eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove $((X + 5)) $((Y + 5)) click 1; sleep 1.5
if xwininfo -root -tree | grep -qE '"brannock": \("brannock" "brannock"\)  [0-9]+x4[0-9]'; then
  echo "tray check: a click opens the menu: ok"
else
  echo "tray check: a click opened no menu"; failed=1
fi
xdotool key Escape; sleep 0.5
xdotool mousemove $((X + 5)) $((Y + 5)) click --repeat 2 --delay 80 1; sleep 2
expect "double-click restores" Normal 0
kill "$panel_pid"
exit $failed
