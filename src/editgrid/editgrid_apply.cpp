// The edit grid's write side: the grid's row edits as INSERT, UPDATE and
// DELETE statements addressed by the whole primary key, run in one
// transaction (or only built, for a dry run).
#include <cstdint>
#include <string>
#include <vector>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/names.h"
#include "common/reply.h"
#include "common/text.h"
#include "editgrid/editgrid.h"
#include "exec/catalog.h"
#include "exec/cursor.h"
#include "exec/session.h"

namespace qv::ops::editgrid {

namespace {

constexpr char kNoKey[] = "table %s.%s has no primary key \xE2\x80\x94 edits refused";
// Each statement is addressed by the whole key: it must change exactly its row.
constexpr long long kRowsPerStatement = 1;
constexpr char kWrongCount[] = "statement %d affected %lld rows, expected 1; nothing was saved";
constexpr char kNoCount[] = "statement %d reported no row count, expected 1; nothing was saved";
constexpr char kCommitLost[] =
    "the connection was lost during COMMIT: the edits may or may not have been saved; reload the "
    "table";

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

// Sent even when the caller stopped the call: that is when it matters.
void roll_back(DBPROCESS *session) {
  qv_cancel_pause pause;
  qv_run_statement(session, "ROLLBACK TRANSACTION");
}

apply_outcome fail_and_roll_back(DBPROCESS *session, std::string error) {
  roll_back(session);
  apply_outcome out;
  out.error = std::move(error);
  return out;
}

// The statement's own count (db-lib's, read after all of its results, so
// a trigger's counts do not stand in for it) when it is not exactly one row:
// the reason to give up, else empty.
std::string wrong_count(int position, long long count) {
  if (count == kRowsPerStatement) return {};
  char buf[kEditErrorSize];
  if (count < 0) qv_format_cut(buf, sizeof buf, kNoCount, position);
  else qv_format_cut(buf, sizeof buf, kWrongCount, position, count);
  return buf;
}

// COMMIT, which runs to its end once every edit has succeeded: a stop asked
// for now would leave its outcome unknown. Only a lost connection (or a
// time-out, which closes it) does; that is no success and no plain failure.
apply_outcome commit(DBPROCESS *session, std::int64_t rows) {
  int st;
  {
    qv_cancel_pause pause;
    st = qv_run_statement(session, "COMMIT TRANSACTION");
  }
  apply_outcome out;
  if (st != 0 && qv_session_dead(session)) {
    out.error = kCommitLost;
    return out;
  }
  if (st != 0) return fail_and_roll_back(session, last_error_or("COMMIT failed"));
  out.ok = true;
  out.rows_affected = rows;
  return out;
}

// BEGIN, every statement in order, COMMIT; the first failure, or the first
// statement that did not change exactly one row, rolls all back.
apply_outcome run_in_transaction(DBPROCESS *session, const std::vector<std::string> &statements) {
  if (qv_run_statement(session, "BEGIN TRANSACTION") != 0)
    return fail_and_roll_back(session, last_error_or("BEGIN TRAN failed"));
  std::int64_t rows = 0;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    const int position = static_cast<int>(i + 1);
    long long count = 0;
    if (qv_run_statement(session, statements[i].c_str(), &count) != 0) {
      std::string reason = last_error_or("error");
      char buf[kEditErrorSize];
      qv_format_cut(buf, sizeof buf, "statement %d failed: %s", position, reason.c_str());
      return fail_and_roll_back(session, buf);
    }
    std::string wrong = wrong_count(position, count);
    if (!wrong.empty()) return fail_and_roll_back(session, std::move(wrong));
    rows += count;
  }
  return commit(session, rows);
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

// Reads the catalog's description of the table into target; false with the
// error envelope's text recorded when the table cannot be edited.
bool describe_target(DBPROCESS *session, const grid_names &names, eg_target *target) {
  switch (qv_read_columns(session, names.schema, names.table, qv_column_query::grid,
                          &target->columns)) {
    case qv_read::failed: return false;
    case qv_read::absent:
      qv_seterr("table not found: %s.%s", names.schema, names.table);
      return false;
    case qv_read::found: break;
  }
  switch (qv_read_primary_key(session, names.schema, names.table, &target->key)) {
    case qv_read::failed: return false;
    case qv_read::absent:
      qv_seterr(kNoKey, names.schema, names.table);
      return false;
    case qv_read::found: break;
  }
  target->name = qv_bracketed(names.database) + "." + qv_bracketed(names.schema) + "." +
                 qv_bracketed(names.table);
  return true;
}

}  // namespace

bool qv_impl_editgrid_apply::check(const qv_conn &conn, qv_session_plan &plan) {
  if (!doc.parse(ops_json)) {
    qv_seterr("ops_json is not valid JSON");
    return false;
  }
  ops = doc.operations();
  if (!ops) {
    qv_seterr("ops_json must be a non-empty array of operations");
    return false;
  }
  if (!names.check(conn, database, schema, table)) return false;
  plan.database = names.database;
  return true;
}

char *qv_impl_editgrid_apply::run(qv_call &call) {
  eg_target target;
  if (!describe_target(call.db(), names, &target)) return qv_err_json();
  eg_plan plan = eg_build_statements(target, doc, *ops);
  if (!plan.column_error.empty()) {
    qv_seterr("%s", plan.column_error.c_str());
    return qv_err_json();
  }

  apply_outcome outcome;
  if (dry_run == 0 && plan.op_error.empty()) {
    outcome = run_in_transaction(call.db(), plan.statements);
  } else {
    outcome.ok = plan.op_error.empty();
    outcome.error = plan.op_error;
  }
  call.session.reset();
  return apply_reply(plan.statements, outcome, dry_run != 0);
}

}  // namespace qv::ops::editgrid
