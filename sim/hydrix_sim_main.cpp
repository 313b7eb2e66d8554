// hydrix-sim: simulated Hydrix IP controllers on a local socket, and the
// commands that look at and change their state.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "sim/sim_client.h"
#include "sim/sim_server.h"
#include "sim/state_store.h"

namespace {

// The server a SIGTERM or SIGINT stops. The handler only sets a flag and
// writes a byte to the server's wake pipe (SimServer::Stop); the server
// leaves from its own loop, saving the state there.
std::atomic<hx::sim::SimServer*> g_server{nullptr};
static_assert(std::atomic<hx::sim::SimServer*>::is_always_lock_free);

void OnSignal(int) {
  const int saved = errno;  // the interrupted code may be about to read it
  if (auto* server = g_server.load()) server->Stop();
  errno = saved;
}

const char* kUsage =
    "usage:\n"
    "  hydrix-sim --version\n"
    "  hydrix-sim serve [--socket PATH] [--state DIR] [--max-connections N] [--idle-timeout MS]\n"
    "                   --controller SPEC [--controller SPEC ...]\n"
    "      SPEC is id=N[,type=T][,version=MAJ.MIN][,fault=silent|zeros|short|after:N|noboot][,latency=MS]\n"
    "              [,chip=PIC18F2550][,rev=N][,bootcmd=VALUE:LENGTH][,flash=empty|app]\n"
    "              [,cfgfail=N][,erasefail=ADDR][,writefail=ADDR][,stuck=ADDR][,cut=N][,seed=N]\n"
    "      seed=N: measures with a noise and drift that repeat for the same N\n"
    "  hydrix-sim dump [--socket PATH] --id N eeprom|variables|clock|flash|config|mode\n"
    "  hydrix-sim set [--socket PATH] --id N eeprom ADDR=VALUE ...\n"
    "  hydrix-sim set [--socket PATH] --id N var INDEX=VALUE ...\n"
    "  hydrix-sim set [--socket PATH] --id N fault silent|zeros|short|after:N|noboot|stuck=ADDR|cut=N|none\n"
    "  hydrix-sim set [--socket PATH] --id N cfgfail N | erasefail ADDR|none | writefail ADDR|none\n"
    "  hydrix-sim set [--socket PATH] --id N latency MS\n"
    "The socket defaults to $HYDRIX_SIM_SOCKET, else $XDG_RUNTIME_DIR/hydrix-sim.sock,\n"
    "else /tmp/hydrix-sim-<uid>.sock. Values may be decimal or 0x-prefixed hex.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "hydrix-sim: " << problem << "\n";
  std::cerr << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe, a FIFO's reader) makes a write
  // fail with EPIPE, which is reported, instead of ending the program unseen.
  ::signal(SIGPIPE, SIG_IGN);
  // A file-size limit makes a state save fail with EFBIG, which is
  // reported, instead of ending the daemon unseen.
  ::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "hydrix-sim " HYDRIX_VERSION "\n";
    return 0;
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") return Usage("");
  const std::string command = args[0];
  std::string socket = hx::sim::DefaultSocketPath();
  std::string state;
  std::vector<hx::sim::ControllerSpec> controllers;
  std::int32_t id = 0;
  bool haveId = false;
  std::vector<std::string> rest;
  hx::sim::SimServer::Limits limits;
  auto number = [](const std::string& v, long long low, long long high, long long& out) {
    auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
    return ec == std::errc() && ptr == v.data() + v.size() && out >= low && out <= high;
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--socket") {
      if (!value(socket)) return Usage("--socket needs a path");
    } else if (a == "--state") {
      if (!value(state)) return Usage("--state needs a folder");
    } else if (a == "--max-connections") {
      long long n = 0;
      if (!value(v) || !number(v, 1, 4096, n)) return Usage("--max-connections needs a number 1..4096");
      limits.maxConnections = static_cast<int>(n);
    } else if (a == "--idle-timeout") {
      long long n = 0;
      if (!value(v) || !number(v, 1, 86400000, n))
        return Usage("--idle-timeout needs milliseconds 1..86400000");
      limits.idleTimeout = std::chrono::milliseconds(n);
    } else if (a == "--controller") {
      if (!value(v)) return Usage("--controller needs a SPEC");
      std::string error;
      auto spec = hx::sim::ParseControllerSpec(v, error);
      if (!spec) return Usage("--controller " + v + ": " + error);
      for (const auto& c : controllers) {
        if (c.identity.id == spec->identity.id)
          return Usage("two controllers with id " + std::to_string(c.identity.id));
      }
      controllers.push_back(*spec);
    } else if (a == "--id") {
      if (!value(v)) return Usage("--id needs a number");
      auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), id);
      if (ec != std::errc() || ptr != v.data() + v.size()) return Usage("--id needs a number");
      haveId = true;
    } else {
      rest.push_back(a);
    }
  }

  if (command == "serve") {
    if (controllers.empty()) return Usage("serve needs at least one --controller");
    if (!rest.empty()) return Usage("unexpected '" + rest[0] + "'");
    // One daemon per state folder, and only one that can keep what it
    // acknowledges.
    hx::LockFile stateLock;
    std::string error;
    if (!state.empty() && !hx::sim::LockStateFolder(state, stateLock, error)) {
      std::cerr << "hydrix-sim: " << error << "\n";
      return 1;
    }
    std::vector<std::int32_t> ids;
    for (const auto& c : controllers) ids.push_back(c.identity.id);
    if (!state.empty() && !hx::sim::CheckStatePaths(state, ids, error)) {
      std::cerr << "hydrix-sim: " << error << "\n";
      return 1;
    }
    hx::sim::SimServer server(controllers, state, limits);
    if (!server.Listen(socket, error)) {
      std::cerr << "hydrix-sim: " << error << "\n";
      return 1;
    }
    g_server = &server;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::cout << "hydrix-sim: serving " << controllers.size() << " controller(s) on " << socket << std::endl;
    server.Run();
    g_server = nullptr;
    std::cout << "hydrix-sim: stopped" << std::endl;
    return 0;
  }
  if (command == "dump" || command == "set") {
    if (!haveId) return Usage(command + " needs --id N");
    if (rest.empty()) return Usage(command + " needs what to " + command);
    std::string error;
    int rc = 0;
    if (command == "dump") {
      if (rest.size() != 1) return Usage("dump takes one of eeprom, variables, clock, flash, config, mode");
      std::string out;
      rc = hx::sim::ClientDump(socket, id, rest[0], out, error);
      std::cout << out;
    } else {
      rc = hx::sim::ClientSet(socket, id, rest[0], {rest.begin() + 1, rest.end()}, error);
    }
    if (rc != 0) std::cerr << "hydrix-sim: " << error << "\n";
    return rc;
  }
  return Usage("unknown command '" + command + "'");
}
