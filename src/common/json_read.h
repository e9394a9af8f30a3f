// Strict reading of the JSON documents callers pass in, and member lookup.
// Internal header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/json.h"

namespace qv::common {

// A parsed input document. The text is parsed in place in a private copy
// (so no string is duplicated by the parser), which is wiped when the
// document goes away: input documents carry passwords.
class qv_json_doc {
 public:
  qv_json_doc() = default;
  ~qv_json_doc();
  qv_json_doc(const qv_json_doc &) = delete;
  qv_json_doc &operator=(const qv_json_doc &) = delete;

  // Standard JSON only: UTF-8 validated, no comments, no trailing commas,
  // exactly one value, and no string or key that decodes to broken UTF-8 (a
  // \u escape of a lone surrogate). Returns false when the text is not valid
  // JSON.
  bool parse(const char *text);
  const qv_json_value &root() const { return doc_; }

 private:
  std::vector<char> text_;
  qv_json_document doc_;
};

// How input documents are parsed: in place in a private copy, UTF-8
// validated, iteratively (no recursion however deep the nesting).
constexpr unsigned kJsonReadFlags = rapidjson::kParseInsituFlag |
                                    rapidjson::kParseValidateEncodingFlag |
                                    rapidjson::kParseIterativeFlag;
// Zero bytes a parse copy carries after the text's terminator. RapidJSON's
// UTF-8 validation takes every continuation byte a lead byte announces (up
// to three) before judging them, so a text that ends inside a sequence is
// read, and in place rewritten, that far past its end.
constexpr std::size_t kJsonParseSlack = 3;
// Fills copy with text, its terminator and kJsonParseSlack zero bytes: a
// buffer RapidJSON may parse in place whatever the text holds.
void qv_json_parse_copy(const char *text, std::vector<char> *copy);

// True when every string and key of v, at any depth, is well-formed UTF-8:
// the reader checks the raw bytes, but a \u escape of a lone surrogate
// decodes to bytes that are not.
bool qv_json_texts_valid(const qv_json_value &v);

// A member's string value (first occurrence of key), or def.
const char *qv_json_str(const qv_json_value &obj, const char *key, const char *def);
// A member's number as int32 (first occurrence of key), or def. Integers
// keep their low 32 bits; reals are truncated toward zero, and a real out of
// the int32 range gives INT32_MIN.
std::int32_t qv_json_int(const qv_json_value &obj, const char *key, std::int32_t def);
// The first member named key, or null.
const qv_json_value *qv_json_member(const qv_json_value &obj, const char *key);

}  // namespace qv::common
