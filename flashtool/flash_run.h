// The programmer's run: the command line and parameter file (Form_Load),
// then the whole boot-loader sequence (Form_Activate) with every status text
// and message, over an injected front end, dialog service, clock and
// boot-loader library. No Qt here; the window and the batch mode are thin.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/dialog_service.h"
#include "flashtool/boot_library.h"
#include "flashtool/hex_loader.h"
#include "flashtool/parameter_file.h"

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
};

// Time for the run's waits, so tests need not wait for real seconds.
class FlashClock {
 public:
  virtual ~FlashClock() = default;
  // Milliseconds on a clock that never goes back.
  virtual std::int64_t NowMs() = 0;
  // Lets a little time pass inside a wait (between event processing).
  virtual void Idle(std::chrono::milliseconds step) = 0;
};

class SteadyFlashClock : public FlashClock {
 public:
  std::int64_t NowMs() override;
  void Idle(std::chrono::milliseconds step) override;
};

// Where the program and its files are.
struct FlashEnvironment {
  std::string title = "flashtool";      // message box title; parameter file title + ".INI"
  std::filesystem::path programFolder;  // holds the parameter file
  std::filesystem::path listFolder;     // where the list files are written
  std::filesystem::path hexBaseFolder;  // a relative HEX path is taken from here
};

// The sentence every failure message ends with once the controller has
// left its application: the next run finds it in its boot loader.
inline constexpr const char* kLeftInBootLoader =
    "The controller was left in its boot loader: run the update again to recover it.";

// Command-line state.
struct CommandLine {
  std::int32_t UsbID = -1;
  std::string device;   // upper case
  std::string target;   // TARGET of the product
  std::string hexPath;  // as given (its case kept)
  bool noprog = false;
  bool idonly = false;
  bool boot = false;
  bool spy = false;
  bool old_mode = false;
  bool noverify = false;  // skip reading back what was programmed
  std::uint8_t cmdLen = 9;
  std::uint16_t cmdVal = 23;
  std::string config;  // product CONFIG text, kept only
};

// Section "PIC18FBOOT".
struct ProgramSettings {
  std::string progmem, eedata, userid, config, errorlog, editor;
  long debuglevel = 0;
  long devicemode = 0;
};

// One chip's section.
struct DeviceInfo {
  std::uint32_t pmrangelow = 0, pmrangehigh = 0, eerangelow = 0, eerangehigh = 0;
  std::uint32_t usrrangelow = 0, usrrangehigh = 0, cfgrangelow = 0, cfgrangehigh = 0;
  std::uint8_t bytesperaddr = 0, maxpacketsize = 0, eraseblock = 0, readblock = 0, writeblock = 0,
               devicetype = 0;
};

// How a run ended: only Completed is the normal end.
enum class RunEnd { Completed, Failed };

// Reads a chip's section. False, with the reason (naming the key), when a
// range is not hex or runs backwards, or a block size or the
// bytes-per-address divisor is not a number from 1 to 255; such a chip is
// never erased or programmed.
bool ReadChipSection(const ParameterFile& ini, const std::string& chip, DeviceInfo& info,
                     std::string& reason);
// The memory a HEX file may fill on every one of `chips`: program memory,
// data EEPROM, user ID and configuration ranges, each the part all share.
HexLimits SharedLimits(const std::vector<DeviceInfo>& chips);

// The splitting of the command tail: trims `str` of blanks; when it is then
// empty returns "". Otherwise returns the text before the first `delim` and
// leaves the text after it in `str`; without a delimiter returns all of
// `str` and empties it. The token is not trimmed.
std::string GetToken(std::string& str, std::string_view delim);

// The products the parameter file offers: its sections with a TARGET (the
// product PAXTER takes ARVEL's), in file order.
std::vector<std::string> ProductsIn(const ParameterFile& ini);

// The CRC-32 (IEEE 802.3, as zip computes it) of `bytes`, continuing `crc`.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// The usage text printed for an empty command line.
const std::vector<std::string>& UsageLines();

class FlashTool {
 public:
  FlashTool(FlashEnvironment env, BootLibrary& library, FlashUi& ui, DialogService& dialogs,
            FlashClock& clock);
  ~FlashTool();

  // Reads the command tail and the parameter file. False when a message was
  // shown and the window must close.
  bool Form_Load(const std::string& commandTail);
  // Reads the parameter file alone (Form_Load does it too); false, with the
  // reason, when it cannot be read.
  bool ReadParameterFile(std::string& why);
  std::filesystem::path IniPath() const { return env_.programFolder / (env_.title + ".INI"); }
  // The products of the parameter file read last.
  std::vector<std::string> Products() const { return ProductsIn(ini_); }
  // The whole run, once; the window closes afterwards whatever it returns.
  // The operator's stop request (FlashUi::StopRequested) ends it before the
  // boot command with nothing sent; after it, the operator is asked, and a
  // cancelled run leaves the controller in its boot loader (boot flag 0xFF).
  RunEnd Form_Activate();
  // Closes the boot-loader connection.
  void Form_Unload();

