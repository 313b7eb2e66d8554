// The boot loader's answers: the library's calls run over a link that
// answers with fuzz bytes (an echo of the request followed by fuzz bytes,
// raw fuzz bytes, or nothing). Buffers are exactly as large as the calls
// promise, so any access outside them faults; a call that reports success
// must have seen as many answers echoing its requests as it sent packets.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "platform/hxboot/device_session.h"
#include "wire/boot_protocol.h"

namespace {

using namespace hx::boot;

class FuzzLink : public hx::usb::BulkLink {
 public:
  explicit FuzzLink(hx::fuzz::FuzzInput& in) : in_(in) {}
  bool Out(std::span<const std::uint8_t> bytes, std::chrono::milliseconds) override {
    if (bytes.size() > kDevicePacketSize || bytes.size() < 5) std::abort();
    last_.assign(bytes.begin(), bytes.end());
    return (in_.Byte() & 0x0F) != 0;
  }
  std::optional<std::size_t> In(std::span<std::uint8_t> buffer, std::chrono::milliseconds) override {
    const std::uint8_t kind = in_.Byte();
    if (in_.Empty() || kind % 4 == 0) return std::nullopt;
    std::vector<std::uint8_t> answer;
    if (kind % 4 != 3 && !last_.empty()) {
      // An echo of the whole header (reads) or of the command (writes).
      answer.assign(last_.begin(), last_.begin() + (kind % 4 == 1 ? 5 : 1));
    }
    const auto tail = in_.Bytes(in_.Byte() % 65);
    answer.insert(answer.end(), tail.begin(), tail.end());
    const std::size_t n = std::min(answer.size(), buffer.size());
    std::copy_n(answer.begin(), n, buffer.begin());
    if (n >= 5 && std::equal(last_.begin(), last_.begin() + 5, buffer.begin())) ++headerEchoes;
    if (n >= 1 && !last_.empty() && buffer[0] == last_[0]) ++commandEchoes;
    return n;
  }
  int headerEchoes = 0;
  int commandEchoes = 0;

 private:
  hx::fuzz::FuzzInput& in_;
  std::vector<std::uint8_t> last_;
};

int Chunks(std::size_t length, std::size_t chunk) { return static_cast<int>((length + chunk - 1) / chunk); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hx::fuzz::FuzzInput in(data, size);
  FuzzLink link(in);
  BootLoaderSession session(link);
  bool flagSeen = false;
  for (int call = 0; call < 16 && !in.Empty(); ++call) {
    const std::uint8_t which = in.Byte() % 3;
    const int headersBefore = link.headerEchoes, commandsBefore = link.commandEchoes;
    if (which == 0) {
      const int sendCount = in.Byte();
      const int capacity = in.Byte();
      std::vector<std::uint8_t> packet(static_cast<std::size_t>(std::max(sendCount, capacity)));
      const auto bytes = in.Bytes(packet.size());
      std::copy(bytes.begin(), bytes.end(), packet.begin());
      const std::int16_t r = session.SendGetPacket(packet.data(), sendCount, capacity, in.Byte() % 4);
      if (r > 0 && link.commandEchoes == commandsBefore) std::abort();
      if (r > 0 && r != sendCount && r != 6) std::abort();
    } else {
      RequestBytes request{};
      const auto bytes = in.Bytes(request.size());
      std::copy(bytes.begin(), bytes.end(), request.begin());
      request[10] = request[10] % 3;  // a few retries at most
      request[11] = 0;
      const BootRequest r = DecodeBootRequest(request);
      std::vector<std::uint8_t> buffer(r.DataLength);
      if (which == 1) {
        const std::int16_t got = session.ReadPIC(request.data(), buffer.data());
        if (got > 0 && (got != r.DataLength || link.headerEchoes - headersBefore < Chunks(r.DataLength, 59)))
          std::abort();
      } else {
        const auto fill = in.Bytes(buffer.size());
        std::copy(fill.begin(), fill.end(), buffer.begin());
        const std::int16_t put = session.WritePIC(request.data(), buffer.data());
        const std::size_t chunk = r.Command == kWriteProgram ? 48 : 59;
        if (put >= 0 && (put != r.DataLength || link.commandEchoes - commandsBefore < Chunks(r.DataLength, chunk)))
          std::abort();
        if (put > 0 && r.Command == kWriteEeprom && r.Address >= 0 && r.Address <= 0xFF &&
            r.Address + r.DataLength > 0xFF)
          flagSeen = true;
      }
    }
    if (session.BootFlagWritten() && !flagSeen) std::abort();
  }
  return 0;
}
