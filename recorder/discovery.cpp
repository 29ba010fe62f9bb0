// Discovery: one pass over the USBXpress devices and the driver device that
// adds newly attached tuners and removes vanished ones.
#include <cstring>

#include "engine.h"
#include "ini.h"

namespace brannock {
namespace {

constexpr const char* kDriverDevicePath = "\\\\.\\ISDBT";

bool ProductString(SiUsbXpress& usb, std::uint32_t device, std::uint32_t flags, std::string& text) {
  char buffer[SI_MAX_DEVICE_STRLEN + 1] = {};
  if (usb.SI_GetProductString(device, buffer, flags) != SI_SUCCESS) return false;
  text.assign(buffer, strnlen(buffer, SI_MAX_DEVICE_STRLEN));
  return true;
}

}  // namespace

TOneSegTuner* RecorderEngine::FindTunerById(const std::string& id) {
  TOneSegTuner* found = nullptr;
  for (auto& tuner : Tuners) {
    if (tuner->TunerID == id) found = tuner.get();
  }
  return found;
}

TOneSegTuner& RecorderEngine::AddTuner(int kind, const std::string& id, int deviceNumber) {
  auto tuner = std::make_unique<TOneSegTuner>();
  if (kind == IsdbtDriverKind) {
    tuner->Param = TEZUSBParam{};
  } else {
    tuner->Param = TUSBXPressParam{0, deviceNumber};
  }
  tuner->Kind = kind;
  tuner->TunerID = id;
  tuner->UnitSize = UnitSizeForKind(kind);
  const std::string section = TunerSection(id);
  tuner->Channel = oneseg::ini_read_int(ConfigPath, section, "Channel", -1);
  tuner->Disable = oneseg::ini_read_int(ConfigPath, section, "Disable", 0) != 0;
  tuner->FriendlyName = oneseg::ini_read_string(ConfigPath, section, "FriendlyName", id);
  tuner->State = tuner->Disable ? Disabled : NotInitialized;
  tuner->Status = tuner->Disable ? "無効" : "I/F初期化中";
  Tuners.push_back(std::move(tuner));
  TOneSegTuner& added = *Tuners.back();
  if (listener_ != nullptr) {
    if (!added.Disable) listener_->TunerAdded(added);
    listener_->StatusChanged(added);
  }
  return added;
}

void RecorderEngine::RemoveAbsentTuners(bool& changed) {
  for (std::size_t i = Tuners.size(); i-- > 0;) {
    TOneSegTuner& tuner = *Tuners[i];
    // A step under way ends first: the device handle it leaves is not known before.
    if (tuner.Present || StepPending(tuner)) continue;
    if (listener_ != nullptr) listener_->TunerRemoving(tuner);
    PostRelease(tuner, {});
    RetireWorker(tuner);
    Tuners.erase(Tuners.begin() + static_cast<std::ptrdiff_t>(i));
    changed = true;
  }
}

void RecorderEngine::ScanTuners() {
  bool changed = false;
  for (auto& tuner : Tuners) tuner->Present = false;

  std::uint32_t count = 0;
  if (usb_.SI_GetNumDevices(count) == SI_SUCCESS) {
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string description, serial;
      if (!ProductString(usb_, i, SI_RETURN_DESCRIPTION, description)) continue;
      const int kind = ClassifyProduct(description);
      if (kind == UnknownKind) continue;
      if (!ProductString(usb_, i, SI_RETURN_SERIAL_NUMBER, serial)) continue;
      const std::string id = MakeTunerID(serial);
      if (TOneSegTuner* known = FindTunerById(id)) {
        if (auto* param = known->UsbParam()) param->DeviceNumber = static_cast<int>(i);
        known->Present = true;
      } else {
        AddTuner(kind, id, static_cast<int>(i));
        changed = true;
      }
    }
  }

  if (driver_.Probe()) {
    const std::string id = MakeTunerID(kDriverDevicePath);
    if (TOneSegTuner* known = FindTunerById(id)) {
      known->Present = true;
    } else {
      AddTuner(IsdbtDriverKind, id, 0);
      changed = true;
    }
  }

  RemoveAbsentTuners(changed);
  if (listener_ == nullptr) return;
  if (changed) {
    listener_->TunerListChanged();
  } else {
    listener_->TunerViewRefresh();
  }
}

}  // namespace brannock
