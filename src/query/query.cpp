// The query window: runs a script batch by batch on one session.
#include "query/query.h"

#include <cstdlib>
#include <cstring>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/batch.h"
#include "query/messages.h"

namespace qv::ops::query {

namespace {

// A script the splitter found no batch in is sent whole, as batch 1.
int use_whole_script(qv_batch_list *list, const char *sql) {
  list->items = static_cast<char **>(std::calloc(1, sizeof(char *)));
  if (!list->items) return -1;
  list->items[0] = qv_strdup(sql);
  if (!list->items[0]) return -1;
  list->count = 1;
  return 0;
}

// Runs one batch as the batch object numbered `number`; true when it
// succeeded.
bool run_one(DBPROCESS *session, const char *sql, int number, int max_rows, qv_reply &r,
             int *cursor) {
  r.begin_object();
  r.member_int("batch", number);
  bool ok = qv_run_batch(session, sql, max_rows, r) == 0;
  add_messages(r, cursor);
  r.end_object();
  return ok;
}

// Every run of every batch, each into its own batch object.
bool run_batches(DBPROCESS *session, const qv_batch_list &list, int max_rows, qv_reply &r,
                 int *cursor) {
  r.key("batches");
  r.begin_array();
  bool ok = qv_for_each_run(list, [&](int number, const char *sql) {
    return run_one(session, sql, number, max_rows, r, cursor);
  });
  r.end_array();
  return ok;
}

}  // namespace

bool qv_script_operation::check_script(const qv_conn &conn, qv_session_plan &plan) {
  long long bad = qv_utf8_invalid_at(sql, std::strlen(sql));
  if (bad >= 0) {
    qv_seterr("sql is not valid UTF-8 (byte %lld)", bad);
    return false;
  }
  if (!qv_choose_database(database, conn, "invalid database name", &plan.database)) return false;
  if (qv_split_go(sql, &split.list) != 0) {
    qv_seterr("batch split failed");
    return false;
  }
  if (split.list.count == 0 && use_whole_script(&split.list, sql) != 0) {
    qv_seterr("out of memory");
    return false;
  }
  return true;
}

bool qv_impl_query::check(const qv_conn &conn, qv_session_plan &plan) {
  if (timeout_s > 0) plan.timeout_s = timeout_s > kMaxTimeoutS ? kMaxTimeoutS : timeout_s;
  return check_script(conn, plan);
}

char *qv_impl_query::run(qv_call &call) {
  std::int32_t start = qv_now_ms();
  int spid = dbspid(call.db());
  qv_reply r;
  r.begin_object();
  int cursor = 0;
  bool ok = run_batches(call.db(), split.list, max_rows, r, &cursor);
  std::int32_t end = qv_now_ms();
  call.session.reset();
  if (cursor == 0) {
    int fresh = 0;
    add_messages(r, &fresh);
  }
  r.member_bool("ok", ok);
  r.member_int("spid", spid);
  r.member_int("elapsed_ms", qv_elapsed_ms(start, end));
  qv_write_error_member(r, ok, "one or more batches failed");
  r.end_object();
  return r.release();
}

}  // namespace qv::ops::query
