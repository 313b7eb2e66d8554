#include "sim/sim_client.h"

#include "wire/sim_protocol.h"

namespace hx::sim {

namespace {

constexpr std::chrono::milliseconds kWait{5000};

int Call(const std::string& socketPath, const std::vector<std::uint8_t>& body, std::string& text,
         std::string& error) {
  Connection c;
  if (!c.Connect(socketPath, error)) return 2;
  auto reply = c.Call(body, kWait, error);
  if (!reply) return 2;
  Reader in(*reply);
  std::uint8_t status = 0;
  in.u8(status);
  in.str(text);
  if (status != static_cast<std::uint8_t>(Status::Ok)) {
    error = text;
    return 1;
  }
  return 0;
}

}  // namespace

int ClientDump(const std::string& socketPath, std::int32_t id, const std::string& what, std::string& out,
               std::string& error) {
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Dump)).i32(id).str(what);
  return Call(socketPath, w.body(), out, error);
}

int ClientSet(const std::string& socketPath, std::int32_t id, const std::string& what,
              const std::vector<std::string>& args, std::string& error) {
  std::string joined;
  for (const auto& a : args) joined += a + "\n";
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Set)).i32(id).str(what).str(joined);
  std::string text;
  return Call(socketPath, w.body(), text, error);
}

}  // namespace hx::sim
