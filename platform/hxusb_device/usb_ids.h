// Stable identifiers of controllers on the USB bus.
//
// A controller is named by a positive 32-bit value: the FNV-1a 32-bit hash of
// its serial number string when it has one, otherwise of its port path as
// the kernel names it ("BUS-PORT.PORT...", e.g. "1-4.2"), with bit 31 cleared
// (and 0 taken as 1). The boot loader has no serial number, so the port
// memory keeps, per port path, the identifier of the application last seen
// there: the boot loader on that port gets the same identifier, and usbid=
// names one physical controller across the switch into the boot loader.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace hx::usb {

std::uint32_t Fnv1a32(std::string_view text);
// Fnv1a32 folded into a positive 32-bit identifier.
std::int32_t IdentifierOf(std::string_view text);

// Port path -> identifier, kept in a small text file ("PORT ID" lines) so
// that a later run (a programming run started on a controller left in its
// boot loader) finds it too. A file that cannot be read or written only
// makes the memory forget; one that is not a regular file, is read-only or
// is larger than 1 MiB is neither read nor replaced, and Problem() says so.
class PortMemory {
 public:
  // `file` empty: memory only for this process.
  explicit PortMemory(std::string file);
  std::optional<std::int32_t> Lookup(const std::string& port);
  // Records `id` for `port`, or forgets the port when `id` is empty.
  void Remember(const std::string& port, std::optional<std::int32_t> id);
  // Why the file was refused at the last read or save, or empty.
  const std::string& Problem() const { return problem_; }

 private:
  void Load();
  void Save();
  std::string PortMemoryProblem(const std::string& reason) const;
  std::string file_;
  std::string problem_;
  std::map<std::string, std::int32_t> ports_;
};

// usb-ports in the user's state folder ($XDG_STATE_HOME/hydrix, else
// ~/.local/state/hydrix; empty when neither can be named).
std::string DefaultPortMemoryFile();

// The identifier of a device at `port` with serial number `serial` (empty
// when it has none), as described above; `memory` is updated for an
// application and consulted for a boot loader.
std::int32_t AssignIdentifier(const std::string& port, const std::string& serial, bool bootLoader,
                              PortMemory& memory);

}  // namespace hx::usb
