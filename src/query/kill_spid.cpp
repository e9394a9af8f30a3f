// Ending another server session by its id.
#include <cstdio>

#include "common/capture.h"
#include "common/conn.h"
#include "common/operation.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/results.h"
#include "exec/session.h"

namespace {

constexpr int kMinSpid = 1;
constexpr int kMaxSpid = 0x7FFF;
constexpr std::size_t kKillStatementSize = 64;

}  // namespace

char *qv_impl_kill_spid(const char *conn_json, int spid) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  if (spid < kMinSpid || spid > kMaxSpid) {
    qv_seterr("spid out of range: %d", spid);
    return qv_err_json();
  }
  qv_reset();
  qv_session session(qv_open(&conn, "master"));
  if (!session) return qv_err_json();

  std::int32_t start = qv_now_ms();
  char statement[kKillStatementSize];
  std::snprintf(statement, sizeof statement, "KILL %d", spid);
  bool ok = qv_exec_simple(session.get(), statement) == 0 && !qv_cap()->fatal;
  std::int32_t end = qv_now_ms();
  session.reset();

  qv_reply r;
  r.begin_object();
  r.member_bool("ok", ok);
  r.member_int("spid", spid);
  r.member_int("elapsed_ms", qv_elapsed_ms(start, end));
  qv_write_error_member(r, ok, "KILL failed");
  r.end_object();
  return r.release();
}
