#include "common/json_read.h"

#include <cmath>
#include <cstring>

#include "common/text.h"

namespace qv::common {

qv_json_doc::~qv_json_doc() { qv_wipe(text_.data(), text_.size()); }

void qv_json_parse_copy(const char *text, std::vector<char> *copy) {
  const std::size_t n = std::strlen(text);
  copy->assign(n + 1 + kJsonParseSlack, '\0');
  std::memcpy(copy->data(), text, n);
}

bool qv_json_doc::parse(const char *text) {
  qv_json_parse_copy(text, &text_);
  doc_.ParseInsitu<kJsonReadFlags>(text_.data());
  return !doc_.HasParseError() && qv_json_texts_valid(doc_);
}

namespace {

bool text_valid(const qv_json_value &s) {
  return qv_utf8_valid(s.GetString(), s.GetStringLength());
}

}  // namespace

bool qv_json_texts_valid(const qv_json_value &v) {
  // An explicit stack: input documents may nest deeper than the call stack
  // would allow.
  std::vector<const qv_json_value *> pending{&v};
  while (!pending.empty()) {
    const qv_json_value *at = pending.back();
    pending.pop_back();
    if (at->IsString() && !text_valid(*at)) return false;
    if (at->IsArray())
      for (const qv_json_value &item : at->GetArray()) pending.push_back(&item);
    if (at->IsObject()) {
      for (auto m = at->MemberBegin(); m != at->MemberEnd(); ++m) {
        if (!text_valid(m->name)) return false;
        pending.push_back(&m->value);
      }
    }
  }
  return true;
}

const qv_json_value *qv_json_member(const qv_json_value &obj, const char *key) {
  if (!obj.IsObject() || !key) return nullptr;
  std::size_t klen = std::strlen(key);
  for (auto it = obj.MemberBegin(); it != obj.MemberEnd(); ++it) {
    const qv_json_value &name = it->name;
    if (name.GetStringLength() == klen && std::memcmp(name.GetString(), key, klen) == 0)
      return &it->value;
  }
  return nullptr;
}

const char *qv_json_str(const qv_json_value &obj, const char *key, const char *def) {
  const qv_json_value *v = qv_json_member(obj, key);
  return v && v->IsString() ? v->GetString() : def;
}

std::int32_t qv_json_int(const qv_json_value &obj, const char *key, std::int32_t def) {
  const qv_json_value *v = qv_json_member(obj, key);
  if (!v || !v->IsNumber()) return def;
  if (v->IsInt64()) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v->GetInt64()));
  if (v->IsUint64()) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v->GetUint64()));
  double d = std::trunc(v->GetDouble());
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) return INT32_MIN;
  return static_cast<std::int32_t>(d);
}

}  // namespace qv::common
