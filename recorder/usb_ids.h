#pragma once
// The USB vendor/product ids taken as tuners: the built-in ones plus those a
// user adds in the settings for a bridge or driver tuner with other ids.
#include <string>
#include <vector>

#include "devices.h"

namespace brannock {

// [Config] keys: "vvvv:pppp" in hexadecimal as lsusb shows them, separated by
// commas or blanks.
constexpr const char* kUsbXpressIdsKey = "UsbXpressIds";
constexpr const char* kDriverIdsKey = "IsdbtDriverIds";

using UsbIdList = std::vector<std::pair<std::uint16_t, std::uint16_t>>;

// Adds the ids listed in `text` to `ids` (once each) and returns the entries
// that are not an id.
std::vector<std::string> AddUsbIds(const std::string& text, UsbIdList& ids);

// The built-in ids and those of the settings file; `rejected` gets one line
// per entry that is not an id.
RealDeviceIds DeviceIdsFromSettings(const std::string& configPath, std::vector<std::string>& rejected);

}  // namespace brannock
