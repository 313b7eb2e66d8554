#include "flashtool/flash_run.h"

#include <array>
#include <chrono>
#include <set>

#include "common/shown_text.h"
#include "flashtool/run_locks.h"
#include "wire/boot_memory_map.h"

namespace hx::flash {

namespace {

constexpr const char* kCannotConnect = "Cannot connect. Please check the USB cable";
constexpr const char* kBootFlagError = "Error writing the boot flag";

std::string HexText(int value) {
  // Negative 16-bit results show as their two's complement, as a 16-bit hex conversion does.
  return HexPad(value < 0 ? static_cast<std::uint16_t>(value) : static_cast<std::uint32_t>(value), 0);
}

}  // namespace

FlashTool::FlashTool(FlashEnvironment env, BootLibrary& library, FlashUi& ui, DialogService& dialogs,
                     FlashClock& clock)
    : env_(std::move(env)),
      lib_(library),
      ui_(ui),
      dialogs_(dialogs),
      clock_(clock),
      session_(library, ui, clock, env_.listFolder, [this] { return Cancelled(); }) {}

FlashTool::~FlashTool() { Form_Unload(); }

// ---- The run ----

RunEnd FlashTool::Form_Activate() {
  BeginRun();
  if (cmd_.spy) return Spy();  // never leaves its loop but for the operator closing the window
  if (!ChooseHexFile() || Cancelled()) return RunEnd::Failed;
  // One run per controller: a second one started beside this program is
  // refused before it sends anything (the boot loader also takes one
  // connection only, for runs from elsewhere).
  if (!controllerLock_.Acquire(env_.listFolder, cmd_.UsbID)) {
    ShowBusy();
    return RunEnd::Failed;
  }
  if (cmd_.boot) return BootMode();
  // What can be checked without the controller is checked before it leaves
  // its application.
  if (!CheckBeforeBoot() || Cancelled()) return RunEnd::Failed;
  if (!StartBootLoader()) return RunEnd::Failed;
  if (!Identify() || Cancelled()) return RunEnd::Failed;
  if (!PrepareForChip() || Cancelled()) return RunEnd::Failed;
  const std::string summary = ConfigSummary();
  if (!WriteConfiguration()) return RunEnd::Failed;
  if (!EraseProgramAndVerify()) return RunEnd::Failed;
  std::uint8_t flag = 0xFF;
  if (!CheckApplication(flag) || !LeaveBootFlag(flag)) return RunEnd::Failed;
  ShowIdentification(summary);
  return Finish();
}

void FlashTool::BeginRun() {
  programmed_ = applicationPresent_ = leftApplication_ = inBootLoader_ = cancelled_ = false;
  session_.Begin(cmd_.UsbID);
}

RunEnd FlashTool::Spy() {
  if (!EnsureLibrary()) return RunEnd::Failed;
  const std::int32_t h = lib_.OpenPIC(cmd_.UsbID, 0, boot::kApplicationInterface);
  if (h < 1) {
    Error(WithLibraryProblem(kCannotConnect));
    return RunEnd::Failed;
  }
  std::array<std::uint8_t, boot::kRawBufferSize> buffer{};
  while (!ui_.StopRequested()) {
    ui_.DoEvents();
    std::int32_t received = 0;
    lib_.ReadRawData(h, buffer, received);
    if (received > 0) {
      std::string hex;
      for (std::int32_t i = 0; i < received; ++i) hex += HexPad(buffer[static_cast<std::size_t>(i)], 2);
      ui_.ShowRawBytes(hex);
    } else {
      clock_.Idle(std::chrono::milliseconds(10));
    }
  }
  lib_.ClosePIC(h);
  return RunEnd::Failed;
}

bool FlashTool::ChooseHexFile() {
  if (cmd_.noprog) return true;
  Status("Chargement du fichier en cours ...");
  if (cmd_.hexPath.empty()) {
    const auto file = dialogs_.OpenFile({"Open HEX File", "INHEX32 Files (*.HEX)|*.HEX|All Files (*.*)|*.*",
                                         env_.hexBaseFolder.string(), ""});
    if (!file || file->empty()) return false;
    cmd_.hexPath = *file;
  }
  return true;
}

RunEnd FlashTool::BootMode() {
  // Sends the boot command until the application is gone.
  ReadSerialAndShowHeader();
  if (!EnsureLibrary()) return RunEnd::Failed;
  while (!ui_.StopRequested()) {
    if (!session_.SendBootCommand(cmd_.cmdVal, cmd_.cmdLen)) break;
    session_.WaitMs(800);
  }
  Error(WithLibraryProblem(kCannotConnect));
  return RunEnd::Failed;
}

bool FlashTool::StartBootLoader() {
  // Without a product the controller is in its boot loader already.
  if (cmd_.device.empty() && !cmd_.idonly) {
    ShowHeader();
    leftApplication_ = true;
    return true;
  }
  // Makes the application jump into its boot loader; one that does not
  // answer may be in its boot loader already (an interrupted run).
  Status("Starting boot loader ...");
  ReadSerialAndShowHeader();
  if (!EnsureLibrary()) return false;
  if (!session_.SendBootCommand(cmd_.cmdVal, cmd_.cmdLen)) return FindWaitingBootLoader();
  leftApplication_ = true;
  Log("Boot command sent (" + std::to_string(cmd_.cmdLen) + " bytes, value " + std::to_string(cmd_.cmdVal) +
      ")");
  session_.WaitSecondsAdvance(2);
  return true;
}

bool FlashTool::Identify() {
  Status("Waiting on connection ...");
  if (!EnsureLibrary() || !IdentifyDevice()) return false;
  Log("Chip " + ShownText(chip_) + " identified: code " + HexPad(deviceCode_, 0) + " hex, " +
      std::to_string(deviceCode_) + " in DEVICELIST, revision " + revision_);
  return true;
}

bool FlashTool::PrepareForChip() {
  // Without a product, the file is checked against the chip found, still
  // before anything is changed.
  if (cmd_.noprog || converted_) return true;
  const HexLimits limits = SharedLimits({session_.Chip()}, !cmd_.old_mode);
  return PrepareHexFile(&limits, true);
}

std::string FlashTool::ConfigSummary() {
  // CONFIG2L, CONFIG2H and CONFIG4L.
  const int a = session_.ReadConfigByte(boot::kConfigBase + 2);
  const int b = session_.ReadConfigByte(boot::kConfigBase + 3);
  const int c = session_.ReadConfigByte(boot::kConfigBase + 6);
  return "CNF " + HexText(a) + ":" + HexText(b) + ":" + HexText(c);
}

bool FlashTool::WriteConfiguration() {
  if (cmd_.idonly) return true;
  Status("Programming CONFIG bits ...");
  const Product* product = FindProduct(cmd_.device);
  bool failed = false;
  int code = 0, stage = 0;
  if (product) {
    for (std::size_t i = 0; i < product->config.size(); ++i) {
      const int r = session_.WriteConfigByte(product->config[i].address, product->config[i].value);
      if (r == 1) continue;
      failed = true;
      if (product->stopsAtFirstFailure) {
        code = r;
        stage = static_cast<int>(i) + 1;
        break;
      }
    }
  }
  if (failed) {
    Error("Error programming CONFIG bits, code " + std::to_string(code) + "/" + std::to_string(stage));
    return false;
  }
  std::string written;
  if (product) {
    for (const auto& c : product->config) written += " " + HexPad(c.address, 6) + "=" + HexPad(c.value, 2);
  }
  Log(written.empty() ? "Configuration: no configuration byte for this product"
                      : "Configuration written:" + written);
  return !Cancelled();
}

bool FlashTool::EraseProgramAndVerify() {
  if (cmd_.noprog) return true;
  // The boot flag goes to 0xFF first, so a controller that loses its link or
  // power from here on stays in its boot loader, where the next run finds
  // it, and never starts half a firmware.
  const DeviceInfo& info = session_.Chip();
  ui_.ShowProgress();
  if (session_.WriteBootFlag(0xFF) & 0x8000) {
    Error(kBootFlagError);
    return false;
  }
  Status("Erasing FLASH ...");
  if (session_.EraseFlash(info.pmrangelow, info.pmrangehigh) != 1) {
    if (cancelled_) return false;
    Error("Erreur effacement\nErase failed at address " + HexPad(session_.FailedAddress(), 6) + " (erasing " +
          HexPad(info.pmrangelow, 6) + "-" + HexPad(info.pmrangehigh, 6) + ")");
    return false;
  }
  Log("Erased " + HexPad(info.pmrangelow, 6) + "-" + HexPad(info.pmrangehigh, 6));
  Status("Programming ...");
  if (session_.ProgramFlash(info.writeblock, info.bytesperaddr, boot::kWriteProgram, settings_.progmem,
                            rows_) != 1) {
    if (cancelled_) return false;
    Error("Write error!\nWriting failed at address " + HexPad(session_.FailedAddress(), 6) + " after " +
          std::to_string(session_.BytesWritten()) + " bytes");
    return false;
  }
  programmed_ = true;
  if (cmd_.noverify) return true;
  if (Cancelled()) return false;
  Status("Verifying ...");
  std::uint32_t at = 0;
  if (const int verified = session_.VerifyFlash(at); verified != 1) {
    session_.WriteBootFlag(0xFF);
    Error("Verify error at address " + HexPad(at, 6) + (verified < 0 ? " (no answer)" : ""));
    return false;
  }
  Log("Verified " + std::to_string(session_.BytesVerified()) + " bytes: all equal");
  return true;
}

bool FlashTool::CheckApplication(std::uint8_t& flag) {
  // A read that fails leaves the boot flag alone: the run cannot tell what
  // the controller holds.
  const int appByte = session_.ReadConfigByte(boot::kApplicationCheckAddress);
  if (appByte < 0) {
    Error("Communication error");
    return false;
  }
  Log(appByte == boot::kGotoOpcode
          ? "Application check: application present (EF at 000201)"
          : "Application check: no application (" + HexPad(appByte, 2) + " at 000201)");
  if (appByte != boot::kGotoOpcode) {
    Status("FLASH empty or corrupt");
    flag = 0xFF;
    return true;
  }
  applicationPresent_ = true;
  Status("Leaving boot loader");
  const DeviceInfo& info = session_.Chip();
  if (!cmd_.noprog && !cmd_.old_mode &&
      (session_.WriteFlashMarker(info.writeblock, info.bytesperaddr, boot::kWriteProgram) & 0x8000)) {
    session_.WriteBootFlag(0xFF);
    Error("Error writing the flash marker");
    return false;
  }
  flag = cmd_.noprog ? 0x55 : 0x00;
  return true;
}

bool FlashTool::LeaveBootFlag(std::uint8_t flag) {
  if (session_.WriteBootFlag(flag) & 0x8000) {
    Error(kBootFlagError);
    return false;
  }
  Log("Boot flag " + HexPad(flag, 2) + " written at EEPROM address FF");
  return true;
}

void FlashTool::ShowIdentification(const std::string& summary) {
  if (!cmd_.idonly) return;
  dialogs_.Message({"Device = " + ShownText(chip_) + " (Code = " + HexPad(deviceCode_, 0) + ") REV " +
                        revision_ + "\n" + summary + "\nCode " + std::to_string(deviceCode_) +
                        " in decimal, as in DEVICELIST",
                    env_.title, MsgButtons::Ok, MsgIcon::None});
}

RunEnd FlashTool::Finish() {
  // A run that programmed and left no application has failed, whatever the
  // design's order of messages said.
  CloseDevice();
  if (programmed_) {
    Log("Written " + std::to_string(session_.BytesWritten()) + " bytes, verified " +
        std::to_string(session_.BytesVerified()) + " bytes, CRC-32 " + HexPad(ImageCrc(), 8) +
        " of the programmed image");
  }
  if (programmed_ && !applicationPresent_) {
    Error("FLASH empty or corrupt: the controller holds no application after programming.");
    return RunEnd::Completed;
  }
  leftApplication_ = inBootLoader_ = false;
  if (!cmd_.idonly) Error("Programming complete.", MsgIcon::Information);
  return RunEnd::Completed;
}

// ---- Helpers of the steps ----

void FlashTool::Status(const std::string& text) {
  ui_.SetStatus(text);
  ui_.DoEvents();
}

void FlashTool::Error(const std::string& text, MsgIcon icon) {
  const bool failure = icon != MsgIcon::Information;
  dialogs_.Message({failure && inBootLoader_ ? text + "\n\n" + kLeftInBootLoader : text, env_.title,
                    MsgButtons::Ok, icon});
}

bool FlashTool::Cancelled() {
  if (cancelled_) return true;
  if (!ui_.StopRequested()) return false;
  if (!leftApplication_) {
    cancelled_ = true;
    Status("Cancelled");
    Log("Cancelled: nothing was sent to the controller");
    return true;
  }
  if (dialogs_.Message({"Stop the update now? The controller will stay in its boot loader until the update "
                        "is run again.",
                        env_.title, MsgButtons::YesNo, MsgIcon::Question, true}) != MsgAnswer::Yes) {
    ui_.ClearStop();
    Log("Cancel declined: the run goes on");
    return false;
  }
  cancelled_ = true;
  // A boot flag of 0xFF keeps the boot loader in charge after any reset.
  if (session_.Handle() >= 1) session_.WriteBootFlag(0xFF);
  Status("Cancelled");
  Log("Cancelled: boot flag 0xFF, the controller stays in its boot loader");
  dialogs_.Message({std::string("Update cancelled.\n") + kLeftInBootLoader, env_.title, MsgButtons::Ok,
                    MsgIcon::Exclamation});
  return true;
}

void FlashTool::LogHexFile(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  // The program-memory ranges the rows cover, from the converted list.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  if (std::istream* list = session_.KeptList()) {
    std::set<std::uint32_t> rows;
    std::string line;
    while (std::getline(*list, line)) {
      std::uint32_t address = 0;
      std::array<std::uint8_t, 16> data{};
      if (ParseListRow(line, address, data.data())) rows.insert(address & ~0xFu);
    }
    list->clear();
    list->seekg(0);
    for (const auto r : rows) {
      if (!ranges.empty() && ranges.back().second + 1 == r) {
        ranges.back().second = r + 15;
      } else {
        ranges.push_back({r, r + 15});
      }
    }
  }
  std::string text = "File " + ShownText(path.filename().string()) +
                     " checked: " + (ec ? std::string("size unknown") : std::to_string(size) + " bytes") +
                     ", " + std::to_string(rows_) + " program rows";
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    text += (i == 0 ? ", program memory " : ", ") + HexPad(ranges[i].first, 6) + "-" +
            HexPad(ranges[i].second, 6);
  }
  Log(text);
}

