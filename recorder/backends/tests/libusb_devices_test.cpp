// Real-device access without hardware: nothing is found and nothing opens,
// cleanly, whatever is asked.
#include <gtest/gtest.h>

#include "devices.h"

namespace brannock {
namespace {

// Ids no device carries, so that the test means the same on a machine with tuners.
RealDeviceIds AbsentIds() {
  RealDeviceIds ids;
  ids.usbXpress = {{0xFFFF, 0xFFFE}};
  ids.ezUsb = {{0xFFFF, 0xFFFD}};
  return ids;
}

TEST(LibusbDevices, NoUsbXpressDeviceIsFoundOrOpened) {
  DeviceAccess access = OpenRealDevices(AbsentIds());
  ASSERT_TRUE(access.usb);
  std::uint32_t count = 99;
  EXPECT_EQ(SI_SUCCESS, access.usb->SI_GetNumDevices(count));
  EXPECT_EQ(0u, count);
  char text[SI_MAX_DEVICE_STRLEN] = "unchanged";
  EXPECT_EQ(SI_DEVICE_NOT_FOUND, access.usb->SI_GetProductString(0, text, SI_RETURN_DESCRIPTION));
  EXPECT_STREQ("unchanged", text);
  SiHandle handle = 0;
  EXPECT_EQ(SI_DEVICE_NOT_FOUND, access.usb->SI_Open(0, handle));
  EXPECT_EQ(0u, handle);
  EXPECT_EQ(SI_SUCCESS, access.usb->SI_SetTimeouts(500, 500));
}

TEST(LibusbDevices, CallsOnHandlesThatWereNeverOpenedFail) {
  DeviceAccess access = OpenRealDevices(AbsentIds());
  std::uint8_t frame[5] = {0x03, 0, 0, 0, 0};
  std::uint32_t moved = 7, bytes = 7, status = 7;
  EXPECT_EQ(SI_INVALID_HANDLE, access.usb->SI_Write(1, frame, 5, moved));
  EXPECT_EQ(0u, moved);
  EXPECT_EQ(SI_INVALID_HANDLE, access.usb->SI_Read(1, frame, 5, moved));
  EXPECT_EQ(SI_INVALID_HANDLE, access.usb->SI_CheckRXQueue(1, bytes, status));
  EXPECT_EQ(0u, bytes);
  EXPECT_EQ(SI_INVALID_HANDLE, access.usb->SI_FlushBuffers(1, 1, 1));
  EXPECT_EQ(SI_INVALID_HANDLE, access.usb->SI_Close(1));
}

TEST(LibusbDevices, DriverTunerIsAbsent) {
  DeviceAccess access = OpenRealDevices(AbsentIds());
  ASSERT_TRUE(access.driver);
  EXPECT_FALSE(access.driver->Probe());
  EXPECT_EQ(0u, access.driver->Open());
  const std::uint8_t pipe[4] = {0, 0, 0, 0};
  std::uint8_t block[10] = {0x21};
  std::uint32_t returned = 5;
  EXPECT_FALSE(access.driver->DeviceIoControl(0, IOCTL_ISDBT_BULK_WRITE, pipe, 4, block, 10, returned));
  EXPECT_EQ(0u, returned);
  access.driver->Close(0);  // harmless
}

TEST(LibusbDevices, OperationSetOverAbsentDevicesReportsFailures) {
  DeviceAccess access = OpenRealDevices(AbsentIds());
  struct : Clock {
    TDateTime Now() override { return 0; }
    double Monotonic() override { return 0; }
    void Sleep(int) override {}
  } clock;
  auto ops = MakeTunerOperations(*access.usb, *access.driver, clock);
  TOneSegTuner usbTuner;
  usbTuner.Kind = UsbXpressA;
  EXPECT_EQ(5, ops->Tuner_Initialize(usbTuner));
  TOneSegTuner driverTuner;
  driverTuner.Kind = IsdbtDriverKind;
  driverTuner.Param = TEZUSBParam{};
  EXPECT_EQ(6, ops->Tuner_Initialize(driverTuner));
}

}  // namespace
}  // namespace brannock
