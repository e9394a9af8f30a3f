// The connection document reader. A document it accepts must have been
// taken as written: host, user, password, tag and database exactly the
// document's texts (never cut), the database a legal name, the port in
// 1..65535 (the document's when it gave one there), the time-out clamped,
// the application name a prefix of the document's cut on a character
// boundary. A refused one leaves its reason in the thread's record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/json.h"

#include "common/capture.h"
#include "common/conn.h"
#include "common/json_read.h"
#include "common/names.h"
#include "fuzz_support.h"

namespace {

using namespace qv::common;
using qv::fuzz::rapidjson_valid;

// The field holds a terminated text that fits it.
std::string_view field_text(const char *field, std::size_t size) {
  const void *end = std::memchr(field, '\0', size);
  QV_FUZZ_CHECK(end != nullptr);
  return {field, static_cast<std::size_t>(static_cast<const char *>(end) - field)};
}

// The document's text for key, or null when it has none.
const qv::common::qv_json_value *string_member(const qv::common::qv_json_value &root, const char *key) {
  const qv::common::qv_json_value *v = qv_json_member(root, key);
  return v && v->IsString() ? v : nullptr;
}

std::string_view text_of(const qv::common::qv_json_value &v) { return {v.GetString(), v.GetStringLength()}; }

void check_taken_whole(const qv::common::qv_json_value &root, const char *key, const char *field,
                       std::size_t size, bool required) {
  const std::string_view stored = field_text(field, size);
  const qv::common::qv_json_value *v = string_member(root, key);
  QV_FUZZ_CHECK(v ? stored == text_of(*v) : stored.empty());
  QV_FUZZ_CHECK(!required || !stored.empty());
  QV_FUZZ_CHECK(rapidjson_valid(stored));
}

void check_loaded(const char *text, const qv_conn &c) {
  // The same document, read by RapidJSON without the project's reader.
  qv::common::qv_json_document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(text);
  QV_FUZZ_CHECK(!doc.HasParseError() && doc.IsObject());

  check_taken_whole(doc, "host", c.host, sizeof c.host, true);
  check_taken_whole(doc, "user", c.user, sizeof c.user, true);
  check_taken_whole(doc, "password", c.password, sizeof c.password, false);
  check_taken_whole(doc, "tag", c.tag, sizeof c.tag, false);
  check_taken_whole(doc, "database", c.database, sizeof c.database, false);
  const std::string_view database = field_text(c.database, sizeof c.database);
  QV_FUZZ_CHECK(database.empty() || qv_name_legal(database));

  QV_FUZZ_CHECK(c.port >= 1 && c.port <= kMaxPort);
  const qv::common::qv_json_value *port = qv_json_member(doc, "port");
  if (port && port->IsInt() && port->GetInt() >= 1) QV_FUZZ_CHECK(c.port == port->GetInt());
  else QV_FUZZ_CHECK(c.port == kDefaultPort);
  QV_FUZZ_CHECK(c.timeout_s >= 1 && c.timeout_s <= kMaxTimeoutS);

  const std::string_view app = field_text(c.app_name, sizeof c.app_name);
  QV_FUZZ_CHECK(rapidjson_valid(app));
  if (const qv::common::qv_json_value *given = string_member(doc, "app_name"))
    QV_FUZZ_CHECK(app == text_of(*given) ||
                  (text_of(*given).starts_with(app) && app.size() + 4 > sizeof c.app_name - 1));
  else QV_FUZZ_CHECK(app == kDefaultAppName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);  // terminated
  qv_reset();
  qv_scoped_conn conn;
  if (qv_conn_load(text.c_str(), &conn) == 0) {
    check_loaded(text.c_str(), conn);
  } else {
    QV_FUZZ_CHECK(qv_flags().has_err && *qv_err() != '\0');
  }
  return 0;
}