bool FlashTool::EnsureLibrary() {
  if (libraryChecked_) return true;
  std::string error;
  if (!lib_.Ready(error)) {
    Error("Boot-loader library not available: " + error);
    return false;
  }
  libraryChecked_ = true;
  return true;
}

bool FlashTool::FindWaitingBootLoader() {
  const std::int32_t h = session_.OpenBootLoader();
  if (h == boot::kOpenBusy) {
    ShowBusy();
    return false;
  }
  if (h < 1) {
    Error(WithLibraryProblem(kCannotConnect));
    return false;
  }
  session_.SetHandle(h);
  leftApplication_ = inBootLoader_ = true;
  Status("No answer from the application: the controller is in its boot loader already");
  Log("Controller found in its boot loader (an update was interrupted): this run finishes it");
  return true;
}

void FlashTool::ShowBusy() {
  Error(
      WithLibraryProblem("Controller " + std::to_string(cmd_.UsbID) + " is being programmed by another run"));
}

std::string FlashTool::WithLibraryProblem(const std::string& text) {
  // The library's reason for a failed open (no permission on the device,
  // its interface held by another program) tells the operator what to do.
  const std::string problem = lib_.Problem();
  return problem.empty() ? text : text + "\n" + problem;
}

bool FlashTool::CheckBeforeBoot() {
  converted_ = false;
  rows_ = 0;
  if (cmd_.idonly) return true;
  if (cmd_.device.empty()) {
    // The chip is known only once identified: the file's syntax now, its
    // addresses after identification.
    return cmd_.noprog || PrepareHexFile(nullptr, false);
  }
  // Every chip of DEVICELIST that the product's TARGET names.
  std::vector<DeviceInfo> chips;
  for (const auto& [code, chip] : ini_.Section("DEVICELIST")) {
    if (chip.empty() || cmd_.target.find(chip) == std::string::npos) continue;
    DeviceInfo info;
    std::string reason;
    if (!ReadChipSection(ini_, chip, info, reason)) {
      Status(ShownText(reason));
      Error("Chip " + ShownText(chip) + " in PROGRAMMER.INI: " + ShownText(reason));
      return false;
    }
    chips.push_back(info);
  }
  if (chips.empty()) {
    Status("TARGET of " + ShownText(cmd_.device) + " names no chip of DEVICELIST");
    Error("Device " + ShownText(cmd_.device) + " not found in PROGRAMMER.INI");
    return false;
  }
  if (cmd_.noprog) return true;
  // Unless in old mode, the top row takes the flash marker: a file with
  // data there is refused before the boot command.
  const HexLimits limits = SharedLimits(chips, !cmd_.old_mode);
  return PrepareHexFile(&limits, true);
}

