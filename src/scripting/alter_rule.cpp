// The ALTER rule reads the definition with the same lexical scanner as the
// script splitter, so a CREATE inside a comment, a string literal or a
// quoted or bracketed identifier is never taken for the statement's own.
#include "scripting/alter_rule.h"

#include <string_view>

#include "common/sql_scanner.h"
#include "scripting/script_text.h"

namespace qv::ops::scripting {

namespace {

constexpr std::string_view kCreate = "CREATE";
constexpr char kAlter[] = "ALTER ";

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The word w (upper case) in any letter case at at, standing alone.
bool word_at(std::string_view s, std::size_t at, std::string_view w) {
  if (at > 0 && (word_byte(s[at - 1]) || s[at - 1] == '.')) return false;
  if (s.size() - at < w.size()) return false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    char c = s[at + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != w[i]) return false;
  }
  return at + w.size() == s.size() || !word_byte(s[at + w.size()]);
}

// The index of the next token from at on, past blanks and comments; the
// text's size when nothing but them is left.
std::size_t next_token(std::string_view s, std::size_t at) {
  qv_sql_scanner sc;
  while (at < s.size()) {
    if (sc.state == qv_sql_state::normal && !blank(s[at]) &&
        !(s.compare(at, 2, "--") == 0 || s.compare(at, 2, "/*") == 0))
      return at;
    at = qv_sql_step(s.data(), at, s.size(), sc);
  }
  return at;
}

// "OR ALTER" after the CREATE that ends at at: the module alters itself.
bool or_alter_follows(std::string_view s, std::size_t at) {
  at = next_token(s, at);
  if (!word_at(s, at, "OR")) return false;
  return word_at(s, next_token(s, at + 2), "ALTER");
}

}  // namespace

void alter_first_create(std::string &script) {
  std::string_view s = script;
  qv_sql_scanner sc;
  for (std::size_t at = 0; at < s.size();) {
    if (sc.state == qv_sql_state::normal && word_at(s, at, kCreate)) {
      if (!or_alter_follows(s, at + kCreate.size()))
        script.replace(at, kCreate.size(), kAlter);
      return;
    }
    at = qv_sql_step(s.data(), at, s.size(), sc);
  }
}

}  // namespace qv::ops::scripting
