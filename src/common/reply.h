// The reply writer: every operation streams its JSON reply through one of
// these. Output is compact, keys come in the order they are written, and the
// finished text is one malloc-allocated NUL-terminated buffer handed to the
// caller without a copy. Running out of memory throws std::bad_alloc, which
// the exported functions turn into the error envelope. Internal header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/json.h"

namespace qv::common {

// memcpy for the short pieces a reply is mostly made of (numbers, dates,
// names): up to 16 bytes are copied inline, without a library call.
inline void qv_copy_bytes(char *dst, const char *src, std::size_t n) {
  if (n > 16) {
    std::memcpy(dst, src, n);
  } else if (n >= 8) {  // two overlapping words
    std::uint64_t head, tail;
    std::memcpy(&head, src, 8);
    std::memcpy(&tail, src + n - 8, 8);
    std::memcpy(dst, &head, 8);
    std::memcpy(dst + n - 8, &tail, 8);
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, src, 4);
    std::memcpy(&tail, src + n - 4, 4);
    std::memcpy(dst, &head, 4);
    std::memcpy(dst + n - 4, &tail, 4);
  } else if (n > 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
}

// Growable malloc buffer used as RapidJSON's output stream.
class qv_out {
 public:
  typedef char Ch;
  qv_out() = default;
  ~qv_out();
  qv_out(const qv_out &) = delete;
  qv_out &operator=(const qv_out &) = delete;

  void Put(char c) {
    if (len_ + 1 >= limit_) make_room(1);
    buf_[len_++] = c;
  }
  void Reserve(std::size_t n) {
    if (len_ + n >= limit_) make_room(n);
  }
  void PutUnsafe(char c) { buf_[len_++] = c; }
  // Writing in place: room() gives the position with n bytes of room after
  // it, end_at() records where the writing stopped.
  char *room(std::size_t n) {
    Reserve(n);
    return buf_ + len_;
  }
  void end_at(const char *end) { len_ = static_cast<std::size_t>(end - buf_); }
  // The write position, for bytes an earlier room() call made room for.
  char *at() { return buf_ + len_; }
  void Flush() {}
  void append(const char *s, std::size_t n) {
    Reserve(n);
    qv_copy_bytes(buf_ + len_, s, n);
    len_ += n;
  }
  // Appends s as a quoted JSON string: escapes as RapidJSON's writer does,
  // every invalid UTF-8 sequence becomes U+FFFD. Runs of bytes that need
  // neither are copied in bulk.
  void append_json_string(const char *s, std::size_t n);

  std::size_t size() const { return len_; }
  const char *data() const { return buf_; }
  // Terminates the text and gives up ownership of it.
  char *release();
  // Terminates the text where it stands (the terminator is not part of it)
  // and keeps the buffer.
  const char *terminated() {
    Reserve(1);
    buf_[len_] = '\0';
    return buf_;
  }
  // Starts over, keeping the buffer and its pages.
  void clear() { len_ = 0; }

 private:
  // Grows the buffer when extra bytes (and the terminator) do not fit, and
  // moves limit_ on.
  void make_room(std::size_t extra);
  char *buf_ = nullptr;
  std::size_t len_ = 0;
  std::size_t cap_ = 0;
  // Writes below limit_ need no check: it is cap_, or in a large buffer the
  // end of the part already faulted in (see make_room).
  std::size_t limit_ = 0;
};

}  // namespace qv::common

namespace rapidjson {
template <>
inline void PutReserve(qv::common::qv_out &stream, size_t count) {
  stream.Reserve(count);
}
template <>
inline void PutUnsafe(qv::common::qv_out &stream, char c) {
  stream.PutUnsafe(c);
}
}  // namespace rapidjson

namespace qv::common {

class qv_reply {
 public:
  qv_reply() : w_(out_) {}

  void begin_object() { w_.StartObject(); }
  void end_object() { w_.EndObject(); }
  void begin_array() { w_.StartArray(); }
  void end_array() { w_.EndArray(); }