bool FlashTool::PrepareHexFile(const HexLimits* limits, bool convert) {
  const std::filesystem::path path = HexFile();
  HexFacts();  // the file's size and CRC-32 as it is loaded
  HexProblem problem;
  std::string warning;
  int rows = 0;
  if (!convert) {
    rows = CheckHexFile(path, limits, &problem);
  } else {
    ListFolderLock lock;
    if (const FileStatus locked = lock.Lock(env_.listFolder); !locked.ok()) {
      const auto file = env_.listFolder / "flashtool.lock";
      const std::string holder = LockHolder(file);
      Error("Error loading file: " + ShownText(cmd_.hexPath) + "\n" + file.string() + ": held by " +
            (holder.empty() ? "another run" : ShownText(holder)) + " for over " +
            std::to_string(kListFolderWait.count() / 1000) + " s");
      return false;
    }
    rows = LoadHexFile(
        path, {env_.listFolder, settings_.progmem, settings_.eedata, settings_.userid, settings_.config},
        &warning, limits, &problem);
    if (rows >= 1 && !settings_.progmem.empty()) {
      session_.KeepList(settings_.progmem);
    }
  }
  if (!warning.empty()) Error(warning, MsgIcon::Exclamation);
  std::string reason;
  if (rows < 0 && !problem.reason.empty()) reason = problem.Text();
  if (rows == 0 && convert) reason = "The file holds no program memory data";
  reason = ShownText(reason);
  if (!reason.empty()) Status(reason);
  if (rows < 1) {
    // The design's text, then why the file was refused.
    Error("Error loading file: " + ShownText(cmd_.hexPath) + (reason.empty() ? "" : "\n" + reason));
    return false;
  }
  if (convert) {
    rows_ = rows;
    converted_ = true;
    LogHexFile(path);
  } else {
    Log("File " + ShownText(path.filename().string()) + " checked: syntax correct");
  }
  return true;
}

