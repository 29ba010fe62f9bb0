#!/usr/bin/env bash
# Writes one UTF-8 index page over a recording folder: for every station
# (channel) its recordings in time order, the programmes of each recording
# on the air while it was recorded (from the analyser's .eit listing, EUC-JP)
# and links to the recording, its caption file and its page.
#   make_index.sh RECORDING_FOLDER INDEX.html
# Needs only bash, coreutils and iconv.
set -euo pipefail

if [ $# -ne 2 ] || [ ! -d "$1" ]; then
  echo "usage: make_index.sh RECORDING_FOLDER INDEX.html" >&2
  exit 2
fi
rec_folder=$(cd "$1" && pwd)
index=$2
index_dir=$(cd "$(dirname "$index")" && pwd)

escape() {
  local s=$1
  s=${s//&/&amp;}
  s=${s//</&lt;}
  s=${s//>/&gt;}
  s=${s//\"/&quot;}
  printf '%s' "$s"
}

# The analyser's text files as UTF-8 lines without their CR.
utf8_lines() { iconv -f EUC-JP -t UTF-8 "$1" 2>/dev/null | tr -d '\r'; }

# "261207060_Ch27" -> "2026/12/07 06:00"
recording_start() {
  local b=$1
  printf '20%s/%s/%s %s:%s0' "${b:0:2}" "${b:2:2}" "${b:4:2}" "${b:6:2}" "${b:8:1}"
}

link() {  # link TARGET TEXT: a relative link, or the plain text when TARGET is missing
  if [ -e "$1" ]; then
    printf '<a href="%s">%s</a>' "$(escape "$(realpath --relative-to="$index_dir" "$1")")" "$2"
  else
    printf '<span class="missing">%s</span>' "$2"
  fi
}

# The station name of a channel: the provider name in the first listing that has one.
station_name() {
  local channel=$1 eit line
  for eit in "${recordings[@]}"; do
    [[ $eit == *"_Ch$channel.ts" ]] || continue
    eit=${eit%.ts}.eit
    [ -f "$eit" ] || continue
    line=$(utf8_lines "$eit" | grep -m1 '^ProviderName: ' || true)
    if [ -n "$line" ]; then
      printf '%s' "${line#ProviderName: }"
      return
    fi
  done
}

# Minutes since 2000-01-01 (months of 31 days: good for ordering and overlap
# tests only) of "yyyy/m/d hh:mm..." as the listing writes start times.
minute_key() {
  local date=${1%% *} time=${1#* } y m d
  IFS=/ read -r y m d <<< "$date"
  echo $(( ((10#$y - 2000) * 12 * 31 + (10#$m - 1) * 31 + 10#$d - 1) * 1440 + 10#${time:0:2} * 60 + 10#${time:3:2} ))
}

# The programmes of one .eit listing that are on the air during the ten
# minutes from minute key $2, as list items in time order.
programme_items() {
  local from=$2 start="" duration="" name="" desc="" genre="" line begins ends
  while IFS= read -r line; do
    case $line in
      "StartTime: "*) start=${line#StartTime: } ;;
      "Duration: "*) duration=${line#Duration: } ;;
      "EventName: "*) name=${line#EventName: } ;;
      "EventDesc: "*) desc=${line#EventDesc: } ;;
      "ContentNibble: "*) genre=${line#ContentNibble: } ;;
      "-")
        if [[ $start =~ ^[0-9]+/[0-9]+/[0-9]+\ [0-9][0-9]:[0-9][0-9] ]] && [[ $duration =~ ^[0-9][0-9]:[0-9][0-9] ]]; then
          begins=$(minute_key "$start")
          ends=$((begins + 10#${duration:0:2} * 60 + 10#${duration:3:2}))
          if [ "$begins" -lt $((from + 10)) ] && [ "$ends" -gt "$from" ]; then
            printf '%s\t<li><span class="time">%s (%s)</span> <b>%s</b> %s <span class="genre">%s</span></li>\n' \
              "$begins" "$(escape "$start")" "$(escape "$duration")" "$(escape "$name")" "$(escape "$desc")" \
              "$(escape "$genre")"
          fi
        fi
        start="" duration="" name="" desc="" genre=""
        ;;
    esac
  done < <(utf8_lines "$1") | sort -n -s -k1,1 | cut -f2-
}

mapfile -t recordings < <(find "$rec_folder" -name '*.ts' -type f | LC_ALL=C sort)
mapfile -t channels < <(for r in "${recordings[@]}"; do b=${r##*/}; b=${b%.ts}; echo "${b#*_Ch}"; done | sort -n -u)

{
  cat <<'HEAD'
<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="UTF-8">
<title>ワンセグ録画一覧</title>
<style>
body { font-family: "IPAGothic", "Noto Sans CJK JP", sans-serif; margin: 1.5em; }
table { border-collapse: collapse; margin-bottom: 2em; }
th, td { border: 1px solid #999; padding: 0.3em 0.6em; vertical-align: top; text-align: left; }
ul { margin: 0; padding-left: 1.2em; }
.time, .genre { color: #555; }
.missing { color: #aaa; }
</style>
</head>
<body>
<h1>ワンセグ録画一覧</h1>
HEAD
  printf '<p>録画フォルダ：%s</p>\n' "$(escape "$rec_folder")"
  if [ ${#recordings[@]} -eq 0 ]; then
    printf '<p>録画がありません。</p>\n'
  fi
  for channel in "${channels[@]}"; do
    station=$(station_name "$channel")
    printf '<h2 id="ch%s">%s（%s ch）</h2>\n' "$channel" "$(escape "${station:-局名不明}")" "$channel"
    printf '<table>\n<tr><th>録画開始</th><th>ページ</th><th>番組</th><th>字幕数</th><th>ファイル</th></tr>\n'
    for ts in "${recordings[@]}"; do
      [[ $ts == *"_Ch$channel.ts" ]] || continue
      base=${ts%.ts}
      name=${base##*/}
      captions="-"
      [ -f "$base.sub" ] && captions=$(tr -cd '\n' < "$base.sub" | wc -c)
      printf '<tr><td>%s</td><td>%s</td><td><ul>\n' "$(recording_start "$name")" "$(link "$base.html" "$(escape "$name")")"
      if [ -f "$base.eit" ]; then
        programme_items "$base.eit" "$(minute_key "$(recording_start "$name")")"
      fi
      printf '</ul></td><td>%s</td><td>%s %s</td></tr>\n' "$captions" "$(link "$ts" ts)" "$(link "$base.sub" sub)"
    done
    printf '</table>\n'
  done
  printf '</body>\n</html>\n'
} > "$index"
