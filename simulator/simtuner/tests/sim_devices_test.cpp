// The simulated devices through the two platform interfaces, driven by a manual clock.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "crc32.h"
#include "driver_device.h"
#include "test_streams.h"
#include "usb_device.h"

namespace oneseg::sim {
namespace {

using namespace brannock;
using testing::Rig;
using testing::SimpleStream;
using testing::TempDir;

// 150400 bit/s: 100 packets a second of broadcast time.
std::string Config(const std::string& devices, double speed = 1) {
  return R"({"speed": )" + std::to_string(speed) + R"(, "start": "2008-12-06 14:35:00",
    "stations": [{"channel": 27, "stream": "s.ts", "bitrate": 150400}], "devices": [)" +
         devices + "]}";
}

class SimDevicesTest : public ::testing::Test {
 protected:
  void Build(const std::string& devices, double speed = 1) {
    dir_.Write("s.ts", SimpleStream(50, 10, {2001, 1, 1, 0, 0, 0}));
    rig_ = std::make_unique<Rig>(Config(devices, speed), dir_);
  }
  UsbDevice& device(int i = 0) { return *rig_->hw->usbDevices()[static_cast<std::size_t>(i)]; }
  SiHandle Open(std::uint32_t index = 0) {
    SiHandle handle = 0;
    EXPECT_EQ(SI_SUCCESS, rig_->usb->SI_Open(index, handle));
    return handle;
  }
  void Send(SiHandle h, std::uint8_t code, std::uint16_t address = 0, std::uint8_t value = 0) {
    const std::uint8_t frame[5] = {code, static_cast<std::uint8_t>(address >> 8),
                                   static_cast<std::uint8_t>(address), value, 0};
    std::uint32_t written = 0;
    ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_Write(h, frame, 5, written));
  }
  // Tunes a kind-0 device as its back end would for `f` MHz, neutral gain, and starts the stream.
  void TuneA(SiHandle h, int f, std::uint8_t band = 0x94) {
    Send(h, 0x00, 0x175, 0x8A);
    Send(h, 0x00, 0x182, 0x70);
    Send(h, 0x00, 0x184, static_cast<std::uint8_t>(f / 16));
    Send(h, 0x00, 0x185, band);
    Send(h, 0x00, 0x188, static_cast<std::uint8_t>(f % 16));
    Send(h, 0x02);
  }
  std::uint32_t Waiting(SiHandle h) {
    std::uint32_t bytes = 0, status = 0;
    EXPECT_EQ(SI_SUCCESS, rig_->usb->SI_CheckRXQueue(h, bytes, status));
    return bytes;
  }
  std::vector<std::uint8_t> ReadAll(SiHandle h) {
    std::vector<std::uint8_t> bytes(Waiting(h));
    std::uint32_t read = 0;
    EXPECT_EQ(SI_SUCCESS, rig_->usb->SI_Read(h, bytes.data(), static_cast<std::uint32_t>(bytes.size()), read));
    bytes.resize(read);
    return bytes;
  }

