#include "usb_device.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "../synth/time_packet.h"  // the synthesiser's, not the recorder's header of that name

namespace oneseg::sim {
namespace {

constexpr std::uint8_t kReplyHeader[5] = {0x48, 0x75, 0x09, 0x15, 0x58};
constexpr std::uint8_t kStrayByte = 0xA5;
constexpr std::uint8_t kIdentity = 0x01;
constexpr std::uint16_t kLevelRegister = 0x170;

// The kind-1 synthesiser's fine-tuning values of 0x186..0x188 by (channel - 13) mod 3.
constexpr std::uint8_t kMiniFine[3][3] = {{0x18, 0x04, 0x05}, {0x6E, 0x59, 0x0A}, {0xC3, 0xAE, 0x0F}};

std::uint8_t ExpectedBand(int channel) { return channel <= 20 ? 0x8C : 0x94; }

}  // namespace

UsbDevice::UsbDevice(SimHardware& hw, DeviceConfig config)
    : hw_(hw), config_(std::move(config)), faults_(config_.faults), queue_(config_.queueBytes) {
  if (!config_.deliveryLog.empty()) log_ = std::fopen(config_.deliveryLog.c_str(), "wb");
}

UsbDevice::~UsbDevice() {
  if (log_ == nullptr) return;
  std::fclose(log_);
  // Units the queue had no room for were never delivered: a reader that fell
  // behind the simulated rate, told apart from what the reader lost itself.
  if (std::FILE* dropped = std::fopen((config_.deliveryLog + ".dropped").c_str(), "w")) {
    std::fprintf(dropped, "%llu\n", static_cast<unsigned long long>(queue_.Dropped()));
    std::fclose(dropped);
  }
}

bool UsbDevice::Present() {
  const bool vanished = Fault(FaultType::Vanish);
  if (vanished && present_) {
    present_ = false;
    ++generation_;
    Reset();
  } else if (!vanished) {
    present_ = true;
  }
  return present_;
}

void UsbDevice::Reset() {
  registers_.fill(0);
  streaming_ = false;
  queue_.Clear();
}

int UsbDevice::TunedChannel() const {
  int channel = -1;
  if (config_.model == DeviceModel::A) {
    const int f = registers_[0x184] * 16 + registers_[0x188];
    if (f >= 473 && (f - 473) % 6 == 0) channel = 13 + (f - 473) / 6;
  } else if (config_.model == DeviceModel::Mini) {
    for (int r = 0; r < 3; ++r)
      if (std::equal(kMiniFine[r], kMiniFine[r] + 3, registers_.begin() + 0x186))
        channel = 13 + (registers_[0x184] - 26) * 3 + r;
  }
  if (channel < 13 || channel > 62 || registers_[0x185] != ExpectedBand(channel)) return -1;
  return channel;
}

double UsbDevice::SignalOf(int channel, const Station& station) const {
  const auto it = config_.signal.find(channel);
  return it != config_.signal.end() ? it->second : station.signal;
}

int UsbDevice::Level() const {
  return faults_.Active(FaultType::SignalLoss, hw_.Elapsed()) ? 0 : ReceivedLevel();
}

int UsbDevice::ReceivedLevel() const {
  const int channel = TunedChannel();
  const Station* station = hw_.FindStation(channel);
  if (station == nullptr) return 0;
  const double signal = SignalOf(channel, *station);
  if (signal <= 0) return 0;
  // Less gain (0x175) and a lower step (0x182) raise the level.
  const int gain = registers_[0x175];
  const int step = registers_[0x182] >> 5;
  const long level = std::lround(signal) + (0x8A - gain) - (step - 3);
  return static_cast<int>(std::clamp(level, 0L, 15L));
}

void UsbDevice::Write(const std::uint8_t* data, std::size_t length) {
  if (length != 5 || config_.model == DeviceModel::Other) return;
  CatchUp();  // what was broadcast before this frame arrived follows the old settings
  frames_.push_back({data[0], data[1], data[2], data[3], data[4]});
  const std::uint16_t address = static_cast<std::uint16_t>((data[1] << 8 | data[2]) & 0x1FF);
  switch (data[0]) {
    case 0x00:
      registers_[address] = data[3];
      break;
    case 0x01: {
      const std::uint8_t value = address == kLevelRegister
                                     ? static_cast<std::uint8_t>(Level() << 4 | (registers_[address] & 0x0F))
                                     : registers_[address];
      Reply(0x01, value);
      break;
    }
    case 0x02:
      StartStream();
      break;
    case 0x03:
      CatchUp();
      streaming_ = false;
      break;
    case 0x06:
      Reply(0x06, kIdentity);
      break;
    default:
      break;
  }
}

void UsbDevice::Reply(std::uint8_t code, std::uint8_t value) {
  std::vector<std::uint8_t> stray(static_cast<std::size_t>(config_.replyStrayBytes), kStrayByte);
  for (std::size_t at = 0; at < stray.size(); at += kMaxChunk)
    queue_.Push(stray.data() + at, std::min(kMaxChunk, stray.size() - at));
  std::uint8_t reply[20] = {};
  std::memcpy(reply, kReplyHeader, sizeof kReplyHeader);
  reply[5] = reply[6] = code;
  reply[7] = value;
  if (Fault(FaultType::GarbledReply)) reply[2] ^= 0x5A;
  if (Fault(FaultType::WrongEcho)) reply[5] = reply[6] = code == 0x01 ? 0x06 : 0x01;
  queue_.Push(reply, sizeof reply);
}

double UsbDevice::UnitPeriodDays(const Station& station) const {
  return kPacketSize * 8.0 / station.bitrate / 86400.0;
}

void UsbDevice::StartStream() {
  CatchUp();
  streaming_ = true;
  streamChannel_ = TunedChannel();
  const Station* station = hw_.FindStation(streamChannel_);
  if (station == nullptr) return;
  const double elapsed = hw_.BroadcastNow() - hw_.BroadcastStart();
  nextIndex_ = static_cast<std::uint64_t>(std::max(0.0, std::floor(elapsed / UnitPeriodDays(*station)))) + 1;
}

void UsbDevice::CatchUp() {
  if (!streaming_) return;
  const Station* station = hw_.FindStation(streamChannel_);
  if (station == nullptr) return;
  const double period = UnitPeriodDays(*station);
  const double elapsed = hw_.BroadcastNow() - hw_.BroadcastStart();
  if (elapsed < 0) return;
  const auto due = static_cast<std::uint64_t>(std::floor(elapsed / period));
  if (due < nextIndex_) return;
  if (ReceivedLevel() < 1) {  // nothing received: the broadcast passes by
    nextIndex_ = due + 1;
    return;
  }
  // After a long pause only a full queue's worth can have been kept.
  const std::uint64_t room = queue_.Capacity() / unitSize() + 1;
  if (due - nextIndex_ + 1 > room) {
    queue_.CountDropped(due - nextIndex_ + 1 - room);
    nextIndex_ = due + 1 - room;
  }
  for (; nextIndex_ <= due; ++nextIndex_) {
    // Faults apply by the time the unit went out, not by the time it is looked at.
    const double sent = static_cast<double>(nextIndex_) * period * 86400.0 / hw_.speed();
    if (faults_.Active(FaultType::SignalLoss, sent)) continue;
    if (faults_.Active(FaultType::MisalignedUnits, sent) && nextIndex_ % 10 == 0) {
      const std::uint8_t stray[3] = {0x00, 0x47, 0x00};
      queue_.Push(stray, sizeof stray);
    }
    EmitUnit(*station, nextIndex_, faults_.Active(FaultType::CorruptUnits, sent) && nextIndex_ % 5 == 0,
             faults_.TimeOffset(sent));
  }
}

void UsbDevice::EmitUnit(const Station& station, std::uint64_t index, bool corrupt, double timeOffset) {
  synth::Packet packet;
  std::memcpy(packet.data(), station.stream.Packet(index), kPacketSize);
  const double sent = hw_.BroadcastStart() + static_cast<double>(index) * UnitPeriodDays(station);
  synth::restamp_time_packet(packet, ToJstSeconds(sent) + static_cast<std::int64_t>(std::llround(timeOffset)));
  std::uint8_t unit[kMaxChunk] = {};
  std::memcpy(unit, packet.data(), kPacketSize);
  // The device framing behind the packet carries the unit's sequence number.
  for (int b = 0; b < 8; ++b) unit[kPacketSize + b] = static_cast<std::uint8_t>(index >> (8 * b));
  if (corrupt) unit[0] = 0x00;
  queue_.Push(unit, unitSize(), true, index);
}

void UsbDevice::LogDelivered(const QueueChunk& chunk) {
  ++delivered_;
  if (log_ == nullptr) return;
  std::uint8_t seq[8];
  for (int b = 0; b < 8; ++b) seq[b] = static_cast<std::uint8_t>(chunk.seq >> (8 * b));
  std::fwrite(seq, 1, sizeof seq, log_);
  std::fwrite(chunk.bytes.data(), 1, kPacketSize, log_);
}

std::size_t UsbDevice::Read(std::uint8_t* out, std::size_t count) {
  const std::size_t moved = queue_.Pop(out, count, [this](const QueueChunk& chunk) { LogDelivered(chunk); });
  if (log_ != nullptr) std::fflush(log_);
  return moved;
}

std::size_t UsbDevice::Waiting() {
  CatchUp();
  return queue_.Size();
}

}  // namespace oneseg::sim
