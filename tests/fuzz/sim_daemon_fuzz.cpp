// The simulator daemon's requests: a controller SPEC as given on the command
// line, then a sequence of request bodies from three connections (two of one
// program, one of another) against the daemon's state in this process. No
// request faults, an answer never reaches a program that did not ask for
// it, and once every connection has closed no controller is held.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "sim/sim_server.h"

namespace hx::sim {

struct SimServerProbe {
  struct Connection {
    pid_t pid;
    SimServer::Slot* bound = nullptr;
    Interface iface = Interface::Application;
    std::int32_t boundId = 0;
  };

  static void Run(fuzz::FuzzInput& in) {
    std::vector<ControllerSpec> specs(1);
    specs[0].identity.id = 1;
    std::string error;
    if (auto spec = ParseControllerSpec(in.Text(in.Byte() % 64), error)) {
      if (spec->identity.id != 1) specs.push_back(*spec);
    } else if (error.empty()) {
      std::abort();  // a refused SPEC says why
    }
    SimServer server(specs, {});
    Connection connections[3] = {{100}, {200}, {100}};
    // Whether a program may have an answer waiting on a controller.
    std::map<std::pair<pid_t, std::int32_t>, bool> asked;

    for (int frame = 0; frame < 64 && !in.Empty(); ++frame) {
      Connection& c = connections[in.Byte() % 3];
      const auto op = static_cast<Op>(in.Byte() % 13);
      std::vector<std::uint8_t> body{static_cast<std::uint8_t>(op)};
      auto rest = in.Run();
      if (op == Op::Read) {
        // The read never waits: its time-out is 0.
        rest.resize(8);
        for (int i = 4; i < 8; ++i) rest[static_cast<std::size_t>(i)] = 0;
      }
      body.insert(body.end(), rest.begin(), rest.end());
      const auto reply = server.Handle(body, c.pid, c.bound, c.iface);
      if (reply.empty()) std::abort();
      const bool ok = reply[0] == static_cast<std::uint8_t>(Status::Ok);
      if (op == Op::Open && ok) c.boundId = c.bound ? c.bound->device.id() : 0;
      if (!c.bound) continue;
      const auto key = std::make_pair(c.pid, c.boundId);
      if (op == Op::Write) asked[key] = true;
      // An answer handed over with its request is no longer waiting.
      if (op == Op::WriteTake) asked[key] = !(ok && reply.size() >= 2 && reply[1] == 1);
      if (op == Op::Read && ok && reply.size() > 1) {
        if (!asked[key]) std::abort();  // an answer to another program's request
        asked[key] = false;
      }
    }
    std::lock_guard lock(server.mutex_);
    for (auto& c : connections) server.Unbind(c.bound, c.pid, c.iface);
    for (const auto& slot : server.slots_) {
      if (!slot->hosts.empty() || slot->bootConnections != 0) std::abort();
    }
  }
};

}  // namespace hx::sim

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hx::fuzz::FuzzInput in(data, size);
  hx::sim::SimServerProbe::Run(in);
  return 0;
}
