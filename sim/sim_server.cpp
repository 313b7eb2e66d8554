#include "sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <system_error>

namespace hx::sim {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The process at the other end of a local connection (0 when unknown).
pid_t PeerProcess(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 ? cred.pid : 0;
}

std::vector<std::uint8_t> Reply(Status s) { return {static_cast<std::uint8_t>(s)}; }

std::vector<std::uint8_t> Reply(Status s, const std::string& text) {
  Writer w;
  w.u8(static_cast<std::uint8_t>(s)).str(text);
  return w.body();
}

// A number in decimal or with a 0x prefix.
bool ParseNumber(const std::string& s, long long& out) {
  int base = 10;
  std::string_view v = s;
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  if (v.empty()) return false;
  auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), out, base);
  return ec == std::errc() && ptr == v.data() + v.size();
}

}  // namespace

SimServer::SimServer(const std::vector<ControllerSpec>& controllers, std::filesystem::path stateFolder,
                     Limits limits)
    : limits_(limits) {
  const auto now = Clock::now();
  for (const auto& spec : controllers) slots_.push_back(std::make_unique<Slot>(spec, stateFolder, now));
}

SimServer::~SimServer() {
  Stop();
  for (auto& c : clients_) {
    if (c.thread.joinable()) c.thread.join();
  }
  if (listenFd_ >= 0) ::close(listenFd_);
  for (int fd : wakePipe_) {
    if (fd >= 0) ::close(fd);
  }
}

bool SimServer::Listen(const std::string& socketPath, std::string& error) {
  sockaddr_un addr{};
  if (!SocketAddress(socketPath, addr, error)) return false;
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::strerror(errno);
    return false;
  }
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  LockOptions lockOptions;
  lockOptions.removeOnRelease = true;
  lockOptions.identity = std::to_string(::getpid());
  if (const FileStatus status = socketLock_.TryLock(socketPath + ".lock", lockOptions); !status.ok()) {
    const std::string holder = LockHolder(socketPath + ".lock");
    error = status.error == EWOULDBLOCK ? "another simulator already serves " + socketPath +
                                              (holder.empty() ? std::string() : " (process " + holder + ")")
                                        : socketPath + ".lock: " + status.reason;
    return false;
  }
  // A socket file left by a daemon that died is replaced; one that a live
  // daemon answers on is not.
  struct stat st {};
  if (::lstat(socketPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = socketPath + " exists and is not a socket";
      return false;
    }
    Connection probe;
    std::string ignored;
    if (probe.Connect(socketPath, ignored)) {
      error = "another simulator already serves " + socketPath;
      return false;
    }
    ::unlink(socketPath.c_str());
  }
  if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0 || ::lstat(socketPath.c_str(), &st) != 0) {
    error = socketPath + ": " + std::strerror(errno);
    return false;
  }
  socketPath_ = socketPath;
  socketInode_ = st.st_ino;
  socketDevice_ = st.st_dev;
  return true;
}

void SimServer::Stop() {
  stopping_ = true;
  if (wakePipe_[1] >= 0) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(wakePipe_[1], &c, 1);
  }
}