  // The steps of the run, public for tests.
  bool IdentifyDevice();
  // The device ID word (0 to 65535), or -1.
  std::int32_t ReadDeviceId();
  int ReadConfigByte(std::uint32_t address);
  int WriteConfigByte(std::uint32_t address, std::uint8_t value);
  int EraseFlash(std::uint32_t low, std::uint32_t high);
  int ProgramFlash(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command,
                   const std::string& listname, int rowcount);
  // The WritePIC result (bit 15 set on failure).
  int WriteFlashMarker(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command);
  int WriteBootFlag(std::uint8_t value);
  // Reads back every row ProgramFlash wrote and compares it with what the
  // list asked for (rows of one address together). 1; 0 with the first
  // differing byte address in `address`; -1 with a row that could not be read.
  int VerifyFlash(std::uint32_t& address);
  void CloseDevice();

  const CommandLine& Options() const { return cmd_; }
  const ProgramSettings& Settings() const { return settings_; }
  const DeviceInfo& Info() const { return info_; }
  const std::string& ChipName() const { return chip_; }
  std::uint32_t DeviceCode() const { return deviceCode_; }
  const std::string& Revision() const { return revision_; }
  // Set by the application check: true when the byte at 0x000201 read 0xEF.
  bool ApplicationPresent() const { return applicationPresent_; }
  // Whether the run programmed flash (for front ends that report it).
  bool Programmed() const { return programmed_; }
  std::int32_t Handle() const { return handle_; }
  // Whether the operator cancelled the run.
  bool WasCancelled() const { return cancelled_; }
  // Whether the controller has left its application during the run.
  bool LeftApplication() const { return leftApplication_; }
  // Bytes written to and read back from program memory, and the CRC-32 of
  // the programmed rows in address order (16 bytes each).
  std::uint64_t BytesWritten() const { return bytesWritten_; }
  std::uint64_t BytesVerified() const { return bytesVerified_; }
  std::uint32_t ImageCrc() const;

 private:
  void Status(const std::string& text);
  // A message box; a failure's message says when the controller was left in
  // its boot loader.
  void Error(const std::string& text, MsgIcon icon = MsgIcon::Critical);
  void Log(const std::string& line) { ui_.Log(line); }
  // True when the operator asked to stop and (after the boot command) confirmed.
  bool Cancelled();
  void LogHexFile(const std::filesystem::path& path);
  bool EnsureLibrary();
  bool SendBootCommand();  // open 250, send, close; false when no connection
  void WaitSecondsAdvance(int seconds);
  void WaitMs(std::int64_t ms);
  std::string ConfigSummary();
  RunEnd Spy();
  bool ReadDeviceInfo();
  // The checks made before the boot command: the chip sections the product
  // may hold and the whole HEX file. False when a message was shown.
  bool CheckBeforeBoot();
  // Checks and converts the HEX file against `limits` (syntax only when
  // null and `convert` is false). False when a message was shown.
  bool PrepareHexFile(const HexLimits* limits, bool convert);
  // Looks for the boot loader on the run's connection when the application
  // did not take the boot command. False when a message was shown.
  bool FindWaitingBootLoader();
  void ShowBusy();
  std::string WithLibraryProblem(const std::string& text);
  // Holds flashtool-<UsbID>.lock in the list folder until Form_Unload; false
  // when another run holds it.
  bool LockController();

  FlashEnvironment env_;
  BootLibrary& lib_;
  FlashUi& ui_;
  DialogService& dialogs_;
  FlashClock& clock_;

  ParameterFile ini_;
  CommandLine cmd_;
  ProgramSettings settings_;
  DeviceInfo info_;
  std::string chip_;
  std::uint32_t deviceCode_ = 0;
  std::string revision_;
  std::int32_t handle_ = 0;
  int reconnects_ = 3;
  bool libraryChecked_ = false;
  bool applicationPresent_ = false;
  bool programmed_ = false;
  int controllerLock_ = -1;
  std::filesystem::path controllerLockPath_;
  bool leftApplication_ = false;
  bool cancelled_ = false;
  std::uint32_t failedAddress_ = 0;
  std::uint64_t bytesWritten_ = 0, bytesVerified_ = 0;
  int rows_ = 0;  // program-memory rows of the converted HEX file
  bool converted_ = false;
  // What the programmed rows must read back as, by row address.
  std::map<std::uint32_t, std::array<std::uint8_t, 16>> expected_;
  // The program-memory list this run converted, opened while the list
  // folder was locked.
  std::unique_ptr<std::istream> progmemList_;
};

}  // namespace hx::flash
