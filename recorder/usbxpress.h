#pragma once
// The nine calls of the USBXpress bridge library through which the recorder
// reaches the two USBXpress tuner models, with the library's status codes.
// Implemented for real devices over libusb and by the simulated tuner hardware.
#include <cstdint>

namespace brannock {

using SI_STATUS = int;
enum : SI_STATUS {
  SI_SUCCESS = 0x00,
  SI_INVALID_HANDLE = 0x01,
  SI_READ_ERROR = 0x02,
  SI_RX_QUEUE_NOT_READY = 0x03,
  SI_WRITE_ERROR = 0x04,
  SI_RESET_ERROR = 0x05,
  SI_INVALID_PARAMETER = 0x06,
  SI_INVALID_REQUEST_LENGTH = 0x07,
  SI_DEVICE_IO_FAILED = 0x08,
  SI_INVALID_BAUDRATE = 0x09,
  SI_FUNCTION_NOT_SUPPORTED = 0x0A,
  SI_GLOBAL_DATA_ERROR = 0x0B,
  SI_SYSTEM_ERROR_CODE = 0x0C,
  SI_READ_TIMED_OUT = 0x0D,
  SI_WRITE_TIMED_OUT = 0x0E,
  SI_IO_PENDING = 0x0F,
  SI_DEVICE_NOT_FOUND = 0xFF,
};

// Flags of SI_GetProductString.
constexpr std::uint32_t SI_RETURN_SERIAL_NUMBER = 0x00;
constexpr std::uint32_t SI_RETURN_DESCRIPTION = 0x01;
constexpr std::uint32_t SI_MAX_DEVICE_STRLEN = 256;

using SiHandle = std::uintptr_t;  // 0 = not open

class SiUsbXpress {
 public:
  virtual ~SiUsbXpress() = default;
  virtual SI_STATUS SI_GetNumDevices(std::uint32_t& count) = 0;
  // Writes at most SI_MAX_DEVICE_STRLEN bytes; the text ends at the first NUL
  // or after SI_MAX_DEVICE_STRLEN bytes.
  virtual SI_STATUS SI_GetProductString(std::uint32_t device, char* buffer, std::uint32_t flags) = 0;
  virtual SI_STATUS SI_Open(std::uint32_t device, SiHandle& handle) = 0;
  virtual SI_STATUS SI_Close(SiHandle handle) = 0;
  // The time-outs are the library's, not a device's: they apply to every handle.
  virtual SI_STATUS SI_SetTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) = 0;
  virtual SI_STATUS SI_FlushBuffers(SiHandle handle, std::uint8_t flushTransmit, std::uint8_t flushReceive) = 0;
  virtual SI_STATUS SI_Write(SiHandle handle, const void* buffer, std::uint32_t count,
                             std::uint32_t& written) = 0;
  virtual SI_STATUS SI_Read(SiHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) = 0;
  virtual SI_STATUS SI_CheckRXQueue(SiHandle handle, std::uint32_t& bytesInQueue,
                                    std::uint32_t& queueStatus) = 0;
};

}  // namespace brannock
