#include "common/names.h"

#include "common/text.h"

namespace qv::common {

namespace {

constexpr std::size_t kSurrogatePairBytes = 4;
constexpr unsigned char kDelete = 0x7F;

bool has_control_character(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == kDelete) return true;
  return false;
}

std::string doubling(std::string_view text, char twin, std::size_t extra) {
  std::string out;
  out.reserve(text.size() + extra);
  for (char c : text) {
    out += c;
    if (c == twin) out += twin;
  }
  return out;
}

}  // namespace

std::size_t qv_utf16_units(std::string_view s) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = qv_utf8_sequence_len(static_cast<unsigned char>(s[i]));
    units += n == kSurrogatePairBytes ? 2 : 1;
    i += n;
  }
  return units;
}

bool qv_name_legal(std::string_view name) {
  // A name longer than four bytes a unit is too long whatever it holds;
  // checking that first keeps the scans of hostile texts short.
  if (name.empty() || name.size() > kMaxNameUnits * kSurrogatePairBytes) return false;
  return !has_control_character(name) && qv_utf8_valid(name.data(), name.size()) &&
         qv_utf16_units(name) <= kMaxNameUnits;
}

bool qv_text_legal(std::string_view text) {
  return text.find('\0') == std::string_view::npos && qv_utf8_valid(text.data(), text.size());
}

std::string qv_bracketed(std::string_view name) {
  return "[" + doubling(name, ']', 2) + "]";
}

std::string qv_literal_inside(std::string_view text) { return doubling(text, '\'', 0); }

std::string qv_literal(std::string_view text) { return "N'" + doubling(text, '\'', 3) + "'"; }

}  // namespace qv::common
