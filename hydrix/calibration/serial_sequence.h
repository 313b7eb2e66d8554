// The serial numbers of a production line go up by one. The highest serial
// number written from this machine and confirmed by the controller is kept
// in the state folder ("last-serial", one decimal number); the maintenance
// frame proposes the next one and `hydrixctl serial --next` writes it.
// Every program that writes a serial number holds the sequence's lock
// ("last-serial.lock" beside it) from its read of the file to its update,
// the controller's write in between, so two programs asking for the next
// serial at once get two different numbers.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/lock_file.h"
#include "hydrix/calibration/maintenance.h"

namespace hx {

// The serials the sequence counts: the positive ones a controller holds (0
// and negative serials are written as asked but never recorded).
inline constexpr std::int32_t kFirstSerial = 1;
inline constexpr std::int32_t kLastSerial = 2147483647;

// What the state file says.
struct LastSerial {
  std::optional<std::int32_t> value;  // the last serial recorded; none yet when empty without a problem
  std::string problem;                // the file cannot be read or holds no serial: why, naming it
  bool ok() const { return problem.empty(); }
};

// The serial after `last`; nothing when there is none (no record, a
// problem, or `last` is the largest a controller holds).
std::optional<std::int32_t> NextSerial(const LastSerial& last);

// The question before writing `serial` when it is not above `last`, the last
// one written from this machine; default No.
std::string SerialBelowLastQuestion(std::int32_t serial, std::int32_t last);
// Why there is no next serial after 2147483647.
std::string SerialPastTheLast();

class SerialSequence {
 public:
  // How long a program waits for another one writing a serial number.
  static constexpr std::chrono::milliseconds kWait{60000};

  // `folder`: the state folder (UserStateFolder()); empty when none can be
  // named, and then nothing is read or recorded.
  explicit SerialSequence(std::filesystem::path folder);

  // The state file; empty without a folder.
  std::filesystem::path File() const;
  // Reads the state file. A missing file (or folder) is no record yet; a
  // file that is not one whole number from 1 to 2147483647 on its line is a
  // problem, and it is never replaced while it stays so.
  LastSerial Read() const;
  // Takes the lock, creating the state folder (mode 0700) when missing,
  // waiting at most `wait` for another holder. "" when held, otherwise why
  // (naming the lock file and, when it says, who holds it).
  std::string Lock(std::chrono::milliseconds wait);
  void Unlock() { lock_.Unlock(); }
  // Records `serial` as written and confirmed, the lock held: the file then
  // holds the higher of its serial and `serial`, replaced as one step.
  // Serials below 1 leave it as it is. "" when done (or nothing to do),
  // otherwise why; a file with a problem is left as it is.
  std::string Record(std::int32_t serial);

 private:
  std::filesystem::path folder_;
  LockFile lock_;
};

// `hydrixctl serial --next`: with the sequence locked, reads the last
// serial, refuses when there is none, a problem, no next one, or when the
// controller already holds the last one (the same unit a second time), then
// writes the next with ProgramSerial and records it once confirmed. A write
// that was not confirmed leaves the state file as it was.
struct NextSerialOutcome {
  std::optional<std::int32_t> written;  // the serial the controller now holds, when written
  std::string why;                      // what went wrong ("" when done, or when the link told)
  bool done = false;                    // written, confirmed and recorded
  bool refused = false;                 // nothing was sent to the controller
};
NextSerialOutcome ProgramNextSerial(HydrixDevice& device, SerialSequence& sequence,
                                    std::chrono::milliseconds wait = SerialSequence::kWait);

// A serial number typed or given: written with ProgramSerial, the sequence
// locked, and recorded once confirmed. Unless `belowLastAllowed`, a serial
// from 1 up to the last one recorded is not written (another unit may hold
// it): `belowLast` then names the last, for a question before trying again.
// `step` is ProgramSerial's outcome (not done, nothing written, when the
// lock could not be taken); `notRecorded` says why a confirmed serial was
// not recorded (the state file's problem, or its write's).
struct SerialWrite {
  StepOutcome step;
  std::optional<std::int32_t> belowLast;
  std::string notRecorded;
};
SerialWrite ProgramSerialRecorded(HydrixDevice& device, SerialSequence& sequence, std::int32_t serial,
                                  bool belowLastAllowed, std::chrono::milliseconds wait = SerialSequence::kWait);

}  // namespace hx