  // Keys follow the same UTF-8 rule as strings.
  void key(std::string_view k);
  // Strings are always written as valid UTF-8: each invalid sequence becomes
  // U+FFFD.
  void str(std::string_view s);
  // A string known to be printable ASCII without '"' or '\\' (hex, dates):
  // copied between the quotes without a look at its bytes.
  void str_plain(std::string_view s) {
    w_.RawValue("", 0, rapidjson::kStringType);  // separators and nesting only
    out_.Reserve(s.size() + 2);
    out_.PutUnsafe('"');
    out_.append(s.data(), s.size());
    out_.PutUnsafe('"');
  }
  void str_or_null(const char *s) {
    if (s) str(s);
    else null();
  }
  // Scalars are spelled by RapidJSON's own routines and copied in one piece
  // (its writer puts them byte by byte).
  void null() { scalar(rapidjson::kNullType, "null", 4); }
  void boolean(bool b) {
    if (b) scalar(rapidjson::kTrueType, "true", 4);
    else scalar(rapidjson::kFalseType, "false", 5);
  }
  void int64(std::int64_t v) {
    char digits[24];
    scalar(rapidjson::kNumberType, digits, rapidjson::internal::i64toa(v, digits) - digits);
  }
  void uint64(std::uint64_t v) {
    char digits[24];
    scalar(rapidjson::kNumberType, digits, rapidjson::internal::u64toa(v, digits) - digits);
  }
  // A finite double in shortest round-trip form; NaN and infinities, which
  // JSON cannot hold, are written as null.
  void real(double v);
  // A number given as text that is already a valid JSON number.
  void number_text(std::string_view digits) {
    scalar(rapidjson::kNumberType, digits.data(), digits.size());
  }

  // The buffer, for one complete JSON array the caller writes itself (a
  // row whose cells are known to be valid JSON): the separator before it
  // and the count of values are kept here, as for any other value.
  qv_out &raw_array() {
    w_.RawValue("", 0, rapidjson::kArrayType);
    return out_;
  }

  // Splices a complete JSON value rendered by another writer (a scratch
  // qv_reply, see text()) in as the next value: one memcpy, no re-rendering.
  // Lets a reply put members it can only decide at the end (e.g. "ok") before
  // a streamed array.
  void raw(std::string_view json) {
    w_.RawValue("", 0, rapidjson::kArrayType);  // separators and nesting only
    out_.append(json.data(), json.size());
  }
  // The text written so far; valid until the next write.
  std::string_view text() const { return {out_.data() ? out_.data() : "", out_.size()}; }

  // Shorthands for "key": value members.
  void member_str(std::string_view k, std::string_view v) { key(k); str(v); }
  void member_int(std::string_view k, std::int64_t v) { key(k); int64(v); }
  void member_bool(std::string_view k, bool v) { key(k); boolean(v); }
  void member_null(std::string_view k) { key(k); null(); }

  // The finished, NUL-terminated text; the caller frees it with free().
  char *release() { return out_.release(); }
  // The finished text, NUL-terminated and still owned by the writer: valid
  // until the next write or reset.
  const char *terminated() { return out_.terminated(); }
  // Starts a new text in the same buffer: a writer used again and again
  // keeps its pages.
  void reset() {
    out_.clear();
    w_.Reset(out_);
  }

 private:
  // The writer places separators and counts the value; the text follows.
  void scalar(rapidjson::Type type, const char *text, std::size_t n) {
    w_.RawValue("", 0, type);
    out_.append(text, n);
  }

  qv_out out_;
  qv_json_writer<qv_out> w_;
};

// Longest text qv_real_text writes ("-2.2250738585072014e-308").
constexpr std::size_t kRealTextMax = 32;
// The shortest round-trip digits of a finite double as the reply spells
// them; returns the end of the text.
char *qv_real_text(double v, char *out);

}  // namespace qv::common
