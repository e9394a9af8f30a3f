#include "login.h"

namespace tds::wire {
namespace {

constexpr std::uint8_t kOptEncryption = 0x01;
constexpr std::uint8_t kOptTerminator = 0xFF;
constexpr std::size_t kLogin7FixedSize = 94;
constexpr std::size_t kFieldTable = 36;

// Field order in LOGIN7's offset/length table.
enum Login7Field {
  kHost, kUser, kPassword, kApp, kServer, kExtension, kLibrary, kLanguage, kDatabase,
};

struct FieldRef {
  std::size_t offset = 0;
  std::size_t length = 0;  // bytes
};

FieldRef field_ref(const Bytes &p, int index) {
  const std::uint8_t *at = p.data() + kFieldTable + 4 * static_cast<std::size_t>(index);
  FieldRef ref{get_u16(at), get_u16(at + 2)};
  if (index != kExtension) ref.length *= 2;  // counted in UTF-16 code units
  return ref;
}

bool in_bounds(const Bytes &p, FieldRef ref) {
  return ref.offset + ref.length <= p.size();
}

std::string field_text(const Bytes &p, FieldRef ref) {
  return utf16le_to_utf8(p.data() + ref.offset, ref.length);
}

void put_option(Bytes &b, std::uint8_t token, std::uint16_t offset, std::uint16_t length) {
  put_u8(b, token);
  put_u16be(b, offset);
  put_u16be(b, length);
}

}  // namespace

std::optional<int> parse_prelogin_encryption(const Bytes &payload) {
  int encryption = -1;
  for (std::size_t i = 0; i < payload.size(); i += 5) {
    if (payload[i] == kOptTerminator) return encryption;
    if (i + 5 > payload.size()) return std::nullopt;
    const std::size_t offset = get_u16be(&payload[i + 1]);
    const std::size_t length = get_u16be(&payload[i + 3]);
    if (offset + length > payload.size()) return std::nullopt;
    if (payload[i] == kOptEncryption && length >= 1) encryption = payload[offset];
  }
  return std::nullopt;
}

Bytes prelogin_reply() {
  // Five options of five bytes plus the terminator put the data at offset 26.
  Bytes b;
  put_option(b, 0x00, 26, 6);  // VERSION
  put_option(b, 0x01, 32, 1);  // ENCRYPTION
  put_option(b, 0x02, 33, 1);  // INSTOPT
  put_option(b, 0x03, 34, 0);  // THREADID
  put_option(b, 0x04, 34, 1);  // MARS
  put_u8(b, kOptTerminator);
  const std::uint8_t data[] = {16, 0, 0x03, 0xE8, 0, 0, kEncryptNotSupported, 0, 0};
  put_bytes(b, data, sizeof data);
  return b;
}

std::string unscramble_password(const std::uint8_t *p, std::size_t nbytes) {
  Bytes plain(p, p + nbytes);
  for (auto &c : plain) {
    const std::uint8_t x = c ^ 0xA5;
    c = static_cast<std::uint8_t>((x << 4) | (x >> 4));
  }
  return utf16le_to_utf8(plain.data(), plain.size());
}

std::optional<Login7> parse_login7(const Bytes &p) {
  if (p.size() < kLogin7FixedSize) return std::nullopt;
  for (int f = kHost; f <= kDatabase; ++f) {
    if (!in_bounds(p, field_ref(p, f))) return std::nullopt;
  }
  Login7 l;
  l.tds_version = get_u32(p.data() + 4);
  l.packet_size = get_u32(p.data() + 8);
  l.host_name = field_text(p, field_ref(p, kHost));
  l.user = field_text(p, field_ref(p, kUser));
  const FieldRef pw = field_ref(p, kPassword);
  l.password = unscramble_password(p.data() + pw.offset, pw.length);
  l.app_name = field_text(p, field_ref(p, kApp));
  l.server_name = field_text(p, field_ref(p, kServer));
  l.library = field_text(p, field_ref(p, kLibrary));
  l.language = field_text(p, field_ref(p, kLanguage));
  l.database = field_text(p, field_ref(p, kDatabase));
  return l;
}

}  // namespace tds::wire
