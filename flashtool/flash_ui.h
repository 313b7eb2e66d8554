// What the programmer's run needs from its front end (the window or the
// batch mode): a status line, a progress bar, event processing, the log,
// the operator's stop; and the clock its waits run on, so that tests need
// not wait for real seconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace hx::flash {

// What the run shows besides message boxes.
class FlashUi {
 public:
  virtual ~FlashUi() = default;
  // A line printed on the window itself (the usage text).
  virtual void PrintLine(const std::string& line) = 0;
  // The status label txtOpStatus.
  virtual void SetStatus(const std::string& text) = 0;
  // The progress bar ProgressBar1 (hidden until ShowProgress).
  virtual void ShowProgress() = 0;
  virtual void SetProgressRange(int min, int max) = 0;
  virtual void SetProgressValue(int value) = 0;
  // Processes pending window events so the window stays responsive.
  virtual void DoEvents() = 0;
  // Bytes received in spy mode, as hex text.
  virtual void ShowRawBytes(const std::string& /*hex*/) {}
  // True once the operator asked to stop: an endless loop (spy, boot mode)
  // ends, a run is cancelled (see FlashTool::Form_Activate).
  virtual bool StopRequested() { return false; }
  // Forgets a stop request the operator took back.
  virtual void ClearStop() {}
  // One line of the run's log: a step done, with its figures.
  virtual void Log(const std::string& /*line*/) {}
  // The first line of the run's log (date, connection, serial, product, HEX
  // file and its CRC-32), given once its facts are known: it goes before
  // the lines the run logged until then.
  virtual void LogHeader(const std::string& /*line*/) {}
};

// Time for the run's waits.
class FlashClock {
 public:
  virtual ~FlashClock() = default;
  // Milliseconds on a clock that never goes back.
  virtual std::int64_t NowMs() = 0;
  // Lets a little time pass inside a wait (between event processing).
  virtual void Idle(std::chrono::milliseconds step) = 0;
};

// The real clock: steady time, a real sleep.
class SteadyFlashClock : public FlashClock {
 public:
  std::int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void Idle(std::chrono::milliseconds step) override { std::this_thread::sleep_for(step); }
};

}  // namespace hx::flash
