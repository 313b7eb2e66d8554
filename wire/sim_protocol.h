// The local-socket protocol between the stand-in libraries (and the
// hydrix-sim client commands) and the hydrix-sim daemon.
//
// Every message, both ways, is a 32-bit little-endian body length followed
// by the body. A request body starts with an operation code; a reply body
// starts with a status byte. One connection stands for one open handle: after
// kOpen it is bound to one controller and one of its interfaces.
#pragma once

#include <sys/un.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hx::sim {

enum class Op : std::uint8_t {
  List = 1,    // -> u32 count, count x i32 identifier
  Open = 2,    // i32 id, u8 interface -> status
  Write = 3,   // bytes -> status (accepted)
  Read = 4,    // u32 max length, u32 time-out ms -> bytes (empty: no answer)
  Cancel = 5,  // -> status
  Dump = 6,    // i32 id, str what -> text
  Set = 7,     // i32 id, str what, str args (one per line) -> text (error)
  // Boot-loader requests, on a connection opened on Interface::BootLoader.
  // Each reply is a status, the boot loader's i32 result, then bytes.
  BootPacket = 8,  // u32 bytes to send, packet -> result, the packet with the answer
  BootRead = 9,    // 12-byte request -> result, DataLength bytes read
  BootWrite = 10,  // 12-byte request, data -> result
  // The controllers whose boot loader can be opened now.
  ListBootLoaders = 11,  // -> u32 count, count x i32 identifier
  // A Write whose reply also hands over the answer when it is ready at once
  // (the controller answers without latency): status, then u8 1 and the
  // answer's bytes (none: the controller did not answer), or u8 0 when the
  // answer is left to a Read.
  WriteTake = 12,  // bytes -> status, u8 taken, bytes
};

enum class Interface : std::uint8_t { Application = 0, BootLoader = 1 };

enum class Status : std::uint8_t {
  Ok = 0,
  NoSuchController = 1,
  NotAvailable = 2,  // the controller does not offer that interface now
  NotOpen = 3,
  BadRequest = 4,
  Failed = 5,
  Busy = 6,  // another connection holds the boot loader
};

// The socket the libraries and clients use: $HYDRIX_SIM_SOCKET, else
// $XDG_RUNTIME_DIR/hydrix-sim.sock, else /tmp/hydrix-sim-<uid>.sock.
std::string DefaultSocketPath();

// The address of a local socket; false with a reason when the path is empty
// or too long for one.
bool SocketAddress(const std::string& socketPath, sockaddr_un& addr, std::string& error);

// Body building and reading.
class Writer {
 public:
  Writer& u8(std::uint8_t v);
  Writer& u32(std::uint32_t v);
  Writer& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
  Writer& str(const std::string& s);
  Writer& bytes(std::span<const std::uint8_t> b);
  const std::vector<std::uint8_t>& body() const { return body_; }

 private:
  std::vector<std::uint8_t> body_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> body) : body_(body) {}
  bool u8(std::uint8_t& v);
  bool u32(std::uint32_t& v);
  bool i32(std::int32_t& v);
  bool str(std::string& s);
  std::span<const std::uint8_t> rest();

 private:
  std::span<const std::uint8_t> body_;
  std::size_t pos_ = 0;
};

// A connection to the daemon (blocking, on the calling thread).
class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;

  // Connects, waiting at most `wait` while the daemon's queue is full.
  // False with a reason: "cannot reach the simulator at PATH: ...".
  bool Connect(const std::string& socketPath, std::string& error,
               std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
  // Sends a request body and waits at most `wait` for the reply body.
  std::optional<std::vector<std::uint8_t>> Call(const std::vector<std::uint8_t>& body,
                                                std::chrono::milliseconds wait, std::string& error);
  void Close();
  // Ends the connection and waits (at most `wait`) until the daemon has
  // closed its side, so that what the connection held is let go on return.
  void CloseAndWait(std::chrono::milliseconds wait);
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The handles a stand-in library hands out: one connection each, numbered
// from 1 (never 0 or -1, which callers use as "closed" and "invalid").
// A connection is taken out of the table while it is used, so a slow call
// on one handle does not hold up the others.
class HandleTable {
 public:
  std::int32_t Add(std::unique_ptr<Connection> c);
  std::unique_ptr<Connection> Take(std::int32_t handle);
  void Give(std::int32_t handle, std::unique_ptr<Connection> c);
  bool Contains(std::int32_t handle);
  // Closes the handle's connection; false when there was no such handle.
  bool Remove(std::int32_t handle);

 private:
  std::mutex mutex_;
  std::map<std::int32_t, std::unique_ptr<Connection>> handles_;
  std::int32_t next_ = 1;
};

// Sending and receiving one framed message on a socket (used by both sides).
bool SendMessage(int fd, const std::vector<std::uint8_t>& body);
// Waits at most `wait` (negative: no limit) for a whole message.
std::optional<std::vector<std::uint8_t>> ReceiveMessage(int fd, std::chrono::milliseconds wait);

}  // namespace hx::sim
