#include "driver_device.h"

#include <algorithm>
#include <cstring>

namespace oneseg::sim {

bool DriverDevice::Present() {
  const bool vanished = Fault(FaultType::Vanish);
  if (vanished && present_) {
    present_ = false;
    ++generation_;
    frequency_ = 0;
    streaming_ = false;
    reply_.clear();
  } else if (!vanished) {
    present_ = true;
  }
  return present_;
}

int DriverDevice::TunedChannel() const {
  constexpr std::uint32_t kChannel13 = 473143;
  if (frequency_ < kChannel13 || (frequency_ - kChannel13) % 6000 != 0) return -1;
  const auto channel = static_cast<int>(13 + (frequency_ - kChannel13) / 6000);
  return channel <= 62 ? channel : -1;
}

bool DriverDevice::Receivable() {
  const int channel = TunedChannel();
  const Station* station = hw_.FindStation(channel);
  if (station == nullptr || Fault(FaultType::SignalLoss)) return false;
  const auto it = config_.signal.find(channel);
  return (it != config_.signal.end() ? it->second : station->signal) > 0;
}

void DriverDevice::Write(const std::uint8_t* data, std::size_t length) {
  DriverBlock block{};
  std::memcpy(block.data(), data, std::min(length, block.size()));
  blocks_.push_back(block);
  switch (block[0]) {
    case 0x9F:
      reply_ = {0x01, 0x00, 0x00};
      break;
    case 0x43:
      reply_ = {0x01, 0x00, 0x00, 0x00};
      break;
    case 0x10:
      frequency_ = static_cast<std::uint32_t>(block[2] << 24 | block[3] << 16 | block[4] << 8 | block[5]);
      pollsSinceTune_ = 0;
      streaming_ = false;
      break;
    case 0x11:
      ++pollsSinceTune_;
      reply_ = {static_cast<std::uint8_t>(pollsSinceTune_ >= config_.lockPolls && Receivable() ? 1 : 0)};
      break;
    case 0x20:
      streaming_ = true;
      break;
    case 0x21:
      streaming_ = false;
      break;
    default:
      break;
  }
}

bool DriverDevice::Read(std::uint8_t* out, std::size_t length) {
  if (reply_.empty()) return false;
  std::memcpy(out, reply_.data(), std::min(length, reply_.size()));
  reply_.clear();
  return true;
}

}  // namespace oneseg::sim
