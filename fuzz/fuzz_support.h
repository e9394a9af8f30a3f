// Shared pieces of the fuzz targets: the property check that stops the run,
// the reading of a quoted T-SQL token back to its text, and RapidJSON's own
// UTF-8 validator as an independent judge of well-formed text.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/json.h"  // RapidJSON's configuration, before any of its headers
#include "common/sql_scanner.h"

#include <rapidjson/memorystream.h>

namespace qv::fuzz {

[[noreturn]] inline void property_failed(const char *what, const char *file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
  std::abort();
}

// Unlike assert, never compiled out.
#define QV_FUZZ_CHECK(cond) \
  ((cond) ? (void)0 : ::qv::fuzz::property_failed(#cond, __FILE__, __LINE__))

struct discard_stream {
  void Put(char) {}
};

// True when RapidJSON's validator accepts s as a whole.
inline bool rapidjson_valid(std::string_view s) {
  rapidjson::MemoryStream in(s.data(), s.size());
  discard_stream out;
  while (in.Tell() < s.size())
    if (!rapidjson::UTF8<>::Validate(in, out)) return false;
  return true;
}

// Bytes of the well-formed character at s[0] by RapidJSON's validator; 0
// when none starts there.
inline std::size_t rapidjson_char_len(std::string_view s) {
  if (s.empty()) return 0;
  rapidjson::MemoryStream in(s.data(), s.size());
  discard_stream out;
  if (!rapidjson::UTF8<>::Validate(in, out)) return 0;
  return in.Tell();
}

// Reads the quoted token opening at s[at] (a string literal's "'" or an
// identifier's "["), whose closing character stands for itself when doubled.
// Returns the index after the token and its unquoted text, or npos when the
// token never closes. The project's scanner must agree on where it ends.
inline std::size_t quoted_token(std::string_view s, std::size_t at, std::string *inside) {
  QV_FUZZ_CHECK(at < s.size() && (s[at] == '\'' || s[at] == '['));
  const char close = s[at] == '[' ? ']' : '\'';
  inside->clear();
  std::size_t i = at + 1;
  for (;; ++i) {
    if (i == s.size()) return std::string_view::npos;
    if (s[i] != close) {
      *inside += s[i];
      continue;
    }
    if (i + 1 < s.size() && s[i + 1] == close) {
      *inside += close;
      ++i;
      continue;
    }
    break;
  }
  const std::size_t end = i + 1;
  common::qv_sql_scanner sc;
  std::size_t j = common::qv_sql_step(s.data(), at, s.size(), sc);
  while (sc.state != common::qv_sql_state::normal && j < s.size())
    j = common::qv_sql_step(s.data(), j, s.size(), sc);
  QV_FUZZ_CHECK(sc.state == common::qv_sql_state::normal && j == end);
  return end;
}

// True when s is exactly one quoted token and its text is `text`.
inline bool quotes_exactly(std::string_view s, std::string_view text) {
  std::string inside;
  return !s.empty() && quoted_token(s, 0, &inside) == s.size() && inside == text;
}

}  // namespace qv::fuzz
