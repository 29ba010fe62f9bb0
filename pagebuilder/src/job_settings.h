#pragma once

#include <stdexcept>
#include <string>

namespace pellatt {

// Every setting of the main window, as the user sees it. Numeric fields stay
// text until a step uses them, so a change during a job takes effect at the
// next use and a bad value stops the job only when it is needed.
struct JobSettings {
  bool cont = true;            // cb_continue
  bool html_only = false;      // c_htmlmak
  std::string columns = "4";   // ComboBox2
  int one_column_layout = 0;   // ComboBox3 item
  bool thumb_top = true;       // b_thmtop
  bool ts_link = true;         // cb_tslink
  bool thumb_time = true;      // cb_timewrt
  bool caption_time = false;   // cb_subtime
  std::string ext = ".jpg";    // ComboBox1
  std::string interval = "5";  // Edit1
  std::string from = "0";      // Edit4
  std::string to = "600";      // Edit2
  std::string wait_factor = "4";  // Edit3
  bool sub_dialog = false;     // cb_subdlg
  bool show_consoles = false;  // CheckBox1
  bool fast_thumbnails = false;
};

// Read the settings at the moment a step needs them (the window reads its
// controls, the batch mode returns its fixed options).
class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual JobSettings current() const = 0;
};

// A failure that ends the job; its text is shown to the user.
class JobError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whole decimal number with optional sign and surrounding blanks; anything
// else throws JobError "'text' is not a valid integer value".
int to_int(const std::string& text);

// Throws JobError for the first setting a step of the job would fail on
// (a number that is not one, no columns, an interval below 1, a range outside
// one day, a negative wait), so that nothing is written before it is found.
void check_settings(const JobSettings& s);

}  // namespace pellatt
