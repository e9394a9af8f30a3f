// Copying parsed JSON into a writer with every number kept as the library
// wrote it: a bigint or decimal never passes through a double on its way to
// the screen or the file.
#pragma once

#include <cstdint>
#include <string_view>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

// Numbers are parsed as their own text.
constexpr unsigned kExactNumbers = rapidjson::kParseNumbersAsStringsFlag;

// Copies parsed JSON into a writer, numbers with their own digits; the
// outermost array's brackets are left out when `inner_only`, so that
// several chunks continue one array.
template <class W>
struct copy_into {
  using SizeType = rapidjson::SizeType;
  W &w;
  bool inner_only = false;
  int depth = 0;
  bool Null() { return w.Null(); }
  bool Bool(bool b) { return w.Bool(b); }
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(std::int64_t) { return false; }
  bool Uint64(std::uint64_t) { return false; }
  bool Double(double) { return false; }
  bool RawNumber(const char *s, SizeType n, bool) { return w.RawValue(s, n, rapidjson::kNumberType); }
  bool String(const char *s, SizeType n, bool) { return w.String(s, n); }
  bool StartObject() {
    ++depth;
    return w.StartObject();
  }
  bool Key(const char *s, SizeType n, bool) { return w.Key(s, n); }
  bool EndObject(SizeType n) {
    --depth;
    return w.EndObject(n);
  }
  bool StartArray() {
    if (inner_only && depth++ == 0) return true;
    return w.StartArray();
  }
  bool EndArray(SizeType n) {
    if (inner_only && --depth == 0) return true;
    return w.EndArray(n);
  }
};

// Copies text into w; false when text is not valid JSON.
template <class W>
bool copy_json(W &w, std::string_view text, bool inner_only = false) {
  copy_into<W> h{w, inner_only};
  rapidjson::Reader r;
  rapidjson::MemoryStream ms(text.data(), text.size());
  return !r.Parse<kExactNumbers>(ms, h).IsError();
}
