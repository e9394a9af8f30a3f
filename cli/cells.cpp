#include "cells.h"

#include <clocale>
#include <cwchar>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

// wcwidth reads the character classes of the locale: a UTF-8 one is chosen
// once, whatever the environment's is (it may be "C").
void use_utf8_classes() {
  static const bool done = [] {
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
    return true;
  }();
  (void)done;
}

// The code point starting at s[at] and its length in bytes; a malformed
// byte is U+FFFD of length 1.
char32_t decode(const std::string &s, std::size_t at, std::size_t &len) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(at);
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || at + n > s.size()) {
    len = 1;
    return c < 0x80 ? c : 0xFFFD;
  }
  char32_t cp = n == 1 ? c : c & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(at + i) & 0xC0) != 0x80) {
      len = 1;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b(at + i) & 0x3F);
  }
  len = n;
  return cp;
}

std::size_t columns_of(char32_t cp) {
  use_utf8_classes();
  const int w = ::wcwidth(static_cast<wchar_t>(cp));
  return w < 0 ? 1 : static_cast<std::size_t>(w);
}

}  // namespace

std::string cell_text(const rapidjson::Value &v, const char *null_text) {
  if (v.IsNull()) return null_text;
  if (v.IsString()) return {v.GetString(), v.GetStringLength()};
  if (v.IsBool()) return v.GetBool() ? "true" : "false";
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> w(sb);
  v.Accept(w);
  return sb.GetString();
}

std::string csv_field(const std::string &s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

std::size_t display_width(const std::string &s) {
  std::size_t cols = 0;
  for (std::size_t at = 0, len = 0; at < s.size(); at += len) cols += columns_of(decode(s, at, len));
  return cols;
}

std::string fit_cell(std::string s, std::size_t width) {
  for (char &c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  if (display_width(s) <= width) return s;
  if (width == 0) return {};
  // Keep whole characters within width - 1 columns, then the ellipsis; the
  // combining marks after the last kept character stay with it.
  std::size_t cols = 0, at = 0;
  for (std::size_t len = 0; at < s.size(); at += len) {
    const std::size_t w = columns_of(decode(s, at, len));
    if (cols + w > width - 1) break;
    cols += w;
  }
  return s.substr(0, at) + "\xE2\x80\xA6";  // U+2026
}
