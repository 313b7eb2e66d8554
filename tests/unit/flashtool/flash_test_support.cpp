#include "flash_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "flashtool/hex_loader.h"

namespace hx::flash::test {

FakeBootLibrary::FakeBootLibrary(sim::ChipModel chip) : model(std::move(chip), eeprom) {
  eeprom.fill(0xFF);
  eeprom[0xFF] = 0x00;  // the boot flag of a controller running its application
  model.InstallApplication();
}

const FakeBootLibrary::Open* FakeBootLibrary::Find(std::int32_t handle) const {
  for (const auto& o : open_) {
    if (o.handle == handle) return &o;
  }
  return nullptr;
}

bool FakeBootLibrary::Ready(std::string& error) {
  calls.push_back("Ready");
  if (!ready) error = readyError;
  return ready;
}

std::int32_t FakeBootLibrary::OpenPIC(std::int32_t conn, std::int32_t reserved, std::int32_t sel) {
  calls.push_back("OpenPIC(" + std::to_string(conn) + "," + std::to_string(reserved) + "," +
                  std::to_string(sel) + ")");
  if (conn != connection) return -1;
  if (sel == boot::kBootLoaderInterface && inBootLoader && model.IsCut()) return -1;
  if (sel == boot::kBootLoaderInterface && inBootLoader && busy) return boot::kOpenBusy;
  const bool there = (sel == boot::kApplicationInterface && !inBootLoader) ||
                     (sel == boot::kBootLoaderInterface && inBootLoader);
  if (!there) return -1;
  open_.push_back({next_, sel});
  return next_++;
}

void FakeBootLibrary::ClosePIC(std::int32_t handle) {
  calls.push_back("ClosePIC(" + std::to_string(handle) + ")");
  const bool wasBoot = std::erase_if(open_, [handle](const Open& o) {
                         return o.handle == handle && o.interfaceSel == boot::kBootLoaderInterface;
                       }) > 0;
  std::erase_if(open_, [handle](const Open& o) { return o.handle == handle; });
  const bool bootOpen = std::any_of(
      open_.begin(), open_.end(), [](const Open& o) { return o.interfaceSel == boot::kBootLoaderInterface; });
  if (wasBoot && !bootOpen) {
    // The end of a run (the boot flag written): the boot loader resets.
    if (inBootLoader && model.BootFlagWrites() > 0 && model.StartsApplication()) inBootLoader = false;
    model.ResetBootFlagWrites();
  }
}

std::int32_t FakeBootLibrary::SendRawData(std::int32_t handle, std::span<const std::uint8_t> data) {
  calls.push_back("SendRawData(" + std::to_string(data.size()) + ")");
  const Open* o = Find(handle);
  if (!o || o->interfaceSel != boot::kApplicationInterface) return -1;
  rawSent.emplace_back(data.begin(), data.end());
  if (acceptsBootCommand && data.size() == expectedCommandLength &&
      boot::IsBootCommand(data, static_cast<std::uint8_t>(expectedCommandValue))) {
    inBootLoader = true;
    model.ResetBootFlagWrites();
  }
  return static_cast<std::int32_t>(data.size());
}

std::int32_t FakeBootLibrary::ReadRawData(std::int32_t handle, std::span<std::uint8_t> buffer,
                                          std::int32_t& received) {
  received = 0;
  if (!Find(handle)) return -1;
  if (rawIncoming.empty()) return 0;
  const auto chunk = rawIncoming.front();
  rawIncoming.pop_front();
  const std::size_t n = std::min(chunk.size(), buffer.size());
  std::copy_n(chunk.begin(), n, buffer.begin());
  received = static_cast<std::int32_t>(n);
  return received;
}

std::int16_t FakeBootLibrary::SendGetPacket(std::int32_t handle, boot::Packet& packet, int sendCount,
                                            int capacity, int retries) {
  const auto f = boot::ParsePacket(packet);
  calls.push_back("SendGetPacket(" + std::to_string(f.command) + "," + HexPad(f.address, 6) + "," +
                  std::to_string(sendCount) + "," + std::to_string(capacity) + "," + std::to_string(retries) +
                  ")");
  const Open* o = Find(handle);
  if (!o || o->interfaceSel != boot::kBootLoaderInterface) return -1;
  if (f.command == boot::kEraseBlock) {
    erased.push_back(f.address);
    eraseRetries.push_back(retries);
  }
  if (f.command == boot::kReadByte && f.address == 0x000201 && readByteResultAt201) {
    if (*readByteResultAt201 < 0) return *readByteResultAt201;
    packet[5] = static_cast<std::uint8_t>(*readByteResultAt201);
    return 6;
  }
  return model.SendGetPacket(packet, sendCount);
}

std::int16_t FakeBootLibrary::ReadPIC(std::int32_t handle, const boot::RequestBytes& request,
                                      std::span<std::uint8_t> data) {
  const auto r = boot::DecodeBootRequest(request);
  calls.push_back("ReadPIC(" + std::to_string(r.Command) + "," +
                  HexPad(static_cast<std::uint32_t>(r.Address), 6) + "," + std::to_string(r.DataLength) +
                  ")");
  const Open* o = Find(handle);
  if (!o || o->interfaceSel != boot::kBootLoaderInterface || failDeviceIdRead) return -1;
  if (deviceIdOverride && r.Address == 0x3FFFFE && r.DataLength == 2) {
    data[0] = static_cast<std::uint8_t>(*deviceIdOverride);
    data[1] = static_cast<std::uint8_t>(*deviceIdOverride >> 8);
    return 2;
  }
  return model.ReadPIC(request, data);
}

std::int16_t FakeBootLibrary::WritePIC(std::int32_t handle, const boot::RequestBytes& request,
                                       std::span<const std::uint8_t> data) {
  const auto r = boot::DecodeBootRequest(request);
  calls.push_back("WritePIC(" + std::to_string(r.Command) + "," +
                  HexPad(static_cast<std::uint32_t>(r.Address), 6) + "," + std::to_string(r.DataLength) +
                  ")");
  writes.push_back(r);
  const Open* o = Find(handle);
  if (!o || o->interfaceSel != boot::kBootLoaderInterface) return static_cast<std::int16_t>(0x8000 | 9);
  return model.WritePIC(request, data);
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "flashtool-test-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data());
  Write("flashtool.INI", ShippedIni());
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path_, ec);
}

