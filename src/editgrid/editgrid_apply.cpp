// The edit grid's write side: the grid's row edits as INSERT, UPDATE and
// DELETE statements addressed by the whole primary key, run in one
// transaction (or only built, for a dry run).
#include <cstdint>
#include <string>
#include <vector>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/conn.h"
#include "common/operation.h"
#include "common/reply.h"
#include "common/text.h"
#include "editgrid/edit_ops.h"
#include "editgrid/grid_table.h"
#include "editgrid/names.h"
#include "exec/results.h"
#include "exec/session.h"

namespace {

constexpr char kNoKey[] = "table %s.%s has no primary key \xE2\x80\x94 edits refused";

struct apply_outcome {
  bool ok = false;
  std::int64_t rows_affected = 0;
  std::string error;
};

// The refined last error, or fallback when nothing was recorded; cut to the
// size of the reply's error text.
std::string last_error_or(const char *fallback) {
  const char *err = qv_err_msg();
  char buf[kEditErrorSize];
  qv_copy_cut(buf, sizeof buf, *err ? err : fallback);
  return buf;
}

// Runs one statement; on failure its own first server error (when it sent
// one) becomes the recorded reason.
bool run(DBPROCESS *session, const char *sql) {
  int first = qv_cap()->msg_count;
  if (qv_exec_simple(session, sql) == 0) return true;
  qv_seterr_first_error_since(first);
  return false;
}

// Sent even when the caller stopped the call: that is when it matters.
void roll_back(DBPROCESS *session) {
  qv_cancel_pause pause;
  qv_cap()->fatal = 0;
  run(session, "ROLLBACK TRANSACTION");
}

apply_outcome fail_and_roll_back(DBPROCESS *session, std::string error) {
  roll_back(session);
  apply_outcome out;
  out.error = std::move(error);
  return out;
}

// BEGIN, every statement in order, COMMIT; the first failure rolls all back.
apply_outcome run_in_transaction(DBPROCESS *session, const std::vector<std::string> &statements) {
  qv_capture *cap = qv_cap();
  cap->has_err = 0;
  cap->fatal = 0;
  if (!run(session, "BEGIN TRANSACTION"))
    return fail_and_roll_back(session, last_error_or("BEGIN TRAN failed"));
  std::int64_t rows = 0;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    if (!run(session, statements[i].c_str())) {
      std::string reason = last_error_or("error");
      char buf[kEditErrorSize];
      qv_format_cut(buf, sizeof buf, "statement %d failed: %s", static_cast<int>(i + 1),
                    reason.c_str());
      return fail_and_roll_back(session, buf);
    }
    DBINT count = dbcount(session);
    if (count > 0) rows += count;
  }
  if (!run(session, "COMMIT TRANSACTION"))
    return fail_and_roll_back(session, last_error_or("COMMIT failed"));
  apply_outcome out;
  out.ok = true;
  out.rows_affected = rows;
  return out;
}

// The [database].[schema].[table] every statement addresses; false when a
// part cannot be bracket-quoted.
bool target_name(const char *database, const char *schema, const char *table, std::string *out) {
  std::string d, s, t;
  if (!eg_quote_ident(database, &d) || !eg_quote_ident(schema, &s) || !eg_quote_ident(table, &t))
    return false;
  *out = d + "." + s + "." + t;
  return true;
}

char *apply_reply(const std::vector<std::string> &statements, const apply_outcome &outcome,
                  bool dry_run) {
  qv_reply r;
  r.begin_object();
  r.member_bool("ok", outcome.ok);
  r.member_int("rows_affected", outcome.ok ? outcome.rows_affected : 0);
  r.key("statements");
  r.begin_array();
  for (const std::string &s : statements) r.str(s);
  r.end_array();
  r.member_bool("dry_run", dry_run);
  r.key("error");
  if (outcome.ok) r.null();
  else r.str(outcome.error.empty() ? "apply failed" : outcome.error);
  r.end_object();
  return r.release();
}

// Reads the catalog's description of the table into target; the error
// envelope's text is recorded when the table cannot be edited.
bool describe_target(DBPROCESS *session, const char *database, const char *schema,
                     const char *table, eg_target *target) {
  if (eg_load_columns(session, schema, table, &target->columns) != 0 ||
      target->columns.empty()) {
    qv_seterr("table not found: %s.%s", schema, table);
    return false;
  }
  target->key = pk_columns(session, schema, table);
  if (target->key.empty()) {
    qv_seterr(kNoKey, schema, table);
    return false;
  }
  if (!target_name(database, schema, table, &target->name)) {
    qv_seterr("invalid identifier");
    return false;
  }
  return true;
}

}  // namespace

char *qv_impl_editgrid_apply(const char *conn_json, const char *database, const char *schema,
                             const char *table, const char *ops_json, int dry_run) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  if (!table || !*table || !ops_json || !*ops_json) {
    qv_seterr("table and ops_json are required");
    return qv_err_json();
  }
  schema = eg_pick_schema(schema);
  const char *db = qv_pick_database(database, &conn);
  eg_ops_doc doc;
  if (!doc.parse(ops_json)) {
    qv_seterr("ops_json is not valid JSON");
    return qv_err_json();
  }
  const rapidjson::Value *ops = doc.operations();
  if (!ops) {
    qv_seterr("ops_json must be a non-empty array of operations");
    return qv_err_json();
  }

  qv_reset();
  qv_session session(qv_open(&conn, db));
  if (!session) return qv_err_json();
  eg_target target;
  if (!describe_target(session.get(), db, schema, table, &target)) {
    session.reset();
    return qv_err_json();
  }
  eg_plan plan = eg_build_statements(target, doc, *ops);
  if (!plan.column_error.empty()) {
    session.reset();
    qv_seterr("%s", plan.column_error.c_str());
    return qv_err_json();
  }

  apply_outcome outcome;
  if (dry_run == 0 && plan.op_error.empty()) {
    outcome = run_in_transaction(session.get(), plan.statements);
  } else {
    outcome.ok = plan.op_error.empty();
    outcome.error = plan.op_error;
  }
  session.reset();
  return apply_reply(plan.statements, outcome, dry_run != 0);
}