bool FlashTool::IdentifyDevice() {
  if (session_.Handle() < 1) {
    const std::int32_t h = session_.OpenBootLoader();
    session_.SetHandle(h < 0 ? 0 : h);
    if (h == boot::kOpenBusy) {
      ShowBusy();
      return false;
    }
    if (h < 0) {
      Error(WithLibraryProblem("USB connection impossible"));
      return false;
    }
  }
  // The boot loader answered: from here on a failure leaves it in charge.
  if (session_.Handle() >= 1) inBootLoader_ = true;
  const std::int32_t word = session_.ReadDeviceId();
  if (word == -1) {
    Error("Communication error");
    return false;
  }
  deviceCode_ = static_cast<std::uint32_t>(word) / 32;
  revision_ = std::to_string(word % 32);
  chip_ = ini_.ReadIni("DEVICELIST", std::to_string(deviceCode_));
  if (chip_.empty()) chip_ = "UNKNOWN";
  if (cmd_.idonly) return true;

  if (chip_ == "UNKNOWN") {
    Error("Device code " + HexPad(deviceCode_, 0) + " Rev " + revision_ + " not defined!\nCode " +
              std::to_string(deviceCode_) + " in decimal, as DEVICELIST in " + IniPath().string() +
              " lists codes",
          MsgIcon::None);
    return false;
  }
  if (!cmd_.target.empty()) {
    if (cmd_.target.find(chip_) == std::string::npos) {
      Error(ShownText(cmd_.target) + ":" + ShownText(chip_) + " not defined for this hardware",
            MsgIcon::None);
      return false;
    }
  } else if (dialogs_.Message({"Continue with " + ShownText(chip_) + "?", env_.title, MsgButtons::YesNo,
                               MsgIcon::Question}) != MsgAnswer::Yes) {
    return false;
  }
  return ReadDeviceInfo();
}

bool FlashTool::ReadDeviceInfo() {
  std::string reason;
  DeviceInfo info;
  const bool read = ReadChipSection(ini_, chip_, info, reason);
  session_.SetChip(info);
  if (!read) {
    Status(ShownText(reason));
    Error("Chip " + ShownText(chip_) + " in PROGRAMMER.INI: " + ShownText(reason));
    return false;
  }
  return true;
}

void FlashTool::Form_Unload() {
  CloseDevice();
  controllerLock_.Release();
}

}  // namespace hx::flash
