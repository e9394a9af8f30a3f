// Encoders for the reply tokens other than column metadata and rows:
// DONE, INFO/ERROR, ENVCHANGE and LOGINACK.
#pragma once

#include <cstdint>
#include <string_view>

#include "bytes.h"
#include "tds_server/server.h"

namespace tds::wire {

enum DoneStatus : std::uint16_t {
  kDoneFinal = 0x0000,
  kDoneMore = 0x0001,
  kDoneError = 0x0002,
  kDoneCount = 0x0010,
  kDoneAttn = 0x0020,
};

constexpr std::uint16_t kCurCmdSelect = 0xC1;

enum EnvChange : std::uint8_t {
  kEnvDatabase = 1,
  kEnvLanguage = 2,
  kEnvPacketSize = 4,
  kEnvCollation = 7,
};

// The collation of the session and of every character column.
// Latin1_General_CI_AS: varchar data travels in Windows-1252.
inline constexpr std::uint8_t kLatin1Collation[5] = {0x09, 0x04, 0xD0, 0x00, 0x00};
// Latin1_General_100_CI_AS_SC_UTF8 (UTF8 bit 26 set): varchar data is UTF-8.
inline constexpr std::uint8_t kUtf8Collation[5] = {0x09, 0x04, 0xD0, 0x24, 0x00};

inline const std::uint8_t *collation(bool utf8) { return utf8 ? kUtf8Collation : kLatin1Collation; }

// The server name INFO and ERROR tokens carry.
inline constexpr std::string_view kServerName = "QVTEST";

void put_done(Bytes &b, std::uint16_t status, std::uint16_t cur_cmd, std::uint64_t count);
// INFO for severity <= 10, ERROR above.
void put_message(Bytes &b, const Message &m);
void put_env_text(Bytes &b, EnvChange type, std::string_view new_value,
                  std::string_view old_value);
void put_env_collation(Bytes &b, bool utf8);
// TDS 7.4, "Microsoft SQL Server" 16.0.1000.
void put_loginack(Bytes &b);

}  // namespace tds::wire
