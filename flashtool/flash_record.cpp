// What a run leaves behind: its header line, its outcome and its line in
// the firmware history.
#include "common/local_time.h"
#include "common/shown_text.h"
#include "flashtool/flash_run.h"

namespace hx::flash {

RunOutcome FlashTool::Outcome(bool loaded, RunEnd end) const {
  if (!loaded || end != RunEnd::Completed) return {cancelled_ ? "cancelled" : "failed", kExitFailed};
  if (programmed_ && !applicationPresent_) return {"no application after programming", kExitFlashEmpty};
  return {"completed", kExitCompleted};
}

std::filesystem::path FlashTool::HexFile() const {
  if (cmd_.hexPath.empty() || cmd_.noprog) return {};
  std::filesystem::path path(cmd_.hexPath);
  if (path.is_relative()) path = (env_.prgFolder.empty() ? env_.hexBaseFolder : env_.prgFolder) / path;
  return path.lexically_normal();
}

const std::optional<FileFacts>& FlashTool::HexFacts() {
  if (!factsRead_) {
    factsRead_ = true;
    const auto file = HexFile();
    hexFacts_ = file.empty() ? std::nullopt : FactsOf(file);
  }
  return hexFacts_;
}

void FlashTool::ReadSerialAndShowHeader() {
  // The application answers only before the boot command.
  if (probe_ && cmd_.UsbID != -1) serial_ = probe_->Serial(cmd_.UsbID);
  ShowHeader();
}

void FlashTool::ShowHeader() {
  if (headerShown_) return;
  headerShown_ = true;
  ui_.LogHeader(HeaderLine());
}

std::string FlashTool::HeaderLine() {
  std::string line = "Run of " + IsoLocalTime(started_);
  line += cmd_.UsbID != -1 ? ", connection " + std::to_string(cmd_.UsbID) : ", no connection";
  line += serial_ ? ", serial " + std::to_string(*serial_) : ", serial not read";
  line += cmd_.device.empty() ? ", no product" : ", product " + ShownText(cmd_.device);
  const auto file = HexFile();
  if (file.empty()) return line + ", no HEX file";
  line += ", HEX file " + ShownText(file.string());
  const auto& facts = HexFacts();
  return line + (facts ? " (" + std::to_string(facts->bytes) + " bytes, CRC-32 " + HexPad(facts->crc32, 8) + ")"
                       : " (unreadable)");
}

std::string FlashTool::RecordHistory(const RunOutcome& outcome) {
  if (!env_.keepHistory) return {};
  ShowHeader();
  HistoryEntry e;
  e.time = started_;
  e.user = UserName();
  e.host = HostName();
  if (cmd_.UsbID != -1) e.connection = cmd_.UsbID;
  e.serial = serial_;
  e.product = cmd_.device;
  e.chip = chip_;
  e.hexFile = HexFile().string();
  if (const auto& facts = HexFacts()) {
    e.hexBytes = facts->bytes;
    e.hexCrc32 = facts->crc32;
  }
  e.written = BytesWritten();
  e.verified = BytesVerified();
  e.result = outcome.words;
  e.exit = outcome.exit;
  const std::string why = AppendHistory(env_.historyFile, e);
  if (!why.empty()) Log(why);
  return why;
}

}  // namespace hx::flash
