#include "page_job.h"

#include <sys/stat.h>

#include "file_info.h"
#include "html_page.h"
#include "recording_name.h"
#include "thumb_commands.h"

namespace pellatt {

namespace {

constexpr double kBytesPerSecond = 52010.0;  // estimated size of one second of a recording
constexpr int kSizeWaitMs = 8000;
constexpr int kCaptionPollMs = 1000;
constexpr int kCaptionPolls = 30;
constexpr int kLastThumbPollMs = 1000;
constexpr int kFastPollMs = 100;  // the one-pass run is short; look more often
constexpr int kAnalyserPollMs = 100;  // it ends soon after its .sub is there

bool any_running(ProcessStarter& starter, const std::vector<int>& handles) {
  for (int handle : handles)
    if (handle >= 0 && starter.running(handle)) return true;
  return false;
}

// The recording after `ts_path` ("" when its name tells no start time).
std::string next_recording(const std::string& ts_path) {
  const std::string base = strip_ext(ts_path);
  try {
    return neighbour_base(base, start_minutes_of(file_name_of(base)), 10) + ".ts";
  } catch (const JobError&) {
    return "";
  }
}

void make_folder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0 && !file_exists(path))
    throw JobError("Unable to create directory \"" + path + "\"");
}

}  // namespace

std::string format_log_time(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
  return text;
}

PageJob::PageJob(const SettingsSource& settings, ProcessStarter& starter, Clock& clock, JobUi& ui)
    : settings_(settings), starter_(starter), clock_(clock), ui_(ui) {}

void PageJob::log_now(const std::string& text) { ui_.log(format_log_time(clock_.now()) + text); }

int PageJob::start(const std::string& program, const std::vector<std::string>& args) {
  const int handle = starter_.start(program, args, settings_.current().show_consoles);
  if (handle < 0) log_now(program + "を起動できません");  // cannot start the program
  return handle;
}

JobOutcome PageJob::run(const std::string& chosen_file) {
  ts_path_ = change_ext(chosen_file, ".ts");
  const std::string first_ts = ts_path_;
  abort_flag_ = false;
  outcome_ = {};
  log_now(ts_path_ + "が最初のTSファイル");
  for (;;) {
    if (process_recording() || !settings_.current().cont) break;
    const std::string next = neighbour_base(base_path_, start_minutes_, 10) + ".ts";
    if (!file_exists(next)) break;
    ts_path_ = next;
  }
  if (ui_.ask("作成完了しました。結果をブラウザで表示しますか？"))
    ui_.open_document(change_ext(settings_.current().cont ? first_ts : ts_path_, ".html"));
  return outcome_;
}

bool PageJob::process_recording() {
  ++outcome_.recordings;
  check_settings(settings_.current());
  std::int64_t size = file_size(ts_path_);
  log_now(ts_path_ + "の処理開始");
  if (!settings_.current().html_only) {
    if (settings_.current().cont && !wait_until_written(size)) return stop_aborted();
    log_now(ts_path_ + "の作成終わり");
  }
  base_path_ = strip_ext(ts_path_);
  start_minutes_ = start_minutes_of(file_name_of(base_path_));
  if (!settings_.current().html_only) {
    if (!make_captions()) return false;
    if (abort_flag_) return stop_aborted();
  }
  end_sec_ = to_int(settings_.current().to);
  const int position = to_int(settings_.current().from);
  if (!settings_.current().html_only) make_thumbnails(size, position);

  PageInput page{ts_path_, base_path_, start_minutes_, end_sec_, creation_time(ts_path_), settings_.current()};
  htmlmak(page);
  ++outcome_.pages_written;
  log_now("合成終了");
  return abort_flag_ ? stop_aborted() : false;
}

bool PageJob::stop_aborted() {
  log_now("ループ抜けて中止します");
  return true;
}

// Waits until the recorder is done with the recording. A drop-out of the
// signal pauses its growth for as long as it lasts, so a size that stays the
// same says nothing until the recording's ten minutes are over.
bool PageJob::wait_until_written(std::int64_t& size) {
  ui_.status(ts_path_ + "のサイズを調べています");
  std::int64_t before = 0;
  do {
    before = size;
    clock_.sleep_ms(kSizeWaitMs);
    size = file_size(ts_path_);
    ui_.process_events();
    ui_.status(ts_path_ + "の作成を待っています");
    if (abort_flag_) return false;
  } while (!finished(before, size));
  return true;
}

