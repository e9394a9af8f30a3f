// The UTF-8 helpers against RapidJSON's validator: the same verdict on every
// text, the first broken byte where RapidJSON first fails, prefix cuts that
// never fall inside a well-formed character, and sanitized copies that are
// always well-formed, equal to the input when it was, and prefixes of each
// other when cut shorter.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "fuzz_support.h"

namespace {

using namespace qv::common;
using qv::fuzz::rapidjson_char_len;
using qv::fuzz::rapidjson_valid;

// inside[i]: byte i lies after the first byte of a well-formed character, so
// a cut before it would split that character.
std::vector<bool> inside_characters(std::string_view s) {
  std::vector<bool> inside(s.size() + 1, false);
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = rapidjson_char_len(s.substr(i));
    for (std::size_t k = 1; k < n; ++k) inside[i + k] = true;
    i += n ? n : 1;
  }
  return inside;
}

void check_validity(std::string_view s, bool valid) {
  QV_FUZZ_CHECK(qv_utf8_valid(s.data(), s.size()) == valid);
  const long long at = qv_utf8_invalid_at(s.data(), s.size());
  QV_FUZZ_CHECK((at < 0) == valid);
  if (at >= 0) {
    const auto i = static_cast<std::size_t>(at);
    QV_FUZZ_CHECK(i < s.size() && rapidjson_valid(s.substr(0, i)) &&
                  rapidjson_char_len(s.substr(i)) == 0);
  }
  for (std::size_t i = 0; i < s.size();) {
    bool unit_valid;
    const std::size_t n = qv_utf8_next_unit(s.data(), s.size(), i, &unit_valid);
    QV_FUZZ_CHECK(n >= 1 && i + n <= s.size());
    QV_FUZZ_CHECK(unit_valid == (rapidjson_char_len(s.substr(i)) == n));
    i += n;
  }
}

void check_prefixes(std::string_view s, bool valid) {
  const std::vector<bool> inside = inside_characters(s);
  for (std::size_t max = 0; max <= s.size() + 1; ++max) {
    const std::size_t cut = qv_utf8_prefix_len(s.data(), s.size(), max);
    if (s.size() <= max) {
      QV_FUZZ_CHECK(cut == s.size());
      continue;
    }
    QV_FUZZ_CHECK(cut <= max && cut + 3 >= max && !inside[cut]);
    // On well-formed text the cut is the last character boundary.
    if (valid)
      for (std::size_t k = cut + 1; k <= max; ++k) QV_FUZZ_CHECK(inside[k]);
  }
}

void check_sanitized(std::string_view s, bool valid) {
  const std::size_t full_size = 3 * s.size() + 1;  // U+FFFD for every byte, at worst
  std::vector<char> full(full_size);
  const std::size_t full_len = qv_utf8_sanitize_into(s.data(), s.size(), full.data(), full_size);
  QV_FUZZ_CHECK(full_len < full_size && full[full_len] == '\0');
  const std::string_view clean(full.data(), full_len);
  QV_FUZZ_CHECK(rapidjson_valid(clean));
  if (valid) QV_FUZZ_CHECK(clean == s);

  for (std::size_t outsize : {std::size_t{1}, std::size_t{2}, std::size_t{4}, s.size() / 2 + 1,
                              s.size()}) {
    if (outsize == 0) continue;
    std::vector<char> out(outsize);
    const std::size_t len = qv_utf8_sanitize_into(s.data(), s.size(), out.data(), outsize);
    QV_FUZZ_CHECK(len < outsize && out[len] == '\0');
    QV_FUZZ_CHECK(clean.substr(0, len) == std::string_view(out.data(), len));
    QV_FUZZ_CHECK(len + 3 >= outsize - 1 || len == full_len);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // An exact-size copy: ASan reports any read past the text.
  std::vector<char> copy(data, data + size);
  const std::string_view s(copy.data(), copy.size());
  const bool valid = rapidjson_valid(s);
  check_validity(s, valid);
  check_prefixes(s, valid);
  check_sanitized(s, valid);
  return 0;
}
