#include "batch_mode.h"

#include <functional>
#include <ostream>

#include "page_job.h"

namespace pellatt {

namespace {

struct OptionRow {
  const char* name;
  const char* value_name;  // nullptr for a switch
  const char* help;
  std::function<void(BatchOptions&, const std::string&)> apply;
};

const std::vector<OptionRow>& option_table() {
  static const std::vector<OptionRow> rows = {
      {"--continue", nullptr, "continuous mode (default)", [](BatchOptions& o, auto&) { o.settings.cont = true; }},
      {"--no-continue", nullptr, "only the chosen recording", [](BatchOptions& o, auto&) { o.settings.cont = false; }},
      {"--html-only", nullptr, "rebuild the page only", [](BatchOptions& o, auto&) { o.settings.html_only = true; }},
      {"--columns", "N", "columns of the page table, 1 = no table (4)",
       [](BatchOptions& o, const std::string& v) { o.settings.columns = v; }},
      {"--layout", "0|1|2", "one-column layout (0)",
       [](BatchOptions& o, const std::string& v) {
         const int item = to_int(v);
         if (item < 0 || item > 2) throw JobError("--layout takes 0, 1 or 2");
         o.settings.one_column_layout = item;
       }},
      {"--captions-above", nullptr, "captions before the image in table cells",
       [](BatchOptions& o, auto&) { o.settings.thumb_top = false; }},
      {"--no-ts-link", nullptr, "no link to the ts file", [](BatchOptions& o, auto&) { o.settings.ts_link = false; }},
      {"--no-thumb-time", nullptr, "no thumbnail time labels",
       [](BatchOptions& o, auto&) { o.settings.thumb_time = false; }},
      {"--caption-time", nullptr, "caption time labels", [](BatchOptions& o, auto&) { o.settings.caption_time = true; }},
      {"--ext", ".jpg|.png", "thumbnail image type (.jpg)",
       [](BatchOptions& o, const std::string& v) {
         if (v != ".jpg" && v != ".png") throw JobError("--ext takes .jpg or .png");
         o.settings.ext = v;
       }},
      {"--interval", "N", "a thumbnail every N seconds (5)",
       [](BatchOptions& o, const std::string& v) { o.settings.interval = v; }},
      {"--from", "N", "first second of the thumbnail range (0)",
       [](BatchOptions& o, const std::string& v) { o.settings.from = v; }},
      {"--to", "N", "last second of the thumbnail range (600)",
       [](BatchOptions& o, const std::string& v) { o.settings.to = v; }},
      {"--wait", "N", "wait per thumbnail: N ms per second of position (4)",
       [](BatchOptions& o, const std::string& v) { o.settings.wait_factor = v; }},
      {"--sub-dialog", nullptr, "open the .sub and ask before the thumbnails",
       [](BatchOptions& o, auto&) { o.settings.sub_dialog = true; }},
      {"--show-consoles", nullptr, "let started programs write to this terminal",
       [](BatchOptions& o, auto&) { o.settings.show_consoles = true; }},
      {"--fast-thumbnails", nullptr, "all thumbnails of a recording in one ffmpeg pass",
       [](BatchOptions& o, auto&) { o.settings.fast_thumbnails = true; }},
      {"--yes", nullptr, "answer every question yes (default no)", [](BatchOptions& o, auto&) { o.yes = true; }},
      {"--help", nullptr, "print this text", [](BatchOptions& o, auto&) { o.help = true; }},
      {"--version", nullptr, "print the version", [](BatchOptions& o, auto&) { o.version = true; }},
  };
  return rows;
}

class FixedSettings : public SettingsSource {
 public:
  explicit FixedSettings(const JobSettings& s) : s_(s) {}
  JobSettings current() const override { return s_; }

 private:
  JobSettings s_;
};

class ConsoleUi : public JobUi {
 public:
  ConsoleUi(std::ostream& out, ProcessStarter& starter, bool yes) : out_(out), starter_(starter), yes_(yes) {}
  void log(const std::string& line) override { out_ << line << std::endl; }
  void status(const std::string&) override {}
  void process_events() override {}
  bool ask(const std::string& question) override {
    out_ << question << (yes_ ? " -> yes" : " -> no") << std::endl;
    return yes_;
  }
  void open_document(const std::string& path) override { starter_.start("xdg-open", {path}, false); }

 private:
  std::ostream& out_;
  ProcessStarter& starter_;
  bool yes_;
};

}  // namespace

BatchOptions parse_batch_options(const std::vector<std::string>& args) {
  BatchOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      if (!options.file.empty()) throw JobError("more than one recording given: " + arg);
      options.file = arg;
      continue;
    }
    const OptionRow* row = nullptr;
    for (const auto& candidate : option_table())
      if (arg == candidate.name) row = &candidate;
    if (row == nullptr) throw JobError("unknown option " + arg);
    if (row->value_name != nullptr && i + 1 >= args.size()) throw JobError(arg + " needs a value");
    row->apply(options, row->value_name != nullptr ? args[++i] : std::string());
    if (options.help || options.version) return options;
  }
  if (options.file.empty()) throw JobError("no recording given");
  check_settings(options.settings);
  return options;
}

std::string batch_usage() {
  std::string text =
      "usage: pellatt                  the window\n"
      "       pellatt --batch FILE.ts|FILE.sub [options]\n"
      "       pellatt --help | --version\n";
  for (const auto& row : option_table()) {
    std::string left = std::string("  ") + row.name + (row.value_name ? std::string(" ") + row.value_name : "");
    left.resize(std::max<size_t>(left.size() + 1, 26), ' ');
    text += left + row.help + "\n";
  }
  return text;
}

int run_batch(const BatchOptions& options, ProcessStarter& starter, Clock& clock, std::ostream& out, std::ostream& err) {
  FixedSettings settings(options.settings);
  ConsoleUi ui(out, starter, options.yes);
  PageJob job(settings, starter, clock, ui);
  try {
    const JobOutcome outcome = job.run(options.file);
    if (outcome.pages_written < outcome.recordings) return 1;
    if (outcome.thumbs_due > 0 && outcome.thumbs_present == 0) {
      err << "pellatt: no thumbnail could be made" << std::endl;
      return 1;
    }
    return 0;
  } catch (const JobError& e) {
    err << "pellatt: " << e.what() << std::endl;
    return 2;
  }
}

}  // namespace pellatt
