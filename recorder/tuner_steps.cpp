// The engine's side of the device steps: what a step's device part may touch,
// handing its result back to the tuner, and the workers' lifetimes.
#include <algorithm>

#include "engine.h"

namespace brannock {
namespace {

// Only what the operations read: the device part never shares a field with
// the engine's thread.
std::shared_ptr<TOneSegTuner> DeviceRecord(const TOneSegTuner& tuner) {
  auto device = std::make_shared<TOneSegTuner>();
  device->Param = tuner.Param;
  device->Kind = tuner.Kind;
  device->TunerID = tuner.TunerID;
  device->UnitSize = tuner.UnitSize;
  device->Channel = tuner.Channel;
  return device;
}

// The handle the step opened or closed; the device number stays discovery's.
void TakeHandle(TOneSegTuner& tuner, const TOneSegTuner& device) {
  const auto* usb = std::get_if<TUSBXPressParam>(&device.Param);
  const auto* ez = std::get_if<TEZUSBParam>(&device.Param);
  if (TUSBXPressParam* to = tuner.UsbParam(); to != nullptr && usb != nullptr) to->DeviceHandle = usb->DeviceHandle;
  if (TEZUSBParam* to = tuner.EzParam(); to != nullptr && ez != nullptr) to->DeviceHandle = ez->DeviceHandle;
}

}  // namespace

// The tuner stays in the list, in a state that neither the record pass nor
// the supervisor serves, until its finish has run (see RemoveAbsentTuners).
void RecorderEngine::PostStep(TOneSegTuner& tuner, DevicePart device, FinishPart finish) {
  std::shared_ptr<TOneSegTuner> record = DeviceRecord(tuner);
  TOneSegTuner* target = &tuner;
  WorkerFor(tuner).Post([record, target, device = std::move(device), finish = std::move(finish)]() -> StepFinish {
    const std::string failure = device(*record);
    return [record, target, failure, finish] {
      TakeHandle(*target, *record);
      if (finish) finish(*target, failure);
    };
  });
}

void RecorderEngine::CollectSteps() {
  for (const auto& tuner : Tuners) {
    const auto it = workers_.find(tuner.get());
    if (it == workers_.end()) continue;
    for (const StepFinish& finish : it->second->TakeFinished())
      if (finish) finish();
  }
  // A removed tuner's release has nothing left to finish.
  std::erase_if(retiring_, [](const std::unique_ptr<StepWorker>& worker) {
    worker->TakeFinished();
    return !worker->Pending();
  });
}

void RecorderEngine::WaitForDeviceSteps() {
  for (const auto& [tuner, worker] : workers_) worker->Wait();
  for (const auto& worker : retiring_) worker->Wait();
  CollectSteps();
}

StepWorker& RecorderEngine::WorkerFor(const TOneSegTuner& tuner) {
  std::unique_ptr<StepWorker>& worker = workers_[&tuner];
  if (!worker) worker = steps_->MakeWorker();
  return *worker;
}

bool RecorderEngine::StepPending(const TOneSegTuner& tuner) {
  const auto it = workers_.find(&tuner);
  return it != workers_.end() && it->second->Pending();
}

void RecorderEngine::RetireWorker(const TOneSegTuner& tuner) {
  const auto it = workers_.find(&tuner);
  if (it == workers_.end()) return;
  retiring_.push_back(std::move(it->second));
  workers_.erase(it);
}

// Files first: a tuner being released is no longer read, so nothing more
// arrives for them.
void RecorderEngine::PostRelease(TOneSegTuner& tuner, FinishPart finish) {
  CloseTunerFiles(tuner);
  if (tuner.FileFault) ShowLostPackets(tuner, "チューナー解放");
  ShowDrops(tuner, true);
  PostStep(
      tuner,
      [this](TOneSegTuner& device) {
        ops_.StopStream(device);
        clock_.Sleep(400);
        ops_.CloseDevice(device);
        return std::string();
      },
      std::move(finish));
}

void RecorderEngine::ReleaseTuner(TOneSegTuner* tuner) {
  if (tuner == nullptr) return;
  WaitForDeviceSteps();
  PostRelease(*tuner, {});
  WaitForDeviceSteps();
}

}  // namespace brannock
