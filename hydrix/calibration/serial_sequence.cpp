#include "hydrix/calibration/serial_sequence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "common/atomic_file.h"
#include "common/paths.h"
#include "common/safe_file.h"

namespace hx {

namespace {

// The state file holds one short line; anything larger is not ours.
constexpr std::size_t kStateFileLimit = 1024;

// What a file holds, as a message quotes it: printable, and short.
std::string Quoted(const std::string& bytes) {
  std::string shown;
  for (char c : bytes.substr(0, 16)) shown += (c >= ' ' && c <= '~') ? c : '?';
  return "\"" + shown + (bytes.size() > 16 ? "..." : "") + "\"";
}

std::string Seconds(std::chrono::milliseconds wait) { return std::to_string(wait.count() / 1000) + " s"; }

// Lets go of the sequence's lock when a write is over, however it ended.
struct Unlocking {
  SerialSequence& sequence;
  ~Unlocking() { sequence.Unlock(); }
};

}  // namespace

std::optional<std::int32_t> NextSerial(const LastSerial& last) {
  if (!last.ok() || !last.value || *last.value >= kLastSerial) return std::nullopt;
  return *last.value + 1;
}

std::string SerialBelowLastQuestion(std::int32_t serial, std::int32_t last) {
  return "Serial number " + std::to_string(serial) + " is not above " + std::to_string(last) +
         ", the last one written from this machine: another unit may hold it. Write it anyway?";
}

std::string SerialPastTheLast() {
  return "The last serial number written from this machine is 2147483647, the largest a controller holds: "
         "there is no next one.";
}

SerialSequence::SerialSequence(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path SerialSequence::File() const {
  return folder_.empty() ? std::filesystem::path() : folder_ / "last-serial";
}

LastSerial SerialSequence::Read() const {
  if (folder_.empty()) return {};
  std::string bytes;
  const FileStatus st = ReadRegularFile(File(), kStateFileLimit, bytes);
  if (st.missing) return {};
  if (!st.ok()) return {std::nullopt, "Cannot read " + File().string() + ": " + st.reason + "."};
  std::string line = bytes;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  std::int64_t n = 0;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), n);
  const bool digits = !line.empty() && line.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || ec != std::errc() || end != line.data() + line.size() || n < kFirstSerial || n > kLastSerial) {
    return {std::nullopt, File().string() + " holds no serial number (it reads " +
                              Quoted(bytes) + "): correct or remove it."};
  }
  return {static_cast<std::int32_t>(n), {}};
}

std::string SerialSequence::Lock(std::chrono::milliseconds wait) {
  if (folder_.empty()) return "No state folder: neither XDG_STATE_HOME nor HOME names one.";
  std::error_code ec;
  if (std::filesystem::create_directories(folder_, ec)) ::chmod(folder_.c_str(), 0700);
  if (ec) return "Cannot make the state folder " + folder_.string() + ": " + ec.message() + ".";
  const std::filesystem::path file = folder_ / "last-serial.lock";
  LockOptions options;
  options.mode = 0600;
  options.identity = ProgramTitle() + " (process " + std::to_string(::getpid()) + ")";
  const FileStatus st = lock_.Lock(file, wait, options);
  if (st.ok()) return {};
  if (st.error == EWOULDBLOCK) {
    const std::string holder = LockHolder(file);
    return "Another program is writing a serial number" + (holder.empty() ? "" : " (" + holder + ")") +
           " and kept " + file.string() + " locked for " + Seconds(wait) + ".";
  }
  return "Cannot lock " + file.string() + ": " + st.reason + ".";
}

std::string SerialSequence::Record(std::int32_t serial) {
  if (serial < kFirstSerial) return {};
  if (folder_.empty()) return "No state folder: neither XDG_STATE_HOME nor HOME names one.";
  if (!lock_.Held()) return "The serial numbers' lock is not held.";
  const LastSerial last = Read();
  if (!last.ok()) return last.problem;
  if (last.value && *last.value >= serial) return {};
  const FileStatus st = AtomicReplace(File(), std::to_string(serial) + "\n");
  if (!st.ok()) return "Cannot write " + File().string() + ": " + st.reason + ".";
  return {};
}

NextSerialOutcome ProgramNextSerial(HydrixDevice& device, SerialSequence& sequence,
                                    std::chrono::milliseconds wait) {
  if (auto why = sequence.Lock(wait); !why.empty()) return {std::nullopt, why, false, true};
  const Unlocking unlocking{sequence};
  const LastSerial last = sequence.Read();
  if (!last.ok()) return {std::nullopt, last.problem, false, true};
  if (!last.value) {
    return {std::nullopt,
            "No serial number has been written from this machine yet (" + sequence.File().string() +
                " does not exist): write the first one by hand with \"hydrixctl serial NUMBER\".",
            false, true};
  }
  const auto next = NextSerial(last);
  if (!next) {
    return {std::nullopt, SerialPastTheLast(), false, true};
  }
  // The same unit a second time would get a second number.
  if (const auto held = HeldSerial(device); held && *held == *last.value) {
    return {std::nullopt,
            "Controller " + std::to_string(device.UsbID()) + " already holds serial number " +
                std::to_string(*held) + ", the last one written from this machine: \"hydrixctl serial NUMBER\" renumbers it by hand.",
            false, true};
  }
  const StepOutcome step = ProgramSerial(device, *next);
  if (!step.done) return {std::nullopt, step.why, false, false};
  if (auto why = sequence.Record(*next); !why.empty()) return {*next, why, false, false};
  return {*next, {}, true};
}

SerialWrite ProgramSerialRecorded(HydrixDevice& device, SerialSequence& sequence, std::int32_t serial,
                                  bool belowLastAllowed, std::chrono::milliseconds wait) {
  SerialWrite result;
  if (sequence.File().empty()) {
    result.step = ProgramSerial(device, serial);
    if (result.step.done && serial >= kFirstSerial)
      result.notRecorded = "No state folder: neither XDG_STATE_HOME nor HOME names one.";
    return result;
  }
  if (auto why = sequence.Lock(wait); !why.empty()) {
    result.step = {false, why + " Nothing was written."};
    return result;
  }
  const Unlocking unlocking{sequence};
  if (!belowLastAllowed && serial >= kFirstSerial) {
    if (const LastSerial last = sequence.Read(); last.value && serial <= *last.value) {
      result.belowLast = last.value;
      return result;
    }
  }
  result.step = ProgramSerial(device, serial);
  if (result.step.done) result.notRecorded = sequence.Record(serial);
  return result;
}

}  // namespace hx
