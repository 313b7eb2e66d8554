#include "sim/boot/boot_loader_model.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "common/safe_file.h"
#include "sim/state_store.h"

namespace hx::sim {

namespace {

// Configuration bytes of an unprogrammed PIC18F2455/2550/4455/4550 family part.
constexpr std::array<std::uint8_t, kConfigSize> kFamilyConfig = {0x00, 0x05, 0x1F, 0x1F, 0x00, 0x83, 0x85,
                                                                 0x00, 0x0F, 0xC0, 0x0F, 0xE0, 0x0F, 0x40};

struct KnownChip {
  const char* name;
  std::uint16_t idBase;
  std::uint32_t flashSize;
};
constexpr KnownChip kChips[] = {
    {"PIC18F4550", 0x1200, 0x8000}, {"PIC18F4455", 0x1220, 0x6000}, {"PIC18F2550", 0x1240, 0x8000},
    {"PIC18F2455", 0x1260, 0x6000}, {"PIC18F4553", 0x2A00, 0x8000}, {"PIC18F4458", 0x2A20, 0x6000},
    {"PIC18F2553", 0x2A40, 0x8000}, {"PIC18F2458", 0x2A60, 0x6000},
};

bool WriteWhole(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string& error) {
  return SaveFileAtomically(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), error);
}

// Reads a file of exactly `size` bytes; nothing when absent; false on a bad file.
bool ReadExact(const std::filesystem::path& path, std::size_t size,
               std::optional<std::vector<std::uint8_t>>& out, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return true;
  // One byte more than expected is enough to tell a file of the wrong size.
  std::string text;
  if (const FileStatus status = ReadRegularFile(path, size + 1, text);
      !status.ok() && status.error != EFBIG) {
    error = "cannot read " + path.string() + ": " + status.reason;
    return false;
  }
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  if (bytes.size() != size) {
    error = path.string() + " holds " + std::to_string(bytes.size()) + " bytes, not " + std::to_string(size);
    return false;
  }
  out = std::move(bytes);
  return true;
}

}  // namespace

std::optional<ChipModel> FindChip(std::string_view name, std::uint8_t revision) {
  for (const auto& c : kChips) {
    if (name == c.name) {
      ChipModel m;
      m.name = c.name;
      m.deviceId = static_cast<std::uint16_t>(c.idBase | (revision & 0x1F));
      m.flashSize = c.flashSize;
      m.configDefaults = kFamilyConfig;
      return m;
    }
  }
  return std::nullopt;
}

ChipModel DefaultChip() { return *FindChip("PIC18F2550"); }

BootLoaderModel::BootLoaderModel(ChipModel chip, std::array<std::uint8_t, 256>& eeprom)
    : chip_(std::move(chip)), eeprom_(eeprom), flash_(chip_.flashSize, 0xFF), config_(chip_.configDefaults) {
  userId_.fill(0xFF);
  // The boot loader's own code fills its block; its reset vector jumps into it.
  for (std::uint32_t a = 0; a < chip_.bootBlockEnd && a < flash_.size(); ++a) {
    flash_[a] = static_cast<std::uint8_t>((a * 37 + 11) & 0xFF);
  }
  if (flash_.size() >= 4) {
    flash_[0] = 0x20, flash_[1] = boot::kGotoOpcode, flash_[2] = 0x00, flash_[3] = 0xF0;  // GOTO 0x000040
  }
}

bool BootLoaderModel::InBootBlock(std::uint32_t first) const { return first < chip_.bootBlockEnd; }

std::optional<std::uint8_t> BootLoaderModel::ReadByte(std::uint32_t a) const {
  if (a < flash_.size()) return flash_[a];
  if (a >= kUserIdBase && a < kUserIdBase + kUserIdSize) return userId_[a - kUserIdBase];
  if (a >= kConfigBase && a < kConfigBase + kConfigSize) return config_[a - kConfigBase];
  if (a == kDeviceIdBase) return static_cast<std::uint8_t>(chip_.deviceId & 0xFF);
  if (a == kDeviceIdBase + 1) return static_cast<std::uint8_t>(chip_.deviceId >> 8);
  return std::nullopt;
}

bool BootLoaderModel::Answers() {
  if (cutAt_ && ++requestsSinceCut_ >= *cutAt_) cut_ = true;
  return !cut_;
}

void BootLoaderModel::CutAt(std::optional<int> n) {
  cutAt_ = n;
  requestsSinceCut_ = 0;
  cut_ = false;
}

std::int16_t BootLoaderModel::SendGetPacket(std::span<std::uint8_t> packet, int sendCount) {
  if (!Answers()) return kNoAnswer;
  if (sendCount < 5 || packet.size() < 6) return kBadRequest;
  const auto p = boot::ParsePacket(packet.first(static_cast<std::size_t>(std::min<int>(sendCount, 6))));
  switch (p.command) {
    case boot::kEraseBlock: {
      const std::uint32_t start = p.address - p.address % chip_.eraseBlock;
      const std::uint32_t end = start + chip_.eraseBlock;  // one past the block
      if (end > flash_.size()) return kOutOfRange;
      if (InBootBlock(start)) return kProtected;
      if (eraseFault_ && *eraseFault_ >= start && *eraseFault_ < end) return kFault;
      std::fill(flash_.begin() + start, flash_.begin() + end, 0xFF);
      return static_cast<std::int16_t>(sendCount);
    }
    case boot::kReadByte: {
      const auto b = ReadByte(p.address);
      if (!b) return kOutOfRange;
      packet[5] = *b;
      return 6;
    }
    case boot::kWriteConfig: {
      if (sendCount < 6) return kBadRequest;
      if (p.address < kConfigBase || p.address >= kConfigBase + kConfigSize) return kOutOfRange;
      if (configFailures_ > 0) {
        --configFailures_;
        return kFault;
      }
      config_[p.address - kConfigBase] = p.data;
      return 6;
    }
    default:
      return kBadRequest;
  }
}

