#pragma once
// The tuner operations of the EZ-USB tuner reached through the ISDBT driver (kind 2).
#include <array>
#include <cstdint>

#include "clock.h"
#include "isdbt_driver.h"
#include "tuner.h"

namespace brannock {

using CommandBlock = std::array<std::uint8_t, 10>;

// The frequency block's kHz value of a UHF channel (not range-checked).
std::uint32_t ChannelFrequencyKHz(int channel);

class DriverBackend {
 public:
  DriverBackend(IsdbtDriver& driver, Clock& clock) : driver_(driver), clock_(clock) {}

  int Tuner_Initialize(TEZUSBParam& param);
  int Bootup(TEZUSBParam& param);
  int SetChannel(TEZUSBParam& param, int channel);
  int StopStream(TEZUSBParam& param);
  int CloseDevice(TEZUSBParam& param);
  // The driver offers no stream path: nothing ever waits, nothing is read.
  int CheckRxQueue(TEZUSBParam& param, std::uint32_t& bytesWaiting);
  int ReadStream(TEZUSBParam& param, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& bytesRead);

 private:
  bool BulkWrite(IsdbtHandle handle, CommandBlock& block);
  bool BulkRead(IsdbtHandle handle, CommandBlock& block, std::uint32_t length);
  // A command block and the reply read behind it; true when both were accepted.
  bool RequestPair(IsdbtHandle handle, std::uint8_t code, std::uint32_t replyLength);

  IsdbtDriver& driver_;
  Clock& clock_;
};

}  // namespace brannock
