#pragma once
// Where the parts of the tuner operations that wait on a device run. Every
// tuner has a worker of its own: its steps run one after another, and the
// steps of different tuners side by side, so that a tuner booting or failing
// never holds up the reading of the others. A step hands back what remains of
// its operation (status, alert, state), which the engine runs on its own
// thread when it collects the worker's finished steps.
#include <functional>
#include <memory>
#include <vector>

namespace brannock {

using StepFinish = std::function<void()>;
using DeviceStep = std::function<StepFinish()>;

class StepWorker {
 public:
  virtual ~StepWorker() = default;
  virtual void Post(DeviceStep step) = 0;
  // The finishes of the steps done so far, in posting order; never blocks.
  virtual std::vector<StepFinish> TakeFinished() = 0;
  // A step was posted whose finish has not been taken yet.
  virtual bool Pending() = 0;
  // Blocks until every step posted so far is done.
  virtual void Wait() = 0;
};

class DeviceSteps {
 public:
  virtual ~DeviceSteps() = default;
  virtual std::unique_ptr<StepWorker> MakeWorker() = 0;
};

// Each step runs at once on the poster's thread.
class InlineSteps final : public DeviceSteps {
 public:
  std::unique_ptr<StepWorker> MakeWorker() override;
};

// A thread per worker; a worker that goes away first runs the steps posted to it.
class ThreadedSteps final : public DeviceSteps {
 public:
  std::unique_ptr<StepWorker> MakeWorker() override;
};

}  // namespace brannock
