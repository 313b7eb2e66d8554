#include "flashtool/flash_run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>

#include "common/safe_file.h"
#include "flashtool/products.h"
#include "wire/boot_memory_map.h"

namespace hx::flash {

namespace {

using boot::kApplicationCheckAddress;
using boot::kBootFlagAddress;
using boot::kConfigBase;
using boot::kDeviceIdAddress;
using boot::kGotoOpcode;
constexpr const char* kCannotConnect = "Cannot connect. Please check the USB cable";
constexpr const char* kBootFlagError = "Error writing the boot flag";

std::string HexText(int value) {
  // Negative 16-bit results show as their two's complement, as a 16-bit hex conversion does.
  return HexPad(value < 0 ? static_cast<std::uint16_t>(value) : static_cast<std::uint32_t>(value), 0);
}

// Holds an exclusive lock on the list folder while one run converts its HEX
// file and opens its program-memory list: two runs at once (two controllers
// on one bench) would otherwise write the same list files, and one could
// program the other's firmware. Once opened, a run's list stays its own even
// when another run renames a new list over the name.
class ListFolderLock {
 public:
  explicit ListFolderLock(const std::filesystem::path& folder)
      : fd_(::open((folder / "flashtool.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~ListFolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  ListFolderLock(const ListFolderLock&) = delete;
  ListFolderLock& operator=(const ListFolderLock&) = delete;

 private:
  int fd_;
};

// A list file is read whole when it is opened, so that it stays this run's
// own; only a regular file is read. 16 MiB holds the rows of the whole
// program memory a PIC18 can address (2 MiB).
constexpr std::size_t kListFileLimit = std::size_t{16} << 20;

std::unique_ptr<std::istream> ReadList(const std::filesystem::path& path) {
  std::string text;
  if (!ReadRegularFile(path, kListFileLimit, text).ok()) return nullptr;
  return std::make_unique<std::istringstream>(std::move(text));
}

}  // namespace

std::int64_t SteadyFlashClock::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SteadyFlashClock::Idle(std::chrono::milliseconds step) { std::this_thread::sleep_for(step); }

std::vector<std::string> ProductsIn(const ParameterFile& ini) {
  std::vector<std::string> products;
  for (const auto& section : ini.SectionNames()) {
    long len = 0, val = 0;
    if (!ini.ReadIni(TargetSection(section), "TARGET").empty() &&
        ParseInteger(ini.ReadIni(section, "CMDLEN"), 1, boot::kBootCommandBufferSize, len) &&
        ParseInteger(ini.ReadIni(section, "CMDVAL"), -32768, 65535, val)) {
      products.push_back(section);
    }
  }
  return products;
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  crc = ~crc;
  for (const std::uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string GetToken(std::string& str, std::string_view delim) {
  const std::size_t b = str.find_first_not_of(' ');
  if (b == std::string::npos) {
    str.clear();
    return {};
  }
  str = str.substr(b, str.find_last_not_of(' ') - b + 1);
  const std::size_t at = delim.empty() ? std::string::npos : str.find(delim);
  if (at == std::string::npos) {
    std::string all = std::move(str);
    str.clear();
    return all;
  }
  std::string token = str.substr(0, at);
  str = str.substr(at + delim.size());
  return token;
}

const std::vector<std::string>& UsageLines() {
  static const std::vector<std::string> lines = {
      "Command line parameters: <opt1>;<opt2>;<opt3> ...",
      "    device=<dev>",
      "    prg=<hex file>",
      "    usbid=<cxn>",
      "    noprog               Do not program",
      "    idonly               Read and display device ID",
      "    boot                 Loop trying to force bootload",
      "    noverify             Do not read back what was programmed",
      "",
      "    <dev> arvel/paxter/mervo/dunix/hosper/arvel5-12/arvel12-24",
      "    <hex file> .HEX file to program",
      "    <cxn> USB connection to use (typically 1)",
      "",
      "    flashtool --choose   choose the controller, product and file in the window",
  };
  return lines;
}

FlashTool::FlashTool(FlashEnvironment env, BootLibrary& library, FlashUi& ui, DialogService& dialogs,
                     FlashClock& clock)
    : env_(std::move(env)), lib_(library), ui_(ui), dialogs_(dialogs), clock_(clock) {}

FlashTool::~FlashTool() { Form_Unload(); }

void FlashTool::Status(const std::string& text) {
  ui_.SetStatus(text);
  ui_.DoEvents();
}

void FlashTool::Error(const std::string& text, MsgIcon icon) {
  const bool failure = icon != MsgIcon::Information;
  dialogs_.Message({failure && leftApplication_ ? text + "\n\n" + kLeftInBootLoader : text, env_.title,
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
  if (handle_ >= 1) WriteBootFlag(0xFF);
  Status("Cancelled");
  Log("Cancelled: boot flag 0xFF, the controller stays in its boot loader");
  dialogs_.Message({std::string("Update cancelled.\n") + kLeftInBootLoader, env_.title, MsgButtons::Ok,
                    MsgIcon::Exclamation});
  return true;
}

std::uint32_t FlashTool::ImageCrc() const {
  std::uint32_t crc = 0;
  for (const auto& [row, bytes] : expected_) crc = Crc32(bytes, crc);
  return crc;
}

void FlashTool::LogHexFile(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  // The program-memory ranges the rows cover, from the converted list.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  if (progmemList_) {
    std::set<std::uint32_t> rows;
    std::string line;
    while (std::getline(*progmemList_, line)) {
      std::uint32_t address = 0;
      std::array<std::uint8_t, 16> data{};
      if (ParseListRow(line, address, data.data())) rows.insert(address & ~0xFu);
    }
    progmemList_->clear();
    progmemList_->seekg(0);
    for (const auto r : rows) {
      if (!ranges.empty() && ranges.back().second + 1 == r) {
        ranges.back().second = r + 15;
      } else {
        ranges.push_back({r, r + 15});
      }
    }
  }
  std::string text = "File " + path.filename().string() +
                     " checked: " + (ec ? std::string("size unknown") : std::to_string(size) + " bytes") +
                     ", " + std::to_string(rows_) + " program rows";
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    text += (i == 0 ? ", program memory " : ", ") + HexPad(ranges[i].first, 6) + "-" +
            HexPad(ranges[i].second, 6);
  }
  Log(text);
}

bool FlashTool::Form_Load(const std::string& commandTail) {
  cmd_ = CommandLine{};
  std::string tail = commandTail;
  if (Trim(tail).empty()) {
    for (const auto& line : UsageLines()) ui_.PrintLine(line);
  }
  const auto iniPath = IniPath();
  if (std::string why; !ReadParameterFile(why)) {
    // A file that is there but refused says why under the usual message.
    std::error_code ec;
    const bool there = std::filesystem::exists(iniPath, ec);
    Error("Parameter file " + env_.title + ".INI missing" +
          (there ? "\n" + iniPath.string() + ": " + why : ""));
    return false;
  }

  while (!Trim(tail).empty()) {
    std::string option = GetToken(tail, ";");
    const std::string key = ToUpper(Trim(GetToken(option, "=")));
    const std::string value = Trim(option);
    if (key == "DEVICE") {
      cmd_.device = ToUpper(value);
      cmd_.target = ini_.ReadIni(TargetSection(cmd_.device), "TARGET");
    } else if (key == "PRG") {
      cmd_.hexPath = value;  // a Linux path keeps its case
    } else if (key == "NOPROG") {
      cmd_.noprog = true;
    } else if (key == "IDONLY") {
      cmd_.idonly = cmd_.noprog = true;
    } else if (key == "BOOT") {
      cmd_.boot = cmd_.noprog = true;
    } else if (key == "SPY") {
      cmd_.spy = true;
    } else if (key == "OLD_MODE") {
      cmd_.old_mode = true;
    } else if (key == "NOVERIFY") {
      cmd_.noverify = true;
    } else if (key == "USBID") {
      long id = 0;
      if (ParseInteger(value, INT32_MIN, INT32_MAX, id)) cmd_.UsbID = static_cast<std::int32_t>(id);
    }
    // Any other key (LANGUE, for one) is ignored.
  }

  const Product* product = FindProduct(cmd_.device);
  if (product && product->forcesOldMode) cmd_.old_mode = true;

  if (cmd_.UsbID == -1) {
    Error("USB device ID not supplied");
    return false;
  }
  // The design's text, then where the file really is and what it offers.
  std::string notFound = "Device " + cmd_.device +
                         " not found in PROGRAMMER.INI\nParameter file: " + IniPath().string() +
                         "\nProducts:";
  for (const auto& p : Products()) notFound += " " + p;
  if (Products().empty()) notFound += " none";
  if (cmd_.target.empty() && !cmd_.device.empty()) {
    Error(notFound);
    return false;
  }
  if (!cmd_.target.empty()) {
    // The boot command's length and value must be numbers; the length must
    // fit the 51-byte boot command buffer.
    long len = 0, val = 0;
    if (!ParseInteger(ini_.ReadIni(cmd_.device, "CMDLEN"), 1, boot::kBootCommandBufferSize, len) ||
        !ParseInteger(ini_.ReadIni(cmd_.device, "CMDVAL"), -32768, 65535, val)) {
      Error(notFound);
      return false;
    }
    cmd_.cmdLen = static_cast<std::uint8_t>(len);
    cmd_.cmdVal = static_cast<std::uint16_t>(val);
    cmd_.config = Trim(ini_.ReadIni(cmd_.device, "CONFIG"));
  } else {
    cmd_.cmdLen = 9;
    cmd_.cmdVal = 23;
  }
  settings_.progmem = ini_.ReadIni("PIC18FBOOT", "progmem");
  settings_.eedata = ini_.ReadIni("PIC18FBOOT", "eedata");
  settings_.userid = ini_.ReadIni("PIC18FBOOT", "userid");
  settings_.config = ini_.ReadIni("PIC18FBOOT", "config");
  settings_.errorlog = ini_.ReadIni("PIC18FBOOT", "errorlog");
  ParseInteger(ini_.ReadIni("PIC18FBOOT", "debuglevel"), INT32_MIN, INT32_MAX, settings_.debuglevel);
  ParseInteger(ini_.ReadIni("PIC18FBOOT", "devicemode"), 0, 255, settings_.devicemode);
  settings_.editor = ini_.ReadIni("PIC18FBOOT", "editor");
  return true;
}

bool FlashTool::ReadParameterFile(std::string& why) { return ini_.Load(IniPath(), &why); }

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

void FlashTool::WaitMs(std::int64_t ms) {
  const std::int64_t end = clock_.NowMs() + ms;
  while (clock_.NowMs() < end) {
    ui_.DoEvents();
    clock_.Idle(std::chrono::milliseconds(10));
  }
}

void FlashTool::WaitSecondsAdvance(int seconds) {
  // Until the clock's seconds have moved on by `seconds`: a wait of
  // seconds-1 to seconds.
  const std::int64_t now = clock_.NowMs();
  WaitMs((now / 1000 + seconds) * 1000 - now);
}

bool FlashTool::SendBootCommand() {
  const std::int32_t h = lib_.OpenPIC(cmd_.UsbID, 0, boot::kApplicationInterface);
  if (h < 1) return false;
  const auto command = boot::MakeBootCommand(cmd_.cmdVal, cmd_.cmdLen);
  lib_.SendRawData(h, command);
  lib_.ClosePIC(h);
  return true;
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

RunEnd FlashTool::Form_Activate() {
  programmed_ = applicationPresent_ = leftApplication_ = cancelled_ = false;
  bytesWritten_ = bytesVerified_ = 0;
  reconnects_ = 3;
  // 1. Spy mode never leaves its loop (but for the operator closing the window).
  if (cmd_.spy) return Spy();

  // 2. The HEX file.
  if (!cmd_.noprog) {
    Status("Chargement du fichier en cours ...");
    if (cmd_.hexPath.empty()) {
      const auto file = dialogs_.OpenFile({"Open HEX File", "INHEX32 Files (*.HEX)|*.HEX|All Files (*.*)|*.*",
                                           env_.hexBaseFolder.string(), ""});
      if (!file || file->empty()) return RunEnd::Failed;
      cmd_.hexPath = *file;
    }
  }
  if (Cancelled()) return RunEnd::Failed;

  // One run per controller: a second one started beside this program is
  // refused before it sends anything (the boot loader also takes one
  // connection only, for runs from elsewhere).
  if (!LockController()) {
    ShowBusy();
    return RunEnd::Failed;
  }

  // 3. Boot mode: send the boot command until the application is gone.
  if (cmd_.boot) {
    if (!EnsureLibrary()) return RunEnd::Failed;
    while (!ui_.StopRequested()) {
      if (!SendBootCommand()) break;
      WaitMs(800);
    }
    Error(WithLibraryProblem(kCannotConnect));
    return RunEnd::Failed;
  }

  // What can be checked without the controller is checked before it leaves
  // its application.
  if (!CheckBeforeBoot()) return RunEnd::Failed;
  if (Cancelled()) return RunEnd::Failed;

  // 4. Make the application jump into its boot loader; one that does not
  // answer may be in its boot loader already (an interrupted run).
  if (!cmd_.device.empty() || cmd_.idonly) {
    Status("Starting boot loader ...");
    if (!EnsureLibrary()) return RunEnd::Failed;
    if (SendBootCommand()) {
      leftApplication_ = true;
      Log("Boot command sent (" + std::to_string(cmd_.cmdLen) + " bytes, value " +
          std::to_string(cmd_.cmdVal) + ")");
      WaitSecondsAdvance(2);
    } else if (!FindWaitingBootLoader()) {
      return RunEnd::Failed;
    }
  } else {
    // Without a product the controller is in its boot loader already.
    leftApplication_ = true;
  }

  // 5. Identification.
  Status("Waiting on connection ...");
  if (!EnsureLibrary()) return RunEnd::Failed;
  if (!IdentifyDevice()) return RunEnd::Failed;
  Log("Chip " + chip_ + " identified: code " + HexPad(deviceCode_, 0) + " hex, " +
      std::to_string(deviceCode_) + " in DEVICELIST, revision " + revision_);
  if (Cancelled()) return RunEnd::Failed;

  // 6. Without a product, the file is checked against the chip found, still
  // before anything is changed.
  if (!cmd_.noprog && !converted_) {
    const HexLimits limits = SharedLimits({info_});
    if (!PrepareHexFile(&limits, true)) return RunEnd::Failed;
  }
  if (Cancelled()) return RunEnd::Failed;

  // 7. Configuration summary.
  const std::string summary = ConfigSummary();

  // 8-9. Configuration bytes of the product.
  if (!cmd_.idonly) {
    Status("Programming CONFIG bits ...");
    bool failed = false;
    int code = 0, stage = 0;
    if (const Product* product = FindProduct(cmd_.device)) {
      for (std::size_t i = 0; i < product->config.size(); ++i) {
        const int r = WriteConfigByte(product->config[i].address, product->config[i].value);
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
      return RunEnd::Failed;
    }
    std::string written;
    if (const Product* product = FindProduct(cmd_.device)) {
      for (const auto& c : product->config) written += " " + HexPad(c.address, 6) + "=" + HexPad(c.value, 2);
    }
    Log(written.empty() ? "Configuration: no configuration byte for this product"
                        : "Configuration written:" + written);
    if (Cancelled()) return RunEnd::Failed;
  }

  // 10. Erase, program and read back. The boot flag goes to 0xFF first, so
  // a controller that loses its link or power from here on stays in its boot
  // loader, where the next run finds it, and never starts half a firmware.
  if (!cmd_.noprog) {
    ui_.ShowProgress();
    if (WriteBootFlag(0xFF) & 0x8000) {
      Error(kBootFlagError);
      return RunEnd::Failed;
    }
    Status("Erasing FLASH ...");
    if (EraseFlash(info_.pmrangelow, info_.pmrangehigh) != 1) {
      if (cancelled_) return RunEnd::Failed;
      Error("Erreur effacement\nErase failed at address " + HexPad(failedAddress_, 6) + " (erasing " +
            HexPad(info_.pmrangelow, 6) + "-" + HexPad(info_.pmrangehigh, 6) + ")");
      return RunEnd::Failed;
    }
    Log("Erased " + HexPad(info_.pmrangelow, 6) + "-" + HexPad(info_.pmrangehigh, 6));
    Status("Programming ...");
    if (ProgramFlash(info_.writeblock, info_.bytesperaddr, boot::kWriteProgram, settings_.progmem, rows_) !=
        1) {
      if (cancelled_) return RunEnd::Failed;
      Error("Write error!\nWriting failed at address " + HexPad(failedAddress_, 6) + " after " +
            std::to_string(bytesWritten_) + " bytes");
      return RunEnd::Failed;
    }
    programmed_ = true;
    if (!cmd_.noverify) {
      if (Cancelled()) return RunEnd::Failed;
      Status("Verifying ...");
      std::uint32_t at = 0;
      if (const int verified = VerifyFlash(at); verified != 1) {
        WriteBootFlag(0xFF);
        Error("Verify error at address " + HexPad(at, 6) + (verified < 0 ? " (no answer)" : ""));
        return RunEnd::Failed;
      }
      bytesVerified_ = expected_.size() * 16;
      Log("Verified " + std::to_string(bytesVerified_) + " bytes: all equal");
    }
  }

  // 11. Application check. A read that fails leaves the boot flag alone: the
  // run cannot tell what the controller holds.
  std::uint8_t flag;
  const int appByte = ReadConfigByte(kApplicationCheckAddress);
  if (appByte < 0) {
    Error("Communication error");
    return RunEnd::Failed;
  }
  Log(appByte == kGotoOpcode ? "Application check: application present (EF at 000201)"
                             : "Application check: no application (" + HexPad(appByte, 2) + " at 000201)");
  if (appByte == kGotoOpcode) {
    applicationPresent_ = true;
    Status("Leaving boot loader");
    if (!cmd_.noprog && !cmd_.old_mode &&
        (WriteFlashMarker(info_.writeblock, info_.bytesperaddr, boot::kWriteProgram) & 0x8000)) {
      WriteBootFlag(0xFF);
      Error("Error writing the flash marker");
      return RunEnd::Failed;
    }
    flag = cmd_.noprog ? 0x55 : 0x00;
  } else {
    Status("FLASH empty or corrupt");
    flag = 0xFF;
  }

  // 12. Boot flag.
  if (WriteBootFlag(flag) & 0x8000) {
    Error(kBootFlagError);
    return RunEnd::Failed;
  }
  Log("Boot flag " + HexPad(flag, 2) + " written at EEPROM address FF");

  // 13. Identification message.
  if (cmd_.idonly) {
    dialogs_.Message({"Device = " + chip_ + " (Code = " + HexPad(deviceCode_, 0) + ") REV " + revision_ +
                          "\n" + summary + "\nCode " + std::to_string(deviceCode_) +
                          " in decimal, as in DEVICELIST",
                      env_.title, MsgButtons::Ok, MsgIcon::None});
  }

  // 14. Done. A run that programmed and left no application has failed,
  // whatever the design's order of messages said.
  CloseDevice();
  if (programmed_) {
    Log("Written " + std::to_string(bytesWritten_) + " bytes, verified " + std::to_string(bytesVerified_) +
        " bytes, CRC-32 " + HexPad(ImageCrc(), 8) + " of the programmed image");
  }
  if (programmed_ && !applicationPresent_) {
    Error("FLASH empty or corrupt: the controller holds no application after programming.");
    return RunEnd::Completed;
  }
  leftApplication_ = false;
  if (!cmd_.idonly) Error("Programming complete.", MsgIcon::Information);
  return RunEnd::Completed;
}

bool FlashTool::FindWaitingBootLoader() {
  const std::int32_t h = lib_.OpenPIC(cmd_.UsbID, 0, boot::kBootLoaderInterface);
  if (h == boot::kOpenBusy) {
    ShowBusy();
    return false;
  }
  if (h < 1) {
    Error(WithLibraryProblem(kCannotConnect));
    return false;
  }
  handle_ = h;
  leftApplication_ = true;
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
      Status(reason);
      Error("Chip " + chip + " in PROGRAMMER.INI: " + reason);
      return false;
    }
    chips.push_back(info);
  }
  if (chips.empty()) {
    Status("TARGET of " + cmd_.device + " names no chip of DEVICELIST");
    Error("Device " + cmd_.device + " not found in PROGRAMMER.INI");
    return false;
  }
  if (cmd_.noprog) return true;
  const HexLimits limits = SharedLimits(chips);
  return PrepareHexFile(&limits, true);
}

bool FlashTool::PrepareHexFile(const HexLimits* limits, bool convert) {
  std::filesystem::path path(cmd_.hexPath);
  if (path.is_relative()) path = env_.hexBaseFolder / path;
  HexProblem problem;
  std::string warning;
  int rows = 0;
  if (!convert) {
    rows = CheckHexFile(path, limits, &problem);
  } else {
    ListFolderLock lock(env_.listFolder);
    rows = LoadHexFile(
        path, {env_.listFolder, settings_.progmem, settings_.eedata, settings_.userid, settings_.config},
        &warning, limits, &problem);
    if (rows >= 1 && !settings_.progmem.empty()) {
      progmemList_ = ReadList(env_.listFolder / settings_.progmem);
    }
  }
  if (!warning.empty()) Error(warning, MsgIcon::Exclamation);
  std::string reason;
  if (rows < 0 && !problem.reason.empty()) reason = problem.Text();
  if (rows == 0 && convert) reason = "The file holds no program memory data";
  if (!reason.empty()) Status(reason);
  if (rows < 1) {
    // The design's text, then why the file was refused.
    Error("Error loading file: " + cmd_.hexPath + (reason.empty() ? "" : "\n" + reason));
    return false;
  }
  if (convert) {
    rows_ = rows;
    converted_ = true;
    LogHexFile(path);
  } else {
    Log("File " + path.filename().string() + " checked: syntax correct");
  }
  return true;
}

void FlashTool::Form_Unload() {
  CloseDevice();
  if (controllerLock_ >= 0) {
    // Removed while still held, and only when the name still means this
    // file: a run that opened it meanwhile sees it gone and starts over.
    struct stat held {
    }, named{};
    if (::fstat(controllerLock_, &held) == 0 && ::stat(controllerLockPath_.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      ::unlink(controllerLockPath_.c_str());
    }
    ::close(controllerLock_);
    controllerLock_ = -1;
  }
}

bool FlashTool::LockController() {
  if (controllerLock_ >= 0) return true;
  const auto path = env_.listFolder / ("flashtool-" + std::to_string(cmd_.UsbID) + ".lock");
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return true;  // a folder that cannot be written is reported with the list files
    int r;
    while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
      ::close(fd);
      return false;
    }
    // The run that held it may have removed it between our open and lock.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      controllerLock_ = fd;
      controllerLockPath_ = path;
      return true;
    }
    ::close(fd);
  }
  return false;
}

std::string FlashTool::ConfigSummary() {
  // CONFIG2L, CONFIG2H and CONFIG4L.
  const int a = ReadConfigByte(kConfigBase + 2);
  const int b = ReadConfigByte(kConfigBase + 3);
  const int c = ReadConfigByte(kConfigBase + 6);
  return "CNF " + HexText(a) + ":" + HexText(b) + ":" + HexText(c);
}

bool FlashTool::IdentifyDevice() {
  if (handle_ < 1) {
    handle_ = lib_.OpenPIC(cmd_.UsbID, 0, boot::kBootLoaderInterface);
    if (handle_ == boot::kOpenBusy) {
      handle_ = 0;
      ShowBusy();
      return false;
    }
    if (handle_ < 0) {
      handle_ = 0;
      Error(WithLibraryProblem("USB connection impossible"));
      return false;
    }
  }
  const std::int32_t word = ReadDeviceId();
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
      Error(cmd_.target + ":" + chip_ + " not defined for this hardware", MsgIcon::None);
      return false;
    }
  } else if (dialogs_.Message({"Continue with " + chip_ + "?", env_.title, MsgButtons::YesNo,
                               MsgIcon::Question}) != MsgAnswer::Yes) {
    return false;
  }
  return ReadDeviceInfo();
}

bool FlashTool::ReadDeviceInfo() {
  std::string reason;
  if (!ReadChipSection(ini_, chip_, info_, reason)) {
    Status(reason);
    Error("Chip " + chip_ + " in PROGRAMMER.INI: " + reason);
    return false;
  }
  return true;
}

bool ReadChipSection(const ParameterFile& ini, const std::string& chip, DeviceInfo& info,
                     std::string& reason) {
  info = DeviceInfo{};
  bool ok = true;
  auto fail = [&](const std::string& why) {
    if (ok) reason = why;
    ok = false;
  };
  // Hex digits without prefix; `required` ranges must be there.
  auto hex = [&](const char* key, bool required, bool& present) -> std::uint32_t {
    const std::string text = Trim(ini.ReadIni(chip, key));
    present = !text.empty();
    if (text.empty()) {
      if (required) fail(std::string(key) + " is missing");
      return 0;
    }
    if (text.size() > 8 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      fail(std::string(key) + "=" + text + " is not a hex number");
      return 0;
    }
    return ParseHexDigits(text);
  };
  auto byte = [&](const char* key, long min) -> std::uint8_t {
    long v = 0;
    const std::string text = ini.ReadIni(chip, key);
    if (ParseInteger(text, min, 255, v)) return static_cast<std::uint8_t>(v);
    if (min > 0)
      fail(std::string(key) + "=" + text + " is not a number from " + std::to_string(min) + " to 255");
    return 0;
  };
  bool present = false, lowPresent = false;
  auto range = [&](const char* lowKey, const char* highKey, std::uint32_t& low, std::uint32_t& high,
                   bool required) {
    low = hex(lowKey, required, lowPresent);
    high = hex(highKey, required || lowPresent, present);
    if (present && !lowPresent) fail(std::string(lowKey) + " is missing");
    if (ok && present && high < low) fail(std::string(highKey) + " is below " + lowKey);
  };
  range("pmrangelow", "pmrangehigh", info.pmrangelow, info.pmrangehigh, true);
  range("eerangelow", "eerangehigh", info.eerangelow, info.eerangehigh, false);
  range("usrrangelow", "usrrangehigh", info.usrrangelow, info.usrrangehigh, false);
  range("cfgrangelow", "cfgrangehigh", info.cfgrangelow, info.cfgrangehigh, false);
  info.bytesperaddr = byte("bytesperaddr", 1);
  info.maxpacketsize = byte("maxpacketsize", 0);
  info.eraseblock = byte("eraseblock", 1);
  info.readblock = byte("readblock", 0);
  info.writeblock = byte("writeblock", 1);
  info.devicetype = byte("devicetype", 0);
  // Erasing from an address inside a block would erase below it.
  if (ok && info.pmrangelow % info.eraseblock != 0) fail("pmrangelow is not a multiple of eraseblock");
  if (!ok) reason = "[" + chip + "] " + reason;
  return ok;
}

HexLimits SharedLimits(const std::vector<DeviceInfo>& chips) {
  HexLimits limits;
  if (chips.empty()) return limits;
  using Member = std::uint32_t DeviceInfo::*;
  const std::pair<Member, Member> kinds[] = {{&DeviceInfo::pmrangelow, &DeviceInfo::pmrangehigh},
                                             {&DeviceInfo::eerangelow, &DeviceInfo::eerangehigh},
                                             {&DeviceInfo::usrrangelow, &DeviceInfo::usrrangehigh},
                                             {&DeviceInfo::cfgrangelow, &DeviceInfo::cfgrangehigh}};
  for (const auto& [lowOf, highOf] : kinds) {
    std::uint32_t low = 0, high = UINT32_MAX;
    bool any = true;
    for (const auto& c : chips) {
      // A range left out of a chip's section (both ends 0) is no memory.
      if (c.*lowOf == 0 && c.*highOf == 0 && lowOf != &DeviceInfo::pmrangelow) any = false;
      low = std::max(low, c.*lowOf);
      high = std::min(high, c.*highOf);
    }
    if (any && low <= high) limits.ranges.push_back({low, high});
  }
  return limits;
}

std::int32_t FlashTool::ReadDeviceId() {
  const boot::BootRequest request{
      boot::kReadProgram, 2, static_cast<std::int32_t>(kDeviceIdAddress), 1, 1, 0};
  std::array<std::uint8_t, 2> data{};
  if (lib_.ReadPIC(handle_, boot::EncodeBootRequest(request), data) <= 0) return -1;
  return data[1] * 256 + data[0];  // taken unsigned: codes up to 2047
}

int FlashTool::ReadConfigByte(std::uint32_t address) {
  boot::Packet packet = boot::MakeReadBytePacket(address);
  const int r = lib_.SendGetPacket(handle_, packet, boot::kReadBytePacketLength, boot::kPacketCapacity, 1);
  if (r < 0) return r;
  return boot::PacketAnswerByte(packet);
}

int FlashTool::WriteConfigByte(std::uint32_t address, std::uint8_t value) {
  for (;;) {
    boot::Packet packet = boot::MakeWriteConfigPacket(address, value);
    const int r =
        lib_.SendGetPacket(handle_, packet, boot::kWriteConfigPacketLength, boot::kPacketCapacity, 1);
    if (r >= 0) return 1;
    if (reconnects_ <= 0) return r;
    lib_.ClosePIC(handle_);
    WaitSecondsAdvance(2);
    --reconnects_;
    handle_ = lib_.OpenPIC(cmd_.UsbID, 0, boot::kBootLoaderInterface);
  }
}

int FlashTool::EraseFlash(std::uint32_t low, std::uint32_t high) {
  ui_.SetProgressRange(0, static_cast<int>(high >= low ? high - low : 0));
  const std::uint32_t step = info_.eraseblock ? info_.eraseblock : 1;
  for (std::uint64_t a = low; a <= high; a += step) {
    ui_.SetProgressValue(static_cast<int>(a - low));
    ui_.DoEvents();
    if (Cancelled()) return -1;
    boot::Packet packet = boot::MakeErasePacket(static_cast<std::uint32_t>(a));
    const int r = lib_.SendGetPacket(handle_, packet, boot::kErasePacketLength, boot::kPacketCapacity, 5);
    if (r < 0) {
      failedAddress_ = static_cast<std::uint32_t>(a);
      return r;
    }
  }
  return 1;
}

int FlashTool::ProgramFlash(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command,
                            const std::string& listname, int rowcount) {
  constexpr int kFailure = -1;  // bit 15 set
  if (bytesperaddr == 0 || listname.empty()) return kFailure;
  // The list this run converted (opened under the folder lock), else the file by name.
  std::unique_ptr<std::istream> own = std::move(progmemList_);
  if (!own || listname != settings_.progmem) own = ReadList(env_.listFolder / listname);
  if (!own) return kFailure;
  std::istream& list = *own;
  ui_.SetProgressRange(0, rowcount);
  expected_.clear();
  std::string line;
  int row = 0;
  int loggedTenth = 0;
  const std::uint64_t total = static_cast<std::uint64_t>(std::max(rowcount, 1)) * 16;
  while (std::getline(list, line)) {
    if (line.empty() || line == "\r") continue;
    ++row;
    ui_.SetProgressValue(row);
    ui_.DoEvents();
    if (Cancelled()) return kFailure;
    std::uint32_t address = 0;
    std::array<std::uint8_t, 16> data{};
    if (!ParseListRow(line, address, data.data())) return kFailure;
    const boot::BootRequest request{
        command, 16, static_cast<std::int32_t>(address / bytesperaddr), writeblock, bytesperaddr, 0};
    const int r = lib_.WritePIC(handle_, boot::EncodeBootRequest(request), data);
    if (r & 0x8000) {
      failedAddress_ = address;
      return r;
    }
    bytesWritten_ += 16;
    // One log line per tenth of the rows.
    const int tenth = static_cast<int>(std::min<std::uint64_t>(10, bytesWritten_ * 10 / total));
    if (tenth > loggedTenth) {
      loggedTenth = tenth;
      Log("Programming: " + std::to_string(tenth * 10) + " % (" + std::to_string(bytesWritten_) + " of " +
          std::to_string(total) + " bytes)");
    }
    // Programming only clears bits: rows of one address read back as their AND.
    auto [it, fresh] = expected_.try_emplace(address & ~0xFu, data);
    if (!fresh) {
      for (std::size_t k = 0; k < 16; ++k) it->second[k] &= data[k];
    }
  }
  if (list.bad()) return kFailure;
  return 1;
}

int FlashTool::WriteFlashMarker(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command) {
  if (bytesperaddr == 0) return 0x8000;
  const std::uint32_t address = (info_.pmrangehigh & boot::kRowAddressMask) / bytesperaddr;
  const boot::BootRequest request{command,    16,           static_cast<std::int32_t>(address),
                                  writeblock, bytesperaddr, 0};
  std::array<std::uint8_t, 16> data;
  data.fill(0x55);
  return lib_.WritePIC(handle_, boot::EncodeBootRequest(request), data);
}

int FlashTool::VerifyFlash(std::uint32_t& address) {
  const std::uint8_t bytesperaddr = info_.bytesperaddr ? info_.bytesperaddr : 1;
  for (const auto& [row, want] : expected_) {
    ui_.DoEvents();
    const boot::BootRequest request{boot::kReadProgram, 16, static_cast<std::int32_t>(row / bytesperaddr), 1,
                                    bytesperaddr,       0};
    std::array<std::uint8_t, 16> got{};
    if (lib_.ReadPIC(handle_, boot::EncodeBootRequest(request), got) <= 0) {
      address = row;
      return -1;
    }
    for (std::uint32_t k = 0; k < 16; ++k) {
      if (got[k] != want[k]) {
        address = row + k;
        return 0;
      }
    }
  }
  return 1;
}

int FlashTool::WriteBootFlag(std::uint8_t value) {
  const boot::BootRequest request{
      boot::kWriteEeprom, 1, static_cast<std::int32_t>(kBootFlagAddress), 1, 1, 0};
  const std::array<std::uint8_t, 1> data{value};
  return lib_.WritePIC(handle_, boot::EncodeBootRequest(request), data);
}

void FlashTool::CloseDevice() {
  if (handle_ >= 1) {
    lib_.ClosePIC(handle_);
    handle_ = 0;
  }
}

}  // namespace hx::flash
