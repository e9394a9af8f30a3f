#include "scripting/script_text.h"

namespace qv::ops::scripting {

namespace {

bool ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool ascii_word_char(char c) {
  return ascii_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace

std::string comment_text(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

bool plain_word(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!ascii_word_char(c)) return false;
  return true;
}

bool word_byte(char c) {
  return ascii_word_char(c) || c == '@' || c == '#' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool whole_number(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text)
    if (!ascii_digit(c)) return false;
  return true;
}

}  // namespace qv::ops::scripting
