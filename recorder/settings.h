#pragma once
// Names and texts of the recorder's settings, and where its settings files live.
#include <optional>
#include <string>
#include <vector>

#include "settings_file.h"

namespace brannock {

constexpr const char* kConfigFileName = "OneSeg_Config.ini";
constexpr const char* kChannelsFileName = "OneSeg_Channels.ini";
constexpr const char* kConfigSection = "Config";
constexpr const char* kStationSection = "stationID";
constexpr int kFirstChannel = 13;
constexpr int kLastChannel = 62;
constexpr int kDefaultRecDays = 3;
// More days than any recording can be old: two-digit years span one century.
constexpr int kMaxRecDays = 99999;

// A stored RecDays: decimal digits, blanks around them allowed; a larger number
// reads as kMaxRecDays (keep), never wrapping. Zero, a sign or anything else is
// no number of days: nullopt.
std::optional<int> ParseRecDays(const std::string& text);
// "RecDays=<value> は不正な値のため古い録画を削除しません"
std::string RetentionHeldText(const std::string& storedValue);
// "放送時刻 <yy/mm/dd hh:nn:ss> がPCの時計と合わないため古い録画を削除しません"
std::string BroadcastClockHeldText(const std::string& broadcastTime);

// The channel list: "未設定" at item 0, then channels 13..62, each followed by
// " (" + station + ")" when a StationList line has that channel as its value
// (the last such line wins).
std::vector<std::string> ChannelListItems(const std::vector<std::string>& stationList);
// Item 0 means -1 (not set); item k means channel k + 12.
int ChannelForItem(int itemIndex);
// The item showing a channel: 0 for a negative channel, channel - 12 within
// 13..62, and -1 (leave the selection alone) otherwise.
int ItemForChannel(int channel);

// "保存先：" + folder, or "保存先：未設定" when empty.
std::string TSFolderLabelText(const std::string& tsFolder);
// "%s に書き込めません" with the path.
std::string WriteFailedText(const std::string& path);
// Why a settings file is not used ("" when it is, or when there is none).
std::string UnusableSettingsText(const std::string& path, oneseg::ini_file_status status);

// The folder of the running program file (from /proc/self/exe).
std::string ProgramFolder();
// The settings folder: `overrideFolder` when given (created if missing), else
// the program's folder when writable, else $XDG_CONFIG_HOME/oneseg (or
// ~/.config/oneseg), created if missing.
std::string ChooseSettingsFolder(const std::string& overrideFolder, const std::string& programFolder);

}  // namespace brannock
