#include "tokens.h"

namespace tds::wire {
namespace {

constexpr std::uint8_t kTokDone = 0xFD;
constexpr std::uint8_t kTokError = 0xAA;
constexpr std::uint8_t kTokInfo = 0xAB;
constexpr std::uint8_t kTokLoginAck = 0xAD;
constexpr std::uint8_t kTokEnvChange = 0xE3;

// Writes a token byte and a u16 length placeholder; returns the
// placeholder's position for patch_length().
std::size_t begin_sized(Bytes &b, std::uint8_t token) {
  put_u8(b, token);
  const std::size_t at = b.size();
  put_u16(b, 0);
  return at;
}

void patch_length(Bytes &b, std::size_t at) {
  patch_u16(b, at, static_cast<std::uint16_t>(b.size() - at - 2));
}

}  // namespace

void put_done(Bytes &b, std::uint16_t status, std::uint16_t cur_cmd, std::uint64_t count) {
  put_u8(b, kTokDone);
  put_u16(b, status);
  put_u16(b, cur_cmd);
  put_u64(b, count);
}

void put_message(Bytes &b, const Message &m) {
  const std::size_t at = begin_sized(b, m.severity > 10 ? kTokError : kTokInfo);
  put_u32(b, static_cast<std::uint32_t>(m.number));
  put_u8(b, static_cast<std::uint8_t>(m.state));
  put_u8(b, static_cast<std::uint8_t>(m.severity));
  put_us_varchar(b, m.text);
  put_b_varchar(b, kServerName);
  put_b_varchar(b, m.proc);
  put_u32(b, static_cast<std::uint32_t>(m.line));
  patch_length(b, at);
}

void put_env_text(Bytes &b, EnvChange type, std::string_view new_value,
                  std::string_view old_value) {
  const std::size_t at = begin_sized(b, kTokEnvChange);
  put_u8(b, type);
  put_b_varchar(b, new_value);
  put_b_varchar(b, old_value);
  patch_length(b, at);
}

void put_env_collation(Bytes &b, bool utf8) {
  const std::size_t at = begin_sized(b, kTokEnvChange);
  put_u8(b, kEnvCollation);
  put_u8(b, 5);
  put_bytes(b, collation(utf8), 5);
  put_u8(b, 0);
  patch_length(b, at);
}

void put_loginack(Bytes &b) {
  const std::size_t at = begin_sized(b, kTokLoginAck);
  put_u8(b, 0x01);  // interface: T-SQL
  const std::uint8_t version[] = {0x74, 0x00, 0x00, 0x04};
  put_bytes(b, version, sizeof version);
  put_b_varchar(b, "Microsoft SQL Server");
  const std::uint8_t prog_version[] = {16, 0, 0x03, 0xE8};
  put_bytes(b, prog_version, sizeof prog_version);
  patch_length(b, at);
}

}  // namespace tds::wire
