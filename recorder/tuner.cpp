#include "tuner.h"

#include <algorithm>

namespace brannock {

int ClassifyProduct(const std::string& description) {
  const auto has = [&](const char* word) { return description.find(word) != std::string::npos; };
  int kind = UnknownKind;
  if (has("UOT-100")) kind = UsbXpressA;
  if (has("PCTV-hiwasa")) kind = has("Mini") ? UsbXpressMini : UsbXpressA;
  return kind;
}

std::uint16_t UnitSizeForKind(int kind) {
  switch (kind) {
    case UsbXpressA: return 197;
    case UsbXpressMini: return 196;
    default: return 188;
  }
}

std::string MakeTunerID(const std::string& serialOrPath) {
  std::string id = serialOrPath;
  std::replace(id.begin(), id.end(), '&', '_');
  std::replace(id.begin(), id.end(), '\\', '_');
  return id;
}

std::string TunerSection(const std::string& tunerID) { return "Tuner" + tunerID; }

}  // namespace brannock