  TempDir dir_;
  std::unique_ptr<Rig> rig_;
};

TEST_F(SimDevicesTest, EnumerationStringsAndAVanishingDevice) {
  Build(R"({"model": "A", "serial": "A1", "faults": [{"type": "vanish", "at": 5, "duration": 5}]},
           {"model": "Mini", "serial": ")" + std::string(300, 'x') + R"("})");
  std::uint32_t count = 0;
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_GetNumDevices(count));
  EXPECT_EQ(2u, count);
  char text[SI_MAX_DEVICE_STRLEN];
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_GetProductString(0, text, SI_RETURN_SERIAL_NUMBER));
  EXPECT_STREQ("A1", text);
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_GetProductString(1, text, SI_RETURN_DESCRIPTION));
  EXPECT_NE(nullptr, std::strstr(text, "Mini"));
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_GetProductString(1, text, SI_RETURN_SERIAL_NUMBER));
  EXPECT_EQ(SI_MAX_DEVICE_STRLEN - 1, std::strlen(text));
  EXPECT_EQ(SI_DEVICE_NOT_FOUND, rig_->usb->SI_GetProductString(2, text, SI_RETURN_SERIAL_NUMBER));

  const SiHandle h = Open(0);
  TuneA(h, 473 + 6 * 14);
  rig_->clock.Advance(6);
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_GetNumDevices(count));
  EXPECT_EQ(1u, count);
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_GetProductString(0, text, SI_RETURN_DESCRIPTION));
  EXPECT_NE(nullptr, std::strstr(text, "Mini"));  // indexes shift
  std::uint32_t bytes = 0, status = 0;
  EXPECT_EQ(SI_INVALID_HANDLE, rig_->usb->SI_CheckRXQueue(h, bytes, status));

  rig_->clock.Advance(5);
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_GetNumDevices(count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(SI_INVALID_HANDLE, rig_->usb->SI_CheckRXQueue(h, bytes, status));  // the old handle stays dead
  EXPECT_EQ(0, device().Register(0x184));                                      // came back reset
  EXPECT_FALSE(device().streaming());
  const SiHandle fresh = Open(0);
  EXPECT_EQ(0u, Waiting(fresh));
}

TEST_F(SimDevicesTest, StreamFollowsTheClockAtTheSpeedFactorWithRestampedTimes) {
  Build(R"({"model": "A", "delivery_log": "a.log"})", 10);
  const SiHandle h = Open();
  TuneA(h, 473 + 6 * 14);
  EXPECT_EQ(27, device().TunedChannel());
  rig_->clock.Advance(1.0);  // ten seconds of broadcast: about 1000 units
  const auto bytes = ReadAll(h);
  ASSERT_EQ(0u, bytes.size() % 197);
  EXPECT_NEAR(1000.0, bytes.size() / 197.0, 2.0);
  for (std::size_t at = 0; at < bytes.size(); at += 197) ASSERT_EQ(0x47, bytes[at]);

  // The log holds each delivered packet behind its sequence number, in order, with the
  // time packets stamped by the broadcast clock (start + index / 100 s).
  std::ifstream in(dir_.path() + "/a.log", std::ios::binary);
  const std::vector<std::uint8_t> log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size() / 197 * 196, log.size());
  std::uint64_t previous = 0;
  int times = 0;
  for (std::size_t at = 0; at < log.size(); at += 196) {
    std::uint64_t seq = 0;
    for (int b = 7; b >= 0; --b) seq = seq << 8 | log[at + static_cast<std::size_t>(b)];
    if (at > 0) {
      ASSERT_EQ(previous + 1, seq);
    }
    previous = seq;
    ASSERT_EQ(0, std::memcmp(&log[at + 8], &bytes[at / 196 * 197], 188));
    CivilTime t;
    if (!ReadPacketTime(&log[at + 8], t)) continue;
    ++times;
    EXPECT_EQ(0u, crc32_mpeg2(&log[at + 8 + 5], 14));  // the re-stamped TOT's CRC holds
    const int second = static_cast<int>(seq / 100);
    EXPECT_EQ(35 + second / 60, t.minute);
    EXPECT_EQ(second % 60, t.second);
  }
  EXPECT_GE(times, 99);
}

TEST_F(SimDevicesTest, BoundedQueueCountsWhatItDrops) {
  Build(R"({"model": "Mini", "queue_bytes": 4096})");
  const SiHandle h = Open();
  // Kind-1 synthesiser for channel 27: N = 30, remainder 2.
  for (auto [reg, value] : std::initializer_list<std::pair<std::uint16_t, std::uint8_t>>{
           {0x175, 0x8A}, {0x182, 0x70}, {0x184, 30}, {0x185, 0x94}, {0x186, 0xC3}, {0x187, 0xAE}, {0x188, 0x0F}})
    Send(h, 0x00, reg, value);
  Send(h, 0x02);
  EXPECT_EQ(27, device().TunedChannel());
  rig_->clock.Advance(2.0);
  const std::uint32_t waiting = Waiting(h);
  EXPECT_LE(waiting, 4096u);
  EXPECT_EQ(0u, waiting % 196);
  EXPECT_NEAR(200.0, static_cast<double>(waiting / 196 + device().droppedUnits()), 2.0);
  EXPECT_GT(device().droppedUnits(), 150u);
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_FlushBuffers(h, 1, 1));
  EXPECT_EQ(0u, Waiting(h));
  Send(h, 0x03);
  rig_->clock.Advance(1.0);
  EXPECT_EQ(0u, Waiting(h));
}

