// The query window: runs a script batch by batch on one session.
#include <cstdlib>
#include <cstring>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/conn.h"
#include "common/operation.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/split.h"
#include "common/text.h"
#include "exec/batch.h"
#include "exec/session.h"
#include "query/messages.h"

namespace {

// Owns the batches of a split script.
struct batch_list_guard {
  qv_batch_list list;
  ~batch_list_guard() { qv_batch_list_free(&list); }
};

// A script the splitter found no batch in is sent whole, as batch 1.
int use_whole_script(qv_batch_list *list, const char *sql) {
  list->items = static_cast<char **>(std::calloc(1, sizeof(char *)));
  if (!list->items) return -1;
  list->items[0] = qv_strdup(sql);
  if (!list->items[0]) return -1;
  list->count = 1;
  return 0;
}

// Runs every batch, each into its own batch object; true when all succeeded.
bool run_batches(DBPROCESS *session, const qv_batch_list &list, int max_rows, qv_reply &r,
                 int *cursor) {
  bool ok = true;
  r.key("batches");
  r.begin_array();
  for (int i = 0; i < list.count; ++i) {
    // A cancelled call sends no further batch.
    if (qv_stop_if_cancelled()) {
      ok = false;
      break;
    }
    r.begin_object();
    r.member_int("batch", i + 1);
    qv_batch batch;
    qv_batch_init(&batch, &r);
    if (qv_run_batch(session, list.items[i], max_rows, &batch) != 0) ok = false;
    qv_batch_end(&batch);
    add_messages(&r, qv_cap(), cursor);
    r.end_object();
  }
  r.end_array();
  return ok;
}

}  // namespace

char *qv_impl_query(const char *conn_json, const char *database, const char *sql, int max_rows,
                    int timeout_s) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  if (!sql || !*sql) {
    qv_seterr("sql is required");
    return qv_err_json();
  }
  long long bad = qv_utf8_invalid_at(sql, std::strlen(sql));
  if (bad >= 0) {
    qv_seterr("sql is not valid UTF-8 (byte %lld)", bad);
    return qv_err_json();
  }
  if (timeout_s > 0) conn.timeout_s = timeout_s > kMaxTimeoutS ? kMaxTimeoutS : timeout_s;
  const char *db = qv_pick_database(database, &conn);

  qv_reset();
  qv_session session(qv_open(&conn, db));
  if (!session) return qv_err_json();
  std::int32_t start = qv_now_ms();
  int spid = dbspid(session.get());

  batch_list_guard batches;
  if (qv_split_go(sql, &batches.list) != 0) {
    session.reset();
    qv_seterr("batch split failed");
    return qv_err_json();
  }
  if (batches.list.count == 0 && use_whole_script(&batches.list, sql) != 0) {
    session.reset();
    qv_seterr("out of memory");
    return qv_err_json();
  }

  qv_reply r;
  r.begin_object();
  int cursor = 0;
  bool ok = run_batches(session.get(), batches.list, max_rows, r, &cursor);
  std::int32_t end = qv_now_ms();
  session.reset();
  if (cursor == 0) {
    int fresh = 0;
    add_messages(&r, qv_cap(), &fresh);
  }
  r.member_bool("ok", ok);
  r.member_int("spid", spid);
  r.member_int("elapsed_ms", qv_elapsed_ms(start, end));
  qv_write_error_member(r, ok, "one or more batches failed");
  r.end_object();
  return r.release();
}
