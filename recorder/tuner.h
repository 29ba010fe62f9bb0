#pragma once
// The recorder's per-tuner record and the tuner operation set through which
// every other part of the recorder reaches a device.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "clock.h"
#include "isdbt_driver.h"
#include "ts_framer.h"
#include "usbxpress.h"

namespace brannock {

enum TunerKind : int { UsbXpressA = 0, UsbXpressMini = 1, IsdbtDriverKind = 2, UnknownKind = 99 };

enum TunerState : int {
  NotInitialized = 0,
  InterfaceOpen = 1,
  Streaming = 2,
  Retuning = 9,
  Working = 10,
  Disabled = 99,
};

struct TUSBXPressParam {
  SiHandle DeviceHandle = 0;
  int DeviceNumber = 0;
};

struct TEZUSBParam {
  IsdbtHandle DeviceHandle = 0;
};

class RecordingFile;  // an open .ts or .idx file (file layer of the recording loop)

// Packets a tuner received but the recorder did not store, by cause. Packets
// lost to a refused write are LostPackets, shown with the write failure.
struct DropCounts {
  std::int64_t framing = 0;     // units' worth of bytes the framer dropped (see FramingDrops)
  std::int64_t follower = 0;    // heard by a second tuner while another one writes the channel
  std::int64_t failedRead = 0;  // units' worth (rounded up) of bytes a failing read handed over
  std::int64_t beforeTime = 0;  // no time packet since the stream (re)started: no file to put them in
  bool operator==(const DropCounts&) const = default;
};

// A closed .ts whose writes may still be waiting (and failing).
struct ClosedRecording {
  std::shared_ptr<RecordingFile> file;
  std::string path;
};

struct TOneSegTuner {
  std::variant<TUSBXPressParam, TEZUSBParam> Param;
  int Kind = UnknownKind;
  std::string TunerID;
  std::string FriendlyName;
  bool Disable = false;
  std::uint16_t UnitSize = 188;
  int Channel = -1;
  TDateTime LastTimeStamp = 0;
  // Broadcast time of the last time packet (LastTimeStamp also takes local
  // times from the supervisor): the next one must confirm it before a time
  // may drive retention. 0 before the first.
  TDateTime LastTotTime = 0;
  bool Present = true;
  int State = NotInitialized;
  int WatchState = 1;
  int WatchTimeout = 15;
  std::string Status;
  std::string FileBase;
  std::string DateFolder;
  std::string OpenFileBase;
  std::string OpenDateFolder;  // the open pair's day folder: DateFolder moves on at midnight first
  std::shared_ptr<RecordingFile> TsStream;
  std::shared_ptr<RecordingFile> IdxStream;
  std::vector<ClosedRecording> Closing;
  std::int64_t PacketCount = 0;  // 32 bits would overflow after about 90 days
  TsFramer Framer;  // made afresh for UnitSize by the recording loop
  TDateTime TimeOffset = 0;
  int RetryCount = 0;
  // A .ts/.idx write or open failed and nothing is being stored; cleared when
  // the files take data again. Packets lost meanwhile are counted.
  bool FileFault = false;
  std::int64_t LostPackets = 0;
  DropCounts Drops;
  DropCounts DropsShown;  // as last written to the log, with LostPackets
  std::int64_t LostShown = 0;
  double DropsShownAt = 0;  // monotonic seconds
  // Monotonic seconds: the last pass that read packets from the tuner, the
  // last time packet since the stream (re)started (negative: none yet), and
  // what the watchdog counts its silence from.
  double LastDeliveryAt = 0;
  double TimeReadAt = -1;
  double WatchFrom = 0;

  TUSBXPressParam* UsbParam() { return std::get_if<TUSBXPressParam>(&Param); }
  TEZUSBParam* EzParam() { return std::get_if<TEZUSBParam>(&Param); }
};

// Kind recognition from a USBXpress product description (UnknownKind when
// the description names no supported model) and the unit size of a kind.
int ClassifyProduct(const std::string& description);
std::uint16_t UnitSizeForKind(int kind);

// A device identity ("&" and "\\" turned into "_") and its settings section.
std::string MakeTunerID(const std::string& serialOrPath);
std::string TunerSection(const std::string& tunerID);

// The seven operations. Each returns 0 on success, otherwise a failure code in
// the value space of the USBXpress status codes (the recorder's own: 2 reply
// mismatch, 4 frame not written whole or device not open, 5 open sequence
// failed, 6 bad argument, channel out of range or driver request failed).
class TunerOperations {
 public:
  virtual ~TunerOperations() = default;
  virtual int Tuner_Initialize(TOneSegTuner& tuner) = 0;
  virtual int Bootup(TOneSegTuner& tuner) = 0;
  virtual int SetChannel(TOneSegTuner& tuner, int channel) = 0;
  virtual int StopStream(TOneSegTuner& tuner) = 0;
  virtual int CloseDevice(TOneSegTuner& tuner) = 0;
  virtual int CheckRxQueue(TOneSegTuner& tuner, std::uint32_t& bytesWaiting) = 0;
  virtual int ReadStream(TOneSegTuner& tuner, std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t& bytesRead) = 0;
};

}  // namespace brannock
