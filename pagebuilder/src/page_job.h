#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job_env.h"
#include "job_settings.h"

namespace pellatt {

struct JobOutcome {
  int recordings = 0;     // recordings taken up
  int pages_written = 0;
  int thumbs_due = 0;      // thumbnail files the schedule asked for
  int thumbs_present = 0;  // of those, the files there when the page was written
};

// The job of the "make captions and thumbnails" button, for one recording or
// a continuous run of them, apart from any window.
class PageJob {
 public:
  PageJob(const SettingsSource& settings, ProcessStarter& starter, Clock& clock, JobUi& ui);

  // Runs the job from the file the user chose (a .ts, or its .sub). Throws
  // JobError when a conversion or a file operation ends the job.
  JobOutcome run(const std::string& chosen_file);

  // Asks the running job to stop after its current step (read in the waits
  // for the recording and the analyser, after each thumbnail, in the wait for
  // the thumbnail runs and after the page).
  void abort() { abort_flag_ = true; }

 private:
  bool process_recording();  // true when the job is to stop (aborted)
  bool wait_until_written(std::int64_t& size);  // false when aborted
  bool finished(std::int64_t before, std::int64_t size);
  bool make_captions();  // false when this recording gets no page
  void wait_for_analyser(int handle);
  void make_thumbnails(std::int64_t size, int position);
  void wait_for_runs(const std::string& last, const std::vector<int>& handles, int poll_ms);
  int start(const std::string& program, const std::vector<std::string>& args);
  bool stop_aborted();
  void log_now(const std::string& text);

  const SettingsSource& settings_;
  ProcessStarter& starter_;
  Clock& clock_;
  JobUi& ui_;

  std::string ts_path_;
  std::string base_path_;
  int start_minutes_ = 0;
  int end_sec_ = 0;
  bool abort_flag_ = false;
  JobOutcome outcome_;
};

// Local date and time as the log prefixes it: "2008/12/06 14:30:02".
std::string format_log_time(std::time_t when);

}  // namespace pellatt
