// The client side of the hydrix-sim commands that talk to a running daemon.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hx::sim {

// Runs `dump` or `set` against the daemon at `socketPath`. Returns the exit
// status; the text goes to `out`, a failure reason to `error`.
int ClientDump(const std::string& socketPath, std::int32_t id, const std::string& what, std::string& out,
               std::string& error);
int ClientSet(const std::string& socketPath, std::int32_t id, const std::string& what,
              const std::vector<std::string>& args, std::string& error);

}  // namespace hx::sim
