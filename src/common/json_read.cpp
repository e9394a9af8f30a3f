#include "common/json_read.h"

#include <cmath>
#include <cstring>

#include "common/text.h"

qv_json_doc::~qv_json_doc() { qv_wipe(text_.data(), text_.size()); }

bool qv_json_doc::parse(const char *text) {
  std::size_t n = std::strlen(text);
  text_.assign(text, text + n + 1);
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseIterativeFlag;
  doc_.ParseInsitu<kFlags>(text_.data());
  return !doc_.HasParseError();
}

const rapidjson::Value *qv_json_member(const rapidjson::Value &obj, const char *key) {
  if (!obj.IsObject() || !key) return nullptr;
  std::size_t klen = std::strlen(key);
  for (auto it = obj.MemberBegin(); it != obj.MemberEnd(); ++it) {
    const rapidjson::Value &name = it->name;
    if (name.GetStringLength() == klen && std::memcmp(name.GetString(), key, klen) == 0)
      return &it->value;
  }
  return nullptr;
}

const char *qv_json_str(const rapidjson::Value &obj, const char *key, const char *def) {
  const rapidjson::Value *v = qv_json_member(obj, key);
  return v && v->IsString() ? v->GetString() : def;
}

std::int32_t qv_json_int(const rapidjson::Value &obj, const char *key, std::int32_t def) {
  const rapidjson::Value *v = qv_json_member(obj, key);
  if (!v || !v->IsNumber()) return def;
  if (v->IsInt64()) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v->GetInt64()));
  if (v->IsUint64()) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v->GetUint64()));
  double d = std::trunc(v->GetDouble());
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) return INT32_MIN;
  return static_cast<std::int32_t>(d);
}