// Finished: the recorder has gone on to the next recording of the channel, or
// the recording's ten minutes of broadcast time are over and it no longer grows.
bool PageJob::finished(std::int64_t before, std::int64_t size) {
  const std::string next = next_recording(ts_path_);
  if (!next.empty() && file_exists(next)) return true;
  const std::time_t end = broadcast_period_end(file_name_of(strip_ext(ts_path_)));
  return before == size && (end < 0 || clock_.now() >= end);
}

bool PageJob::make_captions() {
  log_now("字幕作成開始");
  const std::string sub = base_path_ + ".sub";
  bool found = file_exists(sub);
  int analyser = -1;
  if (!found) {
    ui_.log(sub + "作成します");
    analyser = start("skerrow", {ts_path_});
  }
  for (int poll = 0; !found && analyser >= 0 && poll < kCaptionPolls; ++poll) {
    clock_.sleep_ms(kCaptionPollMs);
    found = file_exists(sub);
  }
  if (!found) {
    ui_.log(sub + "字幕作成タイムアウト（30秒）");
    return false;
  }
  wait_for_analyser(analyser);
  if (abort_flag_) return true;
  log_now("字幕作成終了");
  if (settings_.current().sub_dialog) {
    ui_.open_document(sub);
    if (!ui_.ask("この字幕でサムネイル作成しますか？")) return false;
  }
  log_now("サムネイル作成開始");
  return true;
}

// The .sub is complete only when the analyser that writes it has ended.
void PageJob::wait_for_analyser(int handle) {
  while (handle >= 0 && starter_.running(handle)) {
    clock_.sleep_ms(kAnalyserPollMs);
    ui_.process_events();
    if (abort_flag_) return;
  }
}

void PageJob::make_thumbnails(std::int64_t size, int position) {
  const std::string folder = base_path_ + "thm";
  // ffmpeg would write (and -y overwrite) wherever a link leads.
  if (is_link(folder)) {
    log_now(folder + "はリンクなのでサムネイルを作りません");  // is a link: no thumbnails
    return;
  }
  make_folder(folder);
  const bool fast = settings_.current().fast_thumbnails;
  std::vector<std::string> computed;
  std::vector<ThumbTarget> pending;  // fast way: made together after the schedule
  std::vector<int> handles;
  while (position < end_sec_) {
    const JobSettings s = settings_.current();
    const int interval = to_int(s.interval);
    if (interval < 1) throw JobError("'" + s.interval + "' is not a valid thumbnail interval");
    position += interval;
    if (size / kBytesPerSecond < position) break;
    const std::string path = folder + "/" + std::to_string(position) + s.ext;
    computed.push_back(path);
    if (!entry_exists(path)) {
      if (fast) {
        pending.push_back({position, path});
      } else {
        handles.push_back(start("ffmpeg", thumbnail_args(ts_path_, position, path)));
        clock_.sleep_ms(position * to_int(s.wait_factor));
        ui_.status(std::to_string(position) + "秒目のサムネイル作成中");
        ui_.process_events();
      }
    }
    if (abort_flag_) break;
  }
  for (const auto& run : fast_thumbnail_runs(ts_path_, pending)) handles.push_back(start("ffmpeg", run));
  ui_.status("サムネイル作成処理の発行が終わりました");
  log_now("サムネイル作成発行終了");
  const std::string last = computed.empty() ? std::string() : computed.back();
  if (!last.empty()) wait_for_runs(last, handles, fast ? kFastPollMs : kLastThumbPollMs);
  log_now("サムネイル作成終了");
  ui_.status("最後のサムネイルが作成されました" + last);
  outcome_.thumbs_due += static_cast<int>(computed.size());
  for (const auto& path : computed) outcome_.thumbs_present += file_exists(path) ? 1 : 0;
}

// Waits until every thumbnail run of the recording has ended, not only the one
// of the last position: refilled gaps are written by earlier runs, and the
// page must not be written before its pictures. A last picture that no run
// made (a position at or past the end of the recording, a failed ffmpeg) is logged.
void PageJob::wait_for_runs(const std::string& last, const std::vector<int>& handles, int poll_ms) {
  while (any_running(starter_, handles)) {
    clock_.sleep_ms(poll_ms);
    ui_.process_events();
    if (abort_flag_) return;
  }
  if (!file_exists(last)) log_now(last + "は作成されませんでした");  // was not made
}

}  // namespace pellatt