TEST_F(SimDevicesTest, WrongTuningGivesNothing) {
  Build(R"({"model": "A"})");
  const SiHandle h = Open();
  TuneA(h, 473 + 6 * 14 + 1);  // between channels
  rig_->clock.Advance(1.0);
  EXPECT_EQ(0u, Waiting(h));
  TuneA(h, 473 + 6 * 15);  // channel 28: no station
  rig_->clock.Advance(1.0);
  EXPECT_EQ(0u, Waiting(h));
  TuneA(h, 473 + 6 * 14, 0x8C);  // the wrong band
  rig_->clock.Advance(1.0);
  EXPECT_EQ(0u, Waiting(h));
  EXPECT_EQ(-1, device().TunedChannel());
}

TEST_F(SimDevicesTest, ScheduledQueueReadAndSignalFaults) {
  Build(R"({"model": "A", "faults": [{"type": "rx_queue_fail", "at": 1, "duration": 1},
                                     {"type": "read_fail", "at": 3, "duration": 1},
                                     {"type": "signal_loss", "at": 5, "duration": 2}]})");
  const SiHandle h = Open();
  TuneA(h, 473 + 6 * 14);
  rig_->clock.Advance(1.5);
  std::uint32_t bytes = 0, status = 0;
  EXPECT_EQ(SI_DEVICE_IO_FAILED, rig_->usb->SI_CheckRXQueue(h, bytes, status));
  rig_->clock.Advance(2.0);
  std::uint8_t buffer[197];
  std::uint32_t read = 0;
  EXPECT_EQ(SI_READ_ERROR, rig_->usb->SI_Read(h, buffer, sizeof buffer, read));
  EXPECT_EQ(0u, read);
  rig_->clock.Advance(1.0);
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_FlushBuffers(h, 1, 1));
  rig_->clock.Advance(1.0);  // 5.5 s: half a second of units, then the signal is lost
  EXPECT_NEAR(50.0, Waiting(h) / 197.0, 2.0);
  EXPECT_EQ(0, device().Level());
  ASSERT_EQ(SI_SUCCESS, rig_->usb->SI_FlushBuffers(h, 1, 1));
  rig_->clock.Advance(2.0);  // signal back at 7 s
  EXPECT_GT(device().Level(), 0);
  rig_->clock.Advance(1.0);
  EXPECT_NEAR(150.0, Waiting(h) / 197.0, 2.0);
}

TEST_F(SimDevicesTest, CorruptAndMisalignedUnits) {
  Build(R"({"model": "A", "faults": [{"type": "corrupt_units", "at": 0, "duration": 1},
                                     {"type": "misaligned_units", "at": 2, "duration": 1}]})");
  const SiHandle h = Open();
  TuneA(h, 473 + 6 * 14);
  rig_->clock.Advance(0.5);
  auto bytes = ReadAll(h);
  ASSERT_EQ(0u, bytes.size() % 197);
  int bad = 0;
  for (std::size_t at = 0; at < bytes.size(); at += 197) bad += bytes[at] != 0x47;
  EXPECT_NEAR(bytes.size() / 197 / 5.0, bad, 1.0);
  rig_->clock.Advance(1.7);  // to 2.2 s: 1.5 s more of units, the last 0.2 s with stray bytes
  bytes = ReadAll(h);
  const std::size_t stray = bytes.size() % 197;
  EXPECT_EQ(0u, stray % 3);
  EXPECT_GE(stray / 3, 1u);
}

