#include "common/reply.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/text.h"

namespace {

constexpr std::size_t kInitialReplyCapacity = 4096;
constexpr char kReplacementChar[] = "\xEF\xBF\xBD";

}  // namespace

qv_out::~qv_out() { std::free(buf_); }

void qv_out::grow(std::size_t extra) {
  std::size_t need = len_ + extra + 1;
  std::size_t cap = cap_ ? cap_ : kInitialReplyCapacity;
  while (cap < need) cap *= 2;
  char *p = static_cast<char *>(std::realloc(buf_, cap));
  if (!p) throw std::bad_alloc();
  buf_ = p;
  cap_ = cap;
}

void qv_out::append(const char *s, std::size_t n) {
  Reserve(n);
  std::memcpy(buf_ + len_, s, n);
  len_ += n;
}

char *qv_out::release() {
  Reserve(1);
  buf_[len_] = '\0';
  char *p = buf_;
  buf_ = nullptr;
  len_ = cap_ = 0;
  return p;
}

void qv_utf8_sanitize(std::string_view s, qv_out &out) {
  for (std::size_t i = 0; i < s.size();) {
    bool valid;
    std::size_t n = qv_utf8_next_unit(s.data(), s.size(), i, &valid);
    if (valid) out.append(s.data() + i, n);
    else out.append(kReplacementChar, 3);
    i += n;
  }
}

template <class Emit>
void with_valid_utf8(std::string_view s, Emit emit) {
  if (qv_utf8_valid(s.data(), s.size())) {
    emit(s.data(), static_cast<rapidjson::SizeType>(s.size()));
    return;
  }
  qv_out clean;
  qv_utf8_sanitize(s, clean);
  std::size_t n = clean.size();
  std::unique_ptr<char, decltype(&std::free)> text(clean.release(), &std::free);
  emit(text.get(), static_cast<rapidjson::SizeType>(n));
}

void qv_reply::str(std::string_view s) {
  with_valid_utf8(s, [this](const char *p, rapidjson::SizeType n) { w_.String(p, n); });
}

void qv_reply::key(std::string_view k) {
  with_valid_utf8(k, [this](const char *p, rapidjson::SizeType n) { w_.Key(p, n); });
}
void qv_reply::real(double v) {
  if (std::isfinite(v)) w_.Double(v);
  else w_.Null();
}
