#!/usr/bin/env bash
# ctest entry of the browser test: installs puppeteer-core (npm ci, no browser
# download) into the build folder, indexes and serves the test recordings
# with the real oneseg-archive, and drives Debian's Chromium through the pages.
#   run_archive_test.sh BIN_DIR MATERIAL_DIR WORK_DIR [SCREENSHOT.png]
# ONESEG_BROWSER_SCRIPT names the script to run (default archive_test.mjs), so
# that each group of pages has its own ctest entry and work folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=$1 material=$2 work=$3 screenshot=${4:-}

for program in node npm ffmpeg /usr/bin/chromium; do
  command -v "$program" >/dev/null || { echo "browser test: $program is missing (./oneseg setup)" >&2; exit 1; }
done

# The client, installed from the committed lock file when it changed.
client=$work/client
mkdir -p "$client"
if ! cmp -s "$here/package-lock.json" "$client/package-lock.json" || [ ! -d "$client/node_modules/puppeteer-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$client/"
  PUPPETEER_SKIP_DOWNLOAD=1 npm ci --prefix "$client" --no-audit --no-fund >/dev/null
fi
script=${ONESEG_BROWSER_SCRIPT:-archive_test.mjs}
cp "$here"/*.mjs "$client/"

rm -rf "$work/db"
"$bin/oneseg-archive" index --root "$material/rec" --db "$work/db/archive.sqlite" >/dev/null
# A script may start a server of its own on the same database (a restart).
export ONESEG_MATERIAL=$material
export ONESEG_ARCHIVE_SERVE="$bin/oneseg-archive serve --root $material/rec --db $work/db/archive.sqlite"
$ONESEG_ARCHIVE_SERVE --listen 127.0.0.1:0 > "$work/serve.log" 2>&1 &
server=$!
trap 'kill -TERM $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q "http://" "$work/serve.log" && break
  kill -0 $server 2>/dev/null || { cat "$work/serve.log" >&2; exit 1; }
  sleep 0.1
done
base=$(grep -o 'http://[^/]*' "$work/serve.log" | head -n 1)
[ -n "$base" ] || { cat "$work/serve.log" >&2; exit 1; }
node "$client/$script" "$base" "$material/ch27.truth.json" $screenshot
