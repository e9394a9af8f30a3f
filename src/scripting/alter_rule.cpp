#include "scripting/alter_rule.h"

#include <string_view>

namespace qv::ops::scripting {

namespace {

bool ascii_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Skips at least one blank from at; false when there is none.
bool skip_blanks(const std::string &s, std::size_t &at) {
  std::size_t from = at;
  while (at < s.size() && blank(s[at])) ++at;
  return at > from;
}

// The word w (upper case) at at, in any letter case, ending there.
bool word_at(const std::string &s, std::size_t &at, std::string_view w) {
  if (s.size() - at < w.size()) return false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    char c = s[at + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != w[i]) return false;
  }
  at += w.size();
  return at == s.size() || !(ascii_alnum(s[at]) || s[at] == '_');
}

// "OR ALTER" after a CREATE: the module already alters.
bool or_alter_follows(const std::string &s, std::size_t at) {
  return skip_blanks(s, at) && word_at(s, at, "OR") && skip_blanks(s, at) &&
         word_at(s, at, "ALTER");
}

}  // namespace

void alter_first_create(std::string &script) {
  static constexpr std::string_view kCreate = "CREATE";
  std::size_t at = script.find(kCreate);
  if (at == std::string::npos) return;
  if (at > 0 && ascii_alnum(script[at - 1])) return;
  if (or_alter_follows(script, at + kCreate.size())) return;
  script.replace(at, kCreate.size(), "ALTER ");
}

}  // namespace qv::ops::scripting
