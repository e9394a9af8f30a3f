// Names and caller texts: the legality rules against an independent reading
// (RapidJSON's validator and decoder), and the quoting functions:
// their output is one quoted token whose text is the input exactly, every
// closing character inside doubled, and well-formed whenever the input is.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/names.h"
#include "fuzz_support.h"

namespace {

using namespace qv::common;
using qv::fuzz::quotes_exactly;
using qv::fuzz::rapidjson_valid;

bool has_control(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// UTF-16 code units of well-formed s, from RapidJSON's decoder: two for a
// code point past U+FFFF.
std::size_t utf16_units(std::string_view s) {
  rapidjson::MemoryStream in(s.data(), s.size());
  std::size_t units = 0;
  while (in.Tell() < s.size()) {
    unsigned code_point;
    QV_FUZZ_CHECK(rapidjson::UTF8<>::Decode(in, &code_point));
    units += code_point > 0xFFFF ? 2 : 1;
  }
  return units;
}

void check_legality(std::string_view s, bool valid) {
  const bool name = !s.empty() && valid && !has_control(s) && utf16_units(s) <= kMaxNameUnits;
  QV_FUZZ_CHECK(qv_name_legal(s) == name);
  QV_FUZZ_CHECK(qv_text_legal(s) == (valid && s.find('\0') == std::string_view::npos));
  if (valid) QV_FUZZ_CHECK(qv_utf16_units(s) == utf16_units(s));
}

void check_quoting(std::string_view s, bool valid) {
  const std::string bracketed = qv_bracketed(s);
  QV_FUZZ_CHECK(bracketed.front() == '[' && quotes_exactly(bracketed, s));

  const std::string inside = qv_literal_inside(s);
  const std::string literal = qv_literal(s);
  QV_FUZZ_CHECK(literal == "N'" + inside + "'");
  QV_FUZZ_CHECK(quotes_exactly(std::string_view(literal).substr(1), s));

  if (valid)
    QV_FUZZ_CHECK(rapidjson_valid(bracketed) && rapidjson_valid(literal) &&
                  rapidjson_valid(inside));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view s(reinterpret_cast<const char *>(data), size);
  const bool valid = rapidjson_valid(s);
  check_legality(s, valid);
  check_quoting(s, valid);
  return 0;
}
