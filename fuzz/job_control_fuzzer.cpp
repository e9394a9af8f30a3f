// The job-control statement: built only for a document naming one of the
// four actions and a legal job id, and then exactly that action's statement
// with the document's job id as one string literal, quotes doubled.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/json.h"

#include "admin/admin.h"
#include "common/capture.h"
#include "common/json_read.h"
#include "common/names.h"
#include "fuzz_support.h"

namespace {

using namespace qv::common;
using qv::fuzz::quotes_exactly;
using qv::fuzz::rapidjson_valid;

struct action_shape {
  const char *action;
  const char *before;  // the statement up to the literal's opening quote
  const char *after;   // after its closing quote
};

constexpr action_shape kShapes[] = {
    {"start", "EXEC msdb.dbo.sp_start_job @job_id = N", ""},
    {"stop", "EXEC msdb.dbo.sp_stop_job @job_id = N", ""},
    {"enable", "EXEC msdb.dbo.sp_update_job @job_id = N", ", @enabled = 1"},
    {"disable", "EXEC msdb.dbo.sp_update_job @job_id = N", ", @enabled = 0"},
};

std::string_view member_text(const qv::common::qv_json_value &root, const char *key) {
  const qv::common::qv_json_value *v = qv_json_member(root, key);
  QV_FUZZ_CHECK(v && v->IsString());
  return {v->GetString(), v->GetStringLength()};
}

void check_statement(const char *text, const std::string &sql) {
  qv::common::qv_json_document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(text);
  QV_FUZZ_CHECK(!doc.HasParseError());
  const std::string_view job_id = member_text(doc, "job_id");
  const std::string_view action = member_text(doc, "action");
  QV_FUZZ_CHECK(qv_text_legal(job_id) && rapidjson_valid(sql));

  const action_shape *shape = nullptr;
  for (const action_shape &s : kShapes)
    if (action == s.action) shape = &s;
  QV_FUZZ_CHECK(shape != nullptr);
  std::string_view rest(sql);
  QV_FUZZ_CHECK(rest.starts_with(shape->before) && rest.ends_with(shape->after));
  rest.remove_prefix(std::string_view(shape->before).size());
  rest.remove_suffix(std::string_view(shape->after).size());
  QV_FUZZ_CHECK(quotes_exactly(rest, job_id));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);  // terminated
  qv_reset();
  std::string sql;
  if (qv::ops::admin::job_control_statement(text.c_str(), &sql)) check_statement(text.c_str(), sql);
  else QV_FUZZ_CHECK(qv_flags().has_err && sql.empty());
  return 0;
}
