// The programmer's run: the command line and parameter file (Form_Load),
// then the whole boot-loader sequence (Form_Activate), one step after the
// other with every status text and message, over an injected front end,
// dialog service, clock and boot-loader library. No Qt here; the window and
// the batch mode are thin.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/dialog_service.h"
#include "flashtool/boot_library.h"
#include "flashtool/boot_session.h"
#include "flashtool/chip_info.h"
#include "flashtool/command_line.h"
#include "flashtool/controller_list.h"
#include "flashtool/flash_history.h"
#include "flashtool/flash_ui.h"
#include "flashtool/hex_loader.h"
#include "flashtool/parameter_file.h"
#include "flashtool/products.h"
#include "flashtool/run_locks.h"

namespace hx::flash {

// Where the program and its files are.
struct FlashEnvironment {
  std::string title = "flashtool";      // message box title; parameter file title + ".INI"
  std::filesystem::path programFolder;  // holds the parameter file
  std::filesystem::path listFolder;     // where the list files are written
  std::filesystem::path hexBaseFolder;  // the file dialog starts here
  std::filesystem::path prgFolder{};    // a relative HEX path is taken from here; empty: hexBaseFolder
  // Whether each run appends its line to the firmware history, and where
  // (empty: no state folder, which the run reports).
  bool keepHistory = false;
  std::filesystem::path historyFile{};
};

// The sentence every failure message ends with once the controller has
// left its application: the next run finds it in its boot loader.
inline constexpr const char* kLeftInBootLoader =
    "The controller was left in its boot loader: run the update again to recover it.";

// How a run ended: only Completed is the normal end.
enum class RunEnd { Completed, Failed };

// Exit statuses of a run.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;      // any message that ends the run, a declined question, a cancel
inline constexpr int kExitFlashEmpty = 2;  // normal end, but no application after programming

// How a run ended, as its last line says it: "Result: completed (exit 0)".
struct RunOutcome {
  std::string words = "failed";  // "completed", "no application after programming", "cancelled", "failed"
  int exit = kExitFailed;
  std::string Line() const { return "Result: " + words + " (exit " + std::to_string(exit) + ")"; }
};

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
  // Closes the boot-loader connection and gives up the run's lock.
  void Form_Unload();

  // Where the serial number is read from before the boot command; without
  // one the history's serial stays empty.
  void SetSerialProbe(IdentityProbe* probe) { probe_ = probe; }
  // How the run ended; `loaded` is what Form_Load returned, `end` what
  // Form_Activate did (not looked at when not loaded).
  RunOutcome Outcome(bool loaded, RunEnd end) const;
  // The run's header line: its date, connection, serial, product, HEX file
  // and the file's CRC-32.
  std::string HeaderLine();
  // Appends the run's line to the firmware history (when the environment
  // keeps one), after giving the header line if the run had not reached it.
  // Empty, or why the history was not written, which is also logged.
  std::string RecordHistory(const RunOutcome& outcome);
  std::optional<std::int32_t> Serial() const { return serial_; }

  // Opens the boot-loader connection when none is open, reads the device ID
  // and checks the chip against the product; false when a message was shown
  // or the operator declined the chip.
  bool IdentifyDevice();
  // Closes the boot-loader connection.
  void CloseDevice() { session_.CloseDevice(); }

  const CommandLine& Options() const { return cmd_; }
  const ProgramSettings& Settings() const { return settings_; }
  const DeviceInfo& Info() const { return session_.Chip(); }
  const std::string& ChipName() const { return chip_; }
  std::uint32_t DeviceCode() const { return deviceCode_; }
  const std::string& Revision() const { return revision_; }
  // Set by the application check: true when the byte at 0x000201 read 0xEF.
  bool ApplicationPresent() const { return applicationPresent_; }
  // Whether the run programmed flash (for front ends that report it).
  bool Programmed() const { return programmed_; }
  std::int32_t Handle() const { return session_.Handle(); }
  // Whether the operator cancelled the run.
  bool WasCancelled() const { return cancelled_; }
  // Whether the controller has left its application during the run.
  bool LeftApplication() const { return leftApplication_; }
  // Bytes written to and read back from program memory, and the CRC-32 of
  // the programmed rows in address order (16 bytes each).
  std::uint64_t BytesWritten() const { return session_.BytesWritten(); }
  std::uint64_t BytesVerified() const { return session_.BytesVerified(); }
  std::uint32_t ImageCrc() const { return session_.ImageCrc(); }

 private:
  // The steps of Form_Activate, in order; each false when the run ends there
  // (its message shown).
  void BeginRun();
  RunEnd Spy();
  bool ChooseHexFile();
  RunEnd BootMode();
  // The checks made before the boot command: the chip sections the product
  // may hold and the whole HEX file.
  bool CheckBeforeBoot();
  bool StartBootLoader();
  bool Identify();
  bool PrepareForChip();
  std::string ConfigSummary();
  bool WriteConfiguration();
  bool EraseProgramAndVerify();
  bool CheckApplication(std::uint8_t& flag);
  bool LeaveBootFlag(std::uint8_t flag);
  void ShowIdentification(const std::string& summary);
  RunEnd Finish();

  void Status(const std::string& text);
  // A message box; a failure's message says when the controller was seen in
  // its boot loader during the run (and so was left there).
  void Error(const std::string& text, MsgIcon icon = MsgIcon::Critical);
  void Log(const std::string& line) { ui_.Log(line); }
  // True when the operator asked to stop and (after the boot command) confirmed.
  bool Cancelled();
  // Reads the serial number from the application, then gives the header line.
  void ReadSerialAndShowHeader();
  void ShowHeader();
  // The HEX file the run programs, its path made whole; empty when the run
  // programs none.
  std::filesystem::path HexFile() const;
  // Its size and CRC-32, read once per run.
  const std::optional<FileFacts>& HexFacts();
  void LogHexFile(const std::filesystem::path& path);
  bool EnsureLibrary();
  bool ReadProduct();
  bool ReadDeviceInfo();
  // Checks and converts the HEX file against `limits` (syntax only when
  // null and `convert` is false). False when a message was shown.
  bool PrepareHexFile(const HexLimits* limits, bool convert);
  // Looks for the boot loader on the run's connection when the application
  // did not take the boot command. False when a message was shown.
  bool FindWaitingBootLoader();
  void ShowBusy();
  std::string WithLibraryProblem(const std::string& text);

  FlashEnvironment env_;
  BootLibrary& lib_;
  FlashUi& ui_;
  DialogService& dialogs_;
  FlashClock& clock_;
  BootSession session_;

  ParameterFile ini_;
  CommandLine cmd_;
  ProgramSettings settings_;
  std::string chip_;
  std::uint32_t deviceCode_ = 0;
  std::string revision_;
  bool libraryChecked_ = false;
  bool applicationPresent_ = false;
  bool programmed_ = false;
  ControllerLock controllerLock_;  // held from the start of a run to Form_Unload
  bool leftApplication_ = false;
  // Whether the boot loader answered during the run: only then does a
  // failure's message say the controller was left in it.
  bool inBootLoader_ = false;
  bool cancelled_ = false;
  int rows_ = 0;  // program-memory rows of the converted HEX file
  bool converted_ = false;
  // What the history and the header line record of the run.
  IdentityProbe* probe_ = nullptr;
  std::chrono::system_clock::time_point started_{};
  std::optional<std::int32_t> serial_;
  bool headerShown_ = false;
  bool factsRead_ = false;
  std::optional<FileFacts> hexFacts_;
};

}  // namespace hx::flash
