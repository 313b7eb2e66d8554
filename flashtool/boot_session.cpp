#include "flashtool/boot_session.h"

#include <algorithm>
#include <sstream>

#include "common/safe_file.h"
#include "flashtool/hex_loader.h"
#include "wire/boot_memory_map.h"

namespace hx::flash {

namespace {

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

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  crc = ~crc;
  for (const std::uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

BootSession::BootSession(BootLibrary& library, FlashUi& ui, FlashClock& clock,
                         std::filesystem::path listFolder, std::function<bool()> cancelled)
    : lib_(library),
      ui_(ui),
      clock_(clock),
      listFolder_(std::move(listFolder)),
      cancelled_(std::move(cancelled)) {}

void BootSession::Begin(std::int32_t usbId) {
  usbId_ = usbId;
  bytesWritten_ = bytesVerified_ = 0;
  reconnects_ = 3;
}

std::uint32_t BootSession::ImageCrc() const {
  std::uint32_t crc = 0;
  for (const auto& [row, bytes] : expected_) crc = Crc32(bytes, crc);
  return crc;
}

void BootSession::WaitMs(std::int64_t ms) {
  const std::int64_t end = clock_.NowMs() + ms;
  while (clock_.NowMs() < end) {
    ui_.DoEvents();
    clock_.Idle(std::chrono::milliseconds(10));
  }
}

void BootSession::WaitSecondsAdvance(int seconds) {
  const std::int64_t now = clock_.NowMs();
  WaitMs((now / 1000 + seconds) * 1000 - now);
}

bool BootSession::SendBootCommand(std::uint16_t value, std::uint8_t length) {
  const std::int32_t h = lib_.OpenPIC(usbId_, 0, boot::kApplicationInterface);
  if (h < 1) return false;
  const auto command = boot::MakeBootCommand(value, length);
  lib_.SendRawData(h, command);
  lib_.ClosePIC(h);
  return true;
}

std::int32_t BootSession::OpenBootLoader() { return lib_.OpenPIC(usbId_, 0, boot::kBootLoaderInterface); }

void BootSession::CloseDevice() {
  if (handle_ >= 1) {
    lib_.ClosePIC(handle_);
    handle_ = 0;
  }
}

void BootSession::KeepList(const std::string& name) {
  list_ = ReadList(listFolder_ / name);
  listName_ = name;
}

std::int32_t BootSession::ReadDeviceId() {
  const boot::BootRequest request{
      boot::kReadProgram, 2, static_cast<std::int32_t>(boot::kDeviceIdAddress), 1, 1, 0};
  std::array<std::uint8_t, 2> data{};
  if (lib_.ReadPIC(handle_, boot::EncodeBootRequest(request), data) <= 0) return -1;
  return data[1] * 256 + data[0];  // taken unsigned: codes up to 2047
}

int BootSession::ReadConfigByte(std::uint32_t address) {
  boot::Packet packet = boot::MakeReadBytePacket(address);
  const int r = lib_.SendGetPacket(handle_, packet, boot::kReadBytePacketLength, boot::kPacketCapacity, 1);
  if (r < 0) return r;
  return boot::PacketAnswerByte(packet);
}

int BootSession::WriteConfigByte(std::uint32_t address, std::uint8_t value) {
  for (;;) {
    boot::Packet packet = boot::MakeWriteConfigPacket(address, value);
    const int r =
        lib_.SendGetPacket(handle_, packet, boot::kWriteConfigPacketLength, boot::kPacketCapacity, 1);
    if (r >= 0) return 1;
    if (reconnects_ <= 0) return r;
    lib_.ClosePIC(handle_);
    WaitSecondsAdvance(2);
    --reconnects_;
    handle_ = OpenBootLoader();  // unchecked: a bad handle fails the next request
  }
}

int BootSession::EraseFlash(std::uint32_t low, std::uint32_t high) {
  ui_.SetProgressRange(0, static_cast<int>(high >= low ? high - low : 0));
  const std::uint32_t step = info_.eraseblock ? info_.eraseblock : 1;
  for (std::uint64_t a = low; a <= high; a += step) {
    ui_.SetProgressValue(static_cast<int>(a - low));
    ui_.DoEvents();
    if (cancelled_()) return -1;
    boot::Packet packet = boot::MakeErasePacket(static_cast<std::uint32_t>(a));
    const int r = lib_.SendGetPacket(handle_, packet, boot::kErasePacketLength, boot::kPacketCapacity, 5);
    if (r < 0) {
      failedAddress_ = static_cast<std::uint32_t>(a);
      return r;
    }
  }
  return 1;
}

int BootSession::ProgramFlash(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command,
                              const std::string& listname, int rowcount) {
  constexpr int kFailure = -1;  // bit 15 set
  if (bytesperaddr == 0 || listname.empty()) return kFailure;
  // The list this run converted (opened under the folder lock), else the file by name.
  std::unique_ptr<std::istream> own = std::move(list_);
  if (!own || listname != listName_) own = ReadList(listFolder_ / listname);
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
    if (cancelled_()) return kFailure;
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
      ui_.Log("Programming: " + std::to_string(tenth * 10) + " % (" + std::to_string(bytesWritten_) + " of " +
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

int BootSession::WriteFlashMarker(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command) {
  if (bytesperaddr == 0) return 0x8000;
  const std::uint32_t address = (info_.pmrangehigh & boot::kRowAddressMask) / bytesperaddr;
  const boot::BootRequest request{command,    16,           static_cast<std::int32_t>(address),
                                  writeblock, bytesperaddr, 0};
  std::array<std::uint8_t, 16> data;
  data.fill(0x55);
  return lib_.WritePIC(handle_, boot::EncodeBootRequest(request), data);
}

int BootSession::VerifyFlash(std::uint32_t& address) {
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
  bytesVerified_ = expected_.size() * 16;
  return 1;
}

int BootSession::WriteBootFlag(std::uint8_t value) {
  const boot::BootRequest request{
      boot::kWriteEeprom, 1, static_cast<std::int32_t>(boot::kBootFlagAddress), 1, 1, 0};
  const std::array<std::uint8_t, 1> data{value};
  return lib_.WritePIC(handle_, boot::EncodeBootRequest(request), data);
}

}  // namespace hx::flash
