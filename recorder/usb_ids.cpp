#include "usb_ids.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>

#include "ini.h"
#include "settings.h"

namespace brannock {
namespace {

std::optional<std::uint16_t> HexWord(const std::string& text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  std::uint16_t value = 0;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    value = static_cast<std::uint16_t>(value << 4 | digit);
  }
  return value;
}

std::vector<std::string> Entries(const std::string& text) {
  std::vector<std::string> entries;
  std::string current;
  for (const char c : text + ",") {
    if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
      if (!current.empty()) entries.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return entries;
}

}  // namespace

std::vector<std::string> AddUsbIds(const std::string& text, UsbIdList& ids) {
  std::vector<std::string> rejected;
  for (const std::string& entry : Entries(text)) {
    const std::size_t colon = entry.find(':');
    const auto vendor = colon == std::string::npos ? std::nullopt : HexWord(entry.substr(0, colon));
    const auto product = colon == std::string::npos ? std::nullopt : HexWord(entry.substr(colon + 1));
    if (!vendor || !product) {
      rejected.push_back(entry);
      continue;
    }
    const auto id = std::make_pair(*vendor, *product);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  return rejected;
}

RealDeviceIds DeviceIdsFromSettings(const std::string& configPath, std::vector<std::string>& rejected) {
  RealDeviceIds ids;
  for (const auto& [key, list] : {std::pair{kUsbXpressIdsKey, &ids.usbXpress}, std::pair{kDriverIdsKey, &ids.ezUsb}}) {
    for (const std::string& bad : AddUsbIds(oneseg::ini_read_string(configPath, kConfigSection, key, ""), *list)) {
      rejected.push_back(std::string(key) + ": " + bad);
    }
  }
  return ids;
}

}  // namespace brannock