TEST_F(SimDevicesTest, TimeJumpShiftsOnlyTheTimePacketsSentWhileItLasts) {
  constexpr int kOffset = 2 * 365 * 86400;
  Build(R"({"model": "A", "delivery_log": "a.log",
            "faults": [{"type": "time_jump", "at": 1, "duration": 0.5, "offset": 63072000}]})");
  const SiHandle h = Open();
  TuneA(h, 473 + 6 * 14);
  rig_->clock.Advance(2.0);
  ReadAll(h);
  std::ifstream in(dir_.path() + "/a.log", std::ios::binary);
  const std::vector<std::uint8_t> log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::int64_t start = ToJstSeconds(rig_->hw->BroadcastStart());
  int shifted = 0, plain = 0;
  for (std::size_t at = 0; at + 196 <= log.size(); at += 196) {
    std::uint64_t seq = 0;
    for (int b = 7; b >= 0; --b) seq = seq << 8 | log[at + static_cast<std::size_t>(b)];
    CivilTime t;
    if (!ReadPacketTime(&log[at + 8], t)) continue;
    EXPECT_EQ(0u, crc32_mpeg2(&log[at + 8 + 5], 14));
    // 100 units a second: units 100..149 went out while the jump lasted.
    const bool inJump = seq >= 100 && seq < 150;
    const std::int64_t expected = start + static_cast<std::int64_t>(seq / 100) + (inJump ? kOffset : 0);
    EXPECT_EQ(expected, ToJstSeconds(ToDateTime(t))) << "unit " << seq;
    (inJump ? shifted : plain) += 1;
  }
  EXPECT_EQ(5, shifted);
  EXPECT_GE(plain, 14);
}

TEST_F(SimDevicesTest, DriverTunerProbesOpensAndVanishes) {
  Build(R"({"model": "driver", "faults": [{"type": "vanish", "at": 2, "duration": 2}]})");
  EXPECT_TRUE(rig_->driver->Probe());
  const IsdbtHandle h = rig_->driver->Open();
  ASSERT_NE(0u, h);
  const std::uint8_t pipe0[4] = {0, 0, 0, 0}, pipe1[4] = {1, 0, 0, 0};
  std::uint8_t block[10] = {0x10, 0x04, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::uint32_t f = 473143 + 14 * 6000;
  block[2] = static_cast<std::uint8_t>(f >> 24), block[3] = static_cast<std::uint8_t>(f >> 16);
  block[4] = static_cast<std::uint8_t>(f >> 8), block[5] = static_cast<std::uint8_t>(f);
  std::uint32_t returned = 0;
  ASSERT_TRUE(rig_->driver->DeviceIoControl(h, IOCTL_ISDBT_BULK_WRITE, pipe0, 4, block, 10, returned));
  EXPECT_EQ(27, rig_->hw->driverDevice()->TunedChannel());
  // A read with nothing pending, or on the wrong pipe, is refused.
  EXPECT_FALSE(rig_->driver->DeviceIoControl(h, IOCTL_ISDBT_BULK_READ, pipe1, 4, block, 1, returned));
  EXPECT_FALSE(rig_->driver->DeviceIoControl(h, IOCTL_ISDBT_BULK_READ, pipe0, 4, block, 1, returned));
  EXPECT_FALSE(rig_->driver->DeviceIoControl(h, IOCTL_ISDBT_BULK_WRITE, pipe0, 2, block, 10, returned));
  rig_->clock.Advance(3);
  EXPECT_FALSE(rig_->driver->Probe());
  EXPECT_EQ(0u, rig_->driver->Open());
  rig_->clock.Advance(2);
  EXPECT_TRUE(rig_->driver->Probe());
  EXPECT_FALSE(rig_->driver->DeviceIoControl(h, IOCTL_ISDBT_BULK_WRITE, pipe0, 4, block, 10, returned));
  EXPECT_EQ(-1, rig_->hw->driverDevice()->TunedChannel());
  EXPECT_NE(0u, rig_->driver->Open());
}

}  // namespace
}  // namespace oneseg::sim