void SimServer::JoinFinished() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (it->done) {
      it->thread.join();
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

void SimServer::MakeRoom() {
  std::lock_guard lock(mutex_);
  int live = 0;
  Client* idlest = nullptr;
  for (auto& c : clients_) {
    if (c.done) continue;
    ++live;
    if (!c.onBootLoader && (!idlest || c.lastActive < idlest->lastActive)) idlest = &c;
  }
  // The thread sees its connection end and closes it.
  if (live >= limits_.maxConnections && idlest) ::shutdown(idlest->fd, SHUT_RDWR);
}

void SimServer::Run() {
  bool acceptPaused = false;
  while (!stopping_) {
    pollfd p[2] = {{wakePipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    // After a failed accept (out of descriptors or memory) the queue is left
    // alone for a moment rather than polled again at once.
    const int r = ::poll(p, acceptPaused ? 1 : 2, acceptPaused ? 100 : 1000);
    if (r < 0 && errno != EINTR) break;
    acceptPaused = false;
    JoinFinished();
    if (r <= 0 || !(p[1].revents & POLLIN)) continue;
    MakeRoom();
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      acceptPaused = errno != EINTR && errno != EAGAIN && errno != ECONNABORTED;
      continue;
    }
    Client& c = clients_.emplace_back();
    c.fd = fd;
    c.pid = PeerProcess(fd);
    c.lastActive = NowNs();
    try {
      c.thread = std::thread([this, &c] { Serve(c); });
    } catch (const std::system_error&) {
      // No thread to serve it: refused like a failed accept.
      ::close(fd);
      clients_.pop_back();
      acceptPaused = true;
    }
  }
  // Wake every connection and wait for it.
  {
    std::lock_guard lock(mutex_);
    for (auto& c : clients_) {
      if (!c.done) ::shutdown(c.fd, SHUT_RDWR);
    }
  }
  answered_.notify_all();
  for (auto& c : clients_) {
    if (c.thread.joinable()) c.thread.join();
  }
  clients_.clear();
  std::lock_guard lock(mutex_);
  for (auto& s : slots_) {
    if (s->device.InBootLoader()) s->device.BootLoaderClosed();  // keeps flash and configuration
    s->device.Save();
  }
  // Only our own socket: another daemon may have taken the name since.
  struct stat st {};
  if (!socketPath_.empty() && ::lstat(socketPath_.c_str(), &st) == 0 && st.st_ino == socketInode_ &&
      st.st_dev == socketDevice_) {
    ::unlink(socketPath_.c_str());
  }
  socketPath_.clear();
  socketLock_.Unlock();
}

void SimServer::Serve(Client& client) {
  Slot* bound = nullptr;
  Interface iface = Interface::Application;
  while (!stopping_) {
    const bool idleAllowed = bound && iface == Interface::BootLoader;
    auto body = ReceiveMessage(client.fd, idleAllowed ? std::chrono::milliseconds(-1) : limits_.idleTimeout);
    if (!body || body->empty()) break;
    client.lastActive = NowNs();
    auto reply = Handle(*body, client.pid, bound, iface);
    client.onBootLoader = bound && iface == Interface::BootLoader;
    if (!SendMessage(client.fd, reply)) break;
    client.lastActive = NowNs();
  }
  std::lock_guard lock(mutex_);
  Unbind(bound, client.pid, iface);
  ::close(client.fd);
  client.done = true;
}

void SimServer::Unbind(Slot* slot, pid_t host, Interface iface) {
  if (!slot) return;
  auto it = slot->hosts.find(host);
  if (it != slot->hosts.end() && --it->second.connections <= 0) slot->hosts.erase(it);
  ReleaseBoot(slot, iface);
}

void SimServer::ReleaseBoot(Slot* slot, Interface iface) {
  if (!slot || iface != Interface::BootLoader) return;
  if (--slot->bootConnections <= 0) {
    slot->bootConnections = 0;
    slot->device.BootLoaderClosed();
  }
}

std::vector<std::uint8_t> SimServer::HandleBoot(Op op, Reader& in, Slot* bound, Interface iface) {
  if (!bound || iface != Interface::BootLoader) return Reply(Status::NotOpen);
  std::lock_guard lock(mutex_);
  if (!bound->device.InBootLoader()) return Reply(Status::NotAvailable);
  BootLoaderModel& boot = bound->device.boot();
  Writer w;
  w.u8(static_cast<std::uint8_t>(Status::Ok));
  if (op == Op::BootPacket) {
    std::uint32_t sendCount = 0;
    if (!in.u32(sendCount)) return Reply(Status::BadRequest);
    const auto sent = in.rest();
    boot::Packet packet{};
    std::copy_n(sent.begin(), std::min(sent.size(), packet.size()), packet.begin());
    const std::int16_t r =
        boot.SendGetPacket(packet, static_cast<int>(std::min<std::uint32_t>(sendCount, 255)));
    w.i32(r).bytes(std::span<const std::uint8_t>(packet).first(r > 0 ? static_cast<std::size_t>(r) : 0));
  } else {
    const auto rest = in.rest();
    if (rest.size() < 12) return Reply(Status::BadRequest);
    boot::RequestBytes request{};
    std::copy_n(rest.begin(), 12, request.begin());
    const std::size_t length = request[1];
    if (op == Op::BootRead) {
      std::vector<std::uint8_t> data(length);
      const std::int16_t r = boot.ReadPIC(request, data);
      w.i32(r).bytes(r > 0 ? std::span<const std::uint8_t>(data) : std::span<const std::uint8_t>());
    } else {
      const auto data = rest.subspan(12);
      if (data.size() < length) return Reply(Status::BadRequest);
      w.i32(boot.WritePIC(request, data.first(length)));
    }
  }
  bound->device.BootRequestDone();
  return w.body();
}

SimServer::Slot* SimServer::Find(std::int32_t id) {
  for (auto& s : slots_) {
    if (s->device.id() == id) return s.get();
  }
  return nullptr;
}

std::vector<std::uint8_t> SimServer::Handle(std::span<const std::uint8_t> body, pid_t host, Slot*& bound,
                                            Interface& iface) {
  Reader in(body);
  std::uint8_t op = 0;
  in.u8(op);
  switch (static_cast<Op>(op)) {
    case Op::List: {
      std::lock_guard lock(mutex_);
      Writer w;
      w.u8(0).u32(static_cast<std::uint32_t>(slots_.size()));
      for (auto& s : slots_) w.i32(s->device.id());
      return w.body();
    }
    case Op::ListBootLoaders: {
      std::lock_guard lock(mutex_);
      std::vector<std::int32_t> ids;
      for (auto& s : slots_) {
        if (s->device.InBootLoader() && !s->device.boot().IsCut()) ids.push_back(s->device.id());
      }
      Writer w;
      w.u8(0).u32(static_cast<std::uint32_t>(ids.size()));
      for (auto id : ids) w.i32(id);
      return w.body();
    }
    case Op::Open: {
      std::int32_t id = 0;
      std::uint8_t which = 0;
      if (!in.i32(id) || !in.u8(which)) return Reply(Status::BadRequest);
      std::lock_guard lock(mutex_);
      Slot* s = Find(id);
      if (!s) return Reply(Status::NoSuchController);
      // The application's interface is there while the application runs,
      // the boot loader's while the controller sits in its boot loader.
      const auto wanted = static_cast<Interface>(which);
      if (wanted != Interface::Application && wanted != Interface::BootLoader) {
        return Reply(Status::BadRequest);
      }
      if (wanted == Interface::BootLoader) {
        // A boot loader that stopped answering is not found; one that another
        // connection holds is refused: one programming run per controller.
        if (s->device.boot().IsCut()) return Reply(Status::NotAvailable);
        if (s->bootConnections > 0 && !(bound == s && iface == Interface::BootLoader))
          return Reply(Status::Busy);
      }
      if ((wanted == Interface::BootLoader) != s->device.InBootLoader()) return Reply(Status::NotAvailable);
      Unbind(bound, host, iface);
      bound = s;
      iface = wanted;
      ++s->hosts[host].connections;
      if (iface == Interface::BootLoader) ++s->bootConnections;
      return Reply(Status::Ok);
    }
    case Op::Write:
    case Op::WriteTake: {
      if (!bound) return Reply(Status::NotOpen);
      const auto data = in.rest();
      std::lock_guard lock(mutex_);
      const auto now = Clock::now();
      // A new request replaces any answer the host did not collect.
      Slot::Host& h = bound->hosts[host];
      h.pending = bound->device.Request(data, now);
      h.readyAt = now + std::chrono::milliseconds(bound->device.faults().latencyMs);
      answered_.notify_all();
      if (bound->device.lastRequestFailed()) return Reply(Status::Failed, bound->device.lastError());
      if (static_cast<Op>(op) == Op::Write) return Reply(Status::Ok);
      Writer w;
      w.u8(static_cast<std::uint8_t>(Status::Ok));
      if (h.readyAt > now) return w.u8(0).body();
      // What a Read would take now: the answer, or nothing when none came.
      w.u8(1);
      if (h.pending) w.bytes(*h.pending);
      h.pending.reset();
      return w.body();
    }
    case Op::Read: {
      std::uint32_t maxLength = 0;
      std::uint32_t timeoutMs = 0;
      if (!bound) return Reply(Status::NotOpen);
      if (!in.u32(maxLength) || !in.u32(timeoutMs)) return Reply(Status::BadRequest);
      std::unique_lock lock(mutex_);
      const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
      std::vector<std::uint8_t> got;
      // Nothing pending: nothing will come. Pending but not ready (latency):
      // wait until it is, or until the time-out.
      // The entry stays while this connection is open on the controller.
      Slot::Host& h = bound->hosts[host];
      while (!stopping_ && h.pending) {
        const auto now = Clock::now();
        if (now >= h.readyAt) {
          got = std::move(*h.pending);
          h.pending.reset();
          break;
        }
        if (now >= deadline) break;
        answered_.wait_until(lock, std::min(h.readyAt, deadline));
      }
      if (got.size() > maxLength) got.resize(maxLength);
      Writer w;
      w.u8(0).bytes(got);
      return w.body();
    }
    case Op::Cancel:
      return Reply(Status::Ok);
    case Op::BootPacket:
    case Op::BootRead:
    case Op::BootWrite:
      return HandleBoot(static_cast<Op>(op), in, bound, iface);
    case Op::Dump: {
      std::int32_t id = 0;
      std::string what;
      if (!in.i32(id) || !in.str(what)) return Reply(Status::BadRequest);
      Status st = Status::Ok;
      std::string text = Dump(id, what, st);
      return Reply(st, text);
    }
    case Op::Set: {
      std::int32_t id = 0;
      std::string what;
      std::string args;
      if (!in.i32(id) || !in.str(what) || !in.str(args)) return Reply(Status::BadRequest);
      std::vector<std::string> list;
      std::istringstream ss(args);
      for (std::string line; std::getline(ss, line);) {
        if (!line.empty()) list.push_back(line);
      }
      Status st = Status::Ok;
      std::string text = Set(id, what, list, st);
      return Reply(st, text);
    }
  }
  return Reply(Status::BadRequest);
}

std::string SimServer::Dump(std::int32_t id, const std::string& what, Status& status) {
  std::lock_guard lock(mutex_);
  Slot* s = Find(id);
  if (!s) {
    status = Status::NoSuchController;
    return "no controller " + std::to_string(id);
  }
  s->device.Catch(Clock::now());
  ControllerModel& m = s->device.model();
  status = Status::Ok;
  if (what == "eeprom") return HexRows(m.eeprom(), 0, 4);
  if (what == "variables") {
    std::ostringstream out;
    const auto v = m.Variables();
    for (std::size_t i = 0; i < v.size(); ++i) out << i << ' ' << int{v[i]} << '\n';
    return out.str();
  }
  if (what == "clock") {
    const ClockTime t = m.Clock();
    std::ostringstream out;
    out << std::setfill('0') << std::setw(4) << t.year << '-' << std::setw(2) << t.month << '-'
        << std::setw(2) << t.day << ' ' << std::setw(2) << t.hour << ':' << std::setw(2) << t.minute << ':'
        << std::setw(2) << t.second << (m.FastClock() ? " fast" : "") << '\n';
    return out.str();
  }
  if (what == "flash") return HexRows(s->device.boot().Flash(), 0, 6);
  if (what == "config") return HexRows(s->device.boot().Config(), kConfigBase, 6);
  if (what == "mode") return s->device.InBootLoader() ? "boot loader\n" : "application\n";
  status = Status::BadRequest;
  return "unknown state '" + what + "' (eeprom, variables, clock, flash, config, mode)";
}

std::string SimServer::Set(std::int32_t id, const std::string& what, const std::vector<std::string>& args,
                           Status& status) {
  std::lock_guard lock(mutex_);
  Slot* s = Find(id);
  if (!s) {
    status = Status::NoSuchController;
    return "no controller " + std::to_string(id);
  }
  s->device.Catch(Clock::now());
  status = Status::BadRequest;
  // `fault stuck=ADDR` and `fault cut=N` are boot-loader faults given as SPEC words.
  const bool bootFaultWord = what == "fault" && args.size() == 1 &&
                             (args[0].rfind("stuck=", 0) == 0 || args[0].rfind("cut=", 0) == 0);
  if (what == "cfgfail" || what == "erasefail" || what == "writefail" || what == "stuck" || what == "cut" ||
      bootFaultWord || (what == "fault" && args.size() == 1 && (args[0] == "noboot" || args[0] == "none"))) {
    // Boot-loader faults, with the words of a --controller SPEC.
    std::string error;
    if (args.size() != 1) return "one value is needed";
    const std::string word = bootFaultWord ? args[0] : what + "=" + args[0];
    auto parsed = ParseControllerSpec("id=" + std::to_string(id) + "," + word, error);
    if (!parsed) return error;
    BootSpec& b = s->device.bootSpec();
    const std::string key = word.substr(0, word.find('='));
    if (key == "fault") {
      b.noBoot = parsed->boot.noBoot;
      if (args[0] == "none") {
        b.stuckAt.reset();
        b.cutAt.reset();
        s->device.ApplyCut();
        s->device.faults().mode = Faults::Mode::None;
        s->device.faults().afterExchanges = 0;
        s->device.RestartExchangeCount();
      }
    }
    if (key == "cfgfail") b.configFailures = parsed->boot.configFailures;
    if (key == "erasefail") b.eraseFailAt = parsed->boot.eraseFailAt;
    if (key == "writefail") b.writeFailAt = parsed->boot.writeFailAt;
    if (key == "stuck") b.stuckAt = parsed->boot.stuckAt;
    if (key == "cut") {
      b.cutAt = parsed->boot.cutAt;
      s->device.ApplyCut();  // counts from now
    }
    s->device.ApplyBootFaults();
    status = Status::Ok;
    return {};
  }
  if (what == "fault" || what == "latency") {
    // The same words as in a --controller SPEC.
    std::string error;
    std::string text = "id=" + std::to_string(id);
    for (const auto& a : args) text += "," + what + "=" + a;
    auto parsed = ParseControllerSpec(text, error);
    if (!parsed || args.empty()) return error.empty() ? "a value is needed" : error;
    if (what == "fault") {
      s->device.faults().mode = parsed->faults.mode;
      s->device.faults().afterExchanges = parsed->faults.afterExchanges;
      s->device.RestartExchangeCount();  // after:N counts from now
    } else {
      s->device.faults().latencyMs = parsed->faults.latencyMs;
    }
    status = Status::Ok;
    return {};
  }
  const bool eeprom = what == "eeprom";
  if (!eeprom && what != "var") {
    return "unknown state '" + what +
           "' (eeprom, var, fault, latency, cfgfail, erasefail, writefail, stuck, cut)";
  }
  // Check every pair before changing anything.
  std::vector<std::pair<int, int>> pairs;
  for (const auto& a : args) {
    const auto eq = a.find('=');
    long long index = 0;
    long long value = 0;
    if (eq == std::string::npos || !ParseNumber(a.substr(0, eq), index) ||
        !ParseNumber(a.substr(eq + 1), value) || value < 0 || value > 255 || index < 0 ||
        index > (eeprom ? 255 : var::kCount - 1)) {
      return "'" + a + "': expected " +
             (eeprom ? "ADDR=VALUE with ADDR 0..255" : "INDEX=VALUE with INDEX 0..27") + " and VALUE 0..255";
    }
    pairs.emplace_back(static_cast<int>(index), static_cast<int>(value));
  }
  const Eeprom before = s->device.model().eeprom();
  for (auto [index, value] : pairs) {
    if (eeprom) {
      s->device.model().eeprom()[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
    } else {
      s->device.model().SetVariable(index, static_cast<std::uint8_t>(value));
    }
  }
  if (eeprom) {
    s->device.MarkEepromChanged();
    if (!s->device.Save()) {
      // Not kept, so not applied either.
      s->device.model().eeprom() = before;
      status = Status::Failed;
      return s->device.lastError();
    }
  }
  status = Status::Ok;
  return {};
}

}  // namespace hx::sim
