// Ending another server session by its id.
#include <cstdio>

#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/cursor.h"
#include "query/query.h"

namespace qv::ops::query {

namespace {

constexpr int kMinSpid = 1;
constexpr int kMaxSpid = 0x7FFF;
constexpr std::size_t kKillStatementSize = 64;

}  // namespace

bool qv_impl_kill_spid::check(const qv_conn &, qv_session_plan &plan) {
  if (spid < kMinSpid || spid > kMaxSpid) {
    qv_seterr("spid out of range: %d", spid);
    return false;
  }
  plan.database = "master";
  return true;
}

char *qv_impl_kill_spid::run(qv_call &call) {
  std::int32_t start = qv_now_ms();
  char statement[kKillStatementSize];
  std::snprintf(statement, sizeof statement, "KILL %d", spid);
  bool ok = qv_run_statement(call.db(), statement) == 0;
  std::int32_t end = qv_now_ms();
  call.session.reset();

  qv_reply r;
  r.begin_object();
  r.member_bool("ok", ok);
  r.member_int("spid", spid);
  r.member_int("elapsed_ms", qv_elapsed_ms(start, end));
  qv_write_error_member(r, ok, "KILL failed");
  r.end_object();
  return r.release();
}

}  // namespace qv::ops::query