std::int16_t BootLoaderModel::ReadPIC(const boot::RequestBytes& bytes, std::span<std::uint8_t> data) {
  if (!Answers()) return kNoAnswer;
  const auto r = boot::DecodeBootRequest(bytes);
  if (r.Command != boot::kReadProgram || r.DataLength == 0 || data.size() < r.DataLength) return kBadRequest;
  // Addresses are worked out in 64 bits: a negative or huge address is out
  // of range, never a wrapped one.
  if (r.Address < 0) return kOutOfRange;
  const std::uint64_t first =
      static_cast<std::uint64_t>(r.Address) * std::max<std::uint32_t>(1, r.BytesPerAddr);
  if (first + r.DataLength > 0xFFFFFFFFu) return kOutOfRange;
  for (std::uint32_t i = 0; i < r.DataLength; ++i) {
    const auto b = ReadByte(static_cast<std::uint32_t>(first + i));
    if (!b) return kOutOfRange;
    data[i] = *b;
  }
  return r.DataLength;
}

std::int16_t BootLoaderModel::WritePIC(const boot::RequestBytes& bytes, std::span<const std::uint8_t> data) {
  if (!Answers()) return kWriteFailed | 5;
  const auto r = boot::DecodeBootRequest(bytes);
  if (r.DataLength == 0 || data.size() < r.DataLength) return kWriteFailed | 1;
  if (r.Address < 0) return kWriteFailed | 3;
  if (r.Command == boot::kWriteEeprom) {
    const auto first = static_cast<std::uint32_t>(r.Address);
    if (std::uint64_t{first} + r.DataLength > eeprom_.size()) return kWriteFailed | 3;
    for (std::uint32_t i = 0; i < r.DataLength; ++i) eeprom_[first + i] = data[i];
    if (first <= kBootFlagAddress && kBootFlagAddress < first + r.DataLength) ++bootFlagWrites_;
    return r.DataLength;
  }
  if (r.Command != boot::kWriteProgram) return kWriteFailed | 1;
  const std::uint64_t wide =
      static_cast<std::uint64_t>(r.Address) * std::max<std::uint32_t>(1, r.BytesPerAddr);
  if (wide + r.DataLength > flash_.size()) return kWriteFailed | 3;
  const auto first = static_cast<std::uint32_t>(wide);
  const std::uint32_t last = first + r.DataLength - 1;
  if (InBootBlock(first)) return kWriteFailed | 2;
  if (writeFault_ && *writeFault_ >= first && *writeFault_ <= last) return kWriteFailed | 4;
  if (stuck_ && (*stuck_ & ~0xFu) <= last && first <= (*stuck_ | 0xFu)) return r.DataLength;
  // Programming only clears bits: 0xFF leaves a byte as it was.
  for (std::uint32_t i = 0; i < r.DataLength; ++i) flash_[first + i] &= data[i];
  return r.DataLength;
}

void BootLoaderModel::Program(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size() && address + i < flash_.size(); ++i)
    flash_[address + i] &= bytes[i];
}

void BootLoaderModel::InstallApplication() {
  // GOTO 0x000240 at the reset vector, then a loop at 0x000240.
  const std::uint8_t reset[] = {0x20, boot::kGotoOpcode, 0x01, 0xF0};
  const std::uint8_t body[] = {0x00, 0x00, 0xFF, 0xD7, 0x12, 0x00};
  Program(kApplicationResetVector, reset);
  Program(0x000240, body);
}

bool BootLoaderModel::ApplicationPresent() const {
  if (flash_.size() <= boot::kApplicationCheckAddress) return false;
  return flash_[boot::kApplicationCheckAddress] == boot::kGotoOpcode;
}

bool BootLoaderModel::StartsApplication() const {
  return eeprom_[kBootFlagAddress] != 0xFF && ApplicationPresent();
}

void BootLoaderModel::ClearFaults() {
  configFailures_ = 0;
  eraseFault_.reset();
  writeFault_.reset();
  stuck_.reset();
  CutAt(std::nullopt);
}

bool BootLoaderModel::Save(const std::filesystem::path& folder, std::string& error) const {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return WriteWhole(folder / "flash.bin", flash_, error) && WriteWhole(folder / "config.bin", config_, error);
}

bool BootLoaderModel::Load(const std::filesystem::path& folder, std::string& error) {
  std::optional<std::vector<std::uint8_t>> flash, config;
  if (!ReadExact(folder / "flash.bin", flash_.size(), flash, error)) return false;
  if (!ReadExact(folder / "config.bin", config_.size(), config, error)) return false;
  if (flash) flash_ = std::move(*flash);
  if (config) std::copy(config->begin(), config->end(), config_.begin());
  return true;
}

std::string DumpBytes(std::uint32_t base, std::span<const std::uint8_t> bytes) {
  std::string out;
  char buf[8];
  for (std::size_t i = 0; i < bytes.size(); i += 16) {
    std::snprintf(buf, sizeof buf, "%06X:", static_cast<unsigned>(base + i));
    out += buf;
    for (std::size_t k = i; k < i + 16 && k < bytes.size(); ++k) {
      std::snprintf(buf, sizeof buf, " %02X", bytes[k]);
      out += buf;
    }
    out += '\n';
  }
  return out;
}

}  // namespace hx::sim
