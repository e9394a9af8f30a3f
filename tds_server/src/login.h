// PRELOGIN and LOGIN7 decoding, and the PRELOGIN answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bytes.h"

namespace tds::wire {

constexpr std::uint8_t kEncryptOff = 0x00;
constexpr std::uint8_t kEncryptNotSupported = 0x02;

// The client's ENCRYPTION option; -1 when absent, nullopt when the option
// table is malformed.
std::optional<int> parse_prelogin_encryption(const Bytes &payload);

// VERSION 16.0.1000, ENCRYPTION NOT_SUP, INSTOPT 0, empty THREADID, MARS 0.
Bytes prelogin_reply();

struct Login7 {
  std::uint32_t tds_version = 0;
  std::uint32_t packet_size = 0;
  std::string host_name, user, password, app_name, server_name, library, language, database;
};

// Decodes a LOGIN7 payload; nullopt if a field lies outside it.
std::optional<Login7> parse_login7(const Bytes &payload);

// Undoes the client's password scrambling (XOR 0xA5, then swap nibbles).
std::string unscramble_password(const std::uint8_t *p, std::size_t nbytes);

}  // namespace tds::wire