void TempFolder::Write(const std::string& name, const std::string& text) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string TempFolder::Read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ShippedIni() {
  std::ifstream in(FLASHTOOL_INI_SOURCE, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string HexRecord(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
  std::string s(1, ':');
  s += HexPad(static_cast<std::uint32_t>(data.size()), 2);
  s += HexPad(address, 4);
  s += HexPad(type, 2);
  for (auto b : data) {
    s += HexPad(b, 2);
    sum += b;
  }
  s += HexPad((0x100 - (sum & 0xFF)) & 0xFF, 2);
  return s;
}

std::string MakeHex(std::uint32_t address, const std::vector<std::uint8_t>& bytes, int perRecord) {
  std::string out;
  std::int64_t upper = -1;
  for (std::size_t i = 0; i < bytes.size(); i += static_cast<std::size_t>(perRecord)) {
    const std::uint32_t a = address + static_cast<std::uint32_t>(i);
    if (static_cast<std::int64_t>(a >> 16) != upper) {
      upper = a >> 16;
      out +=
          HexRecord(4, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}) + "\n";
    }
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(perRecord), bytes.size() - i);
    out += HexRecord(0, static_cast<std::uint16_t>(a & 0xFFFF),
                     std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(i),
                                               bytes.begin() + static_cast<long>(i + n))) +
           "\n";
  }
  out += ":00000001FF\n";
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace hx::flash::test
