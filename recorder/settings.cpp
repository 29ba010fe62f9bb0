#include "settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine.h"
#include "ini.h"

namespace brannock {

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
  RecDays = days;
  WriteSetting(kConfigSection, "RecDays", std::to_string(days));
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
  SetRecDays(oneseg::ini_read_int(ConfigPath, kConfigSection, "RecDays", 3));
  EnableWatchDog = oneseg::ini_read_int(ConfigPath, kConfigSection, "EnableWatchDog", 0) != 0;
  StationList = oneseg::ini_read_section(ChannelsPath, kStationSection);
  if (RaisePriority) RaisePriority();
  Tuners.clear();
  LastSweepTime = 0;
}

}  // namespace brannock
