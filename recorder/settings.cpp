#include "settings.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "engine.h"
#include "ini.h"

namespace brannock {
namespace {

// False when the key is missing, as against present with an empty value.
bool ReadStoredValue(const std::string& path, const std::string& section, const std::string& key,
                     std::string& value) {
  value = oneseg::ini_read_string(path, section, key, "");
  return !value.empty() || oneseg::ini_read_string(path, section, key, "-") != "-";
}

}  // namespace

std::vector<std::string> ChannelListItems(const std::vector<std::string>& stationList) {
  std::vector<std::string> items{"未設定"};
  for (int channel = kFirstChannel; channel <= kLastChannel; ++channel) {
    const std::string number = std::to_string(channel);
    std::string station;
    bool found = false;
    for (const std::string& line : stationList) {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos && line.compare(eq + 1, std::string::npos, number) == 0) {
        station = line.substr(0, eq);
        found = true;
      }
    }
    items.push_back(found ? number + " (" + station + ")" : number);
  }
  return items;
}

int ChannelForItem(int itemIndex) { return itemIndex <= 0 ? -1 : itemIndex + kFirstChannel - 1; }

int ItemForChannel(int channel) {
  if (channel < 0) return 0;
  if (channel >= kFirstChannel && channel <= kLastChannel) return channel - kFirstChannel + 1;
  return -1;
}

std::string TSFolderLabelText(const std::string& tsFolder) {
  return tsFolder.empty() ? "保存先：未設定" : "保存先：" + tsFolder;
}

std::string WriteFailedText(const std::string& path) { return path + " に書き込めません"; }

std::string UnusableSettingsText(const std::string& path, oneseg::ini_file_status status) {
  switch (status) {
    case oneseg::ini_file_status::not_regular:
      return path + " は通常のファイルではありません（既定の設定を使います）";
    case oneseg::ini_file_status::unreadable:
      return path + " を読めません（既定の設定を使います）";
    default:
      return std::string();
  }
}

std::optional<int> ParseRecDays(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const std::size_t last = text.find_last_not_of(" \t");
  std::int64_t days = 0;
  for (std::size_t i = first; i <= last; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    days = std::min<std::int64_t>(days * 10 + (c - '0'), kMaxRecDays + 1);
  }
  if (days < 1) return std::nullopt;
  return static_cast<int>(std::min<std::int64_t>(days, kMaxRecDays));
}

std::string RetentionHeldText(const std::string& storedValue) {
  return "RecDays=" + storedValue + " は不正な値のため古い録画を削除しません";
}

std::string BroadcastClockHeldText(const std::string& broadcastTime) {
  return "放送時刻 " + broadcastTime + " がPCの時計と合わないため古い録画を削除しません";
}

std::string ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string ChooseSettingsFolder(const std::string& overrideFolder, const std::string& programFolder) {
  std::error_code ec;
  if (!overrideFolder.empty()) {
    std::filesystem::create_directories(overrideFolder, ec);
    return overrideFolder;
  }
  if (::access(programFolder.c_str(), W_OK) == 0) return programFolder;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  const std::string folder = base + "/oneseg";
  std::filesystem::create_directories(folder, ec);
  return folder;
}

// ---- the engine's settings operations

void RecorderEngine::WriteSetting(const std::string& section, const std::string& key, const std::string& value) {
  if (!oneseg::ini_write_string(ConfigPath, section, key, value) && listener_ != nullptr) {
    listener_->SettingsWriteFailed(ConfigPath);
  }
}

void RecorderEngine::SetTSFolder(const std::string& path) {
  std::string folder = path;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Kept even while missing: a disk mounted late must not lose the setting.
  // The recording loop waits for the folder to appear.
  TSFolder = folder;
  WriteSetting(kConfigSection, "TSFolder", TSFolder);
  if (listener_ != nullptr) listener_->TSFolderChanged(TSFolder);
}

void RecorderEngine::SetRecDays(int days) {
  if (days < 1) return;
  RecDays = std::min(days, kMaxRecDays);
  if (RecDaysFault) {
    RecDaysFault.reset();
    if (listener_ != nullptr) listener_->RetentionHeld(clockHeldText_);
  }
  WriteSetting(kConfigSection, "RecDays", std::to_string(RecDays));
}

// A missing key takes the default. A stored value that is no number of days
// holds retention instead of guessing one: a guess could delete recordings
// the user meant to keep.
void RecorderEngine::ApplyStoredRecDays() {
  std::string text;
  if (!ReadStoredValue(ConfigPath, kConfigSection, "RecDays", text)) {
    SetRecDays(kDefaultRecDays);
  } else if (const std::optional<int> days = ParseRecDays(text)) {
    SetRecDays(*days);
  } else {
    RecDaysFault = text;
    if (listener_ != nullptr) listener_->RetentionHeld(RetentionHeldText(text));
    Notify("", NoticeCause::RecDaysInvalid, RetentionHeldText(text));
  }
}

bool RecorderEngine::RetentionHeld() {
  if (!RecDaysFault) return false;
  ApplyStoredRecDays();  // mending the file takes effect without a restart
  return RecDaysFault.has_value();
}

void RecorderEngine::LoadSettings(const std::string& settingsFolder) {
  ConfigPath = JoinPath(settingsFolder, kConfigFileName);
  ChannelsPath = JoinPath(settingsFolder, kChannelsFileName);
  if (listener_ != nullptr) {
    listener_->Log("設定ファイル：" + ConfigPath);
    // A FIFO or device there is never opened blocking; say why the defaults apply.
    for (const std::string& path : {ConfigPath, ChannelsPath}) {
      const std::string problem = UnusableSettingsText(path, oneseg::ini_check_file(path));
      if (!problem.empty()) listener_->Log(problem);
    }
  }
  SetTSFolder(oneseg::ini_read_string(ConfigPath, kConfigSection, "TSFolder", ""));
  ApplyStoredRecDays();
  EnableWatchDog = oneseg::ini_read_int(ConfigPath, kConfigSection, "EnableWatchDog", 0) != 0;
  StationList = oneseg::ini_read_section(ChannelsPath, kStationSection);
  if (RaisePriority) RaisePriority();
  Tuners.clear();
  LastSweepTime = 0;
}

}  // namespace brannock
