#include "exec/frame.h"

#include "common/names.h"
#include "common/text.h"

namespace qv::exec {

namespace {

// db-lib counts a wait in milliseconds in an int, so this is the longest
// time-out it can hold (about 24.8 days): in practice, none. db-lib refuses
// 0 as a per-session time-out.
constexpr char kNoWaitLimitSeconds[] = "2147483";

}  // namespace

bool qv_check_required(std::initializer_list<qv_required> required) {
  for (const qv_required &r : required) {
    if (!r.present) {
      qv_seterr("missing required parameter: %s", r.name);
      return false;
    }
  }
  return true;
}

bool qv_choose_database(const char *arg, const qv_conn &conn, const char *refusal,
                        std::string *database) {
  if (arg && *arg && !qv_name_legal(arg)) {
    qv_seterr("%s", refusal);
    return false;
  }
  *database = qv_pick_database(arg, &conn);
  return true;
}

void qv_open_call(qv_call &call, const qv_session_plan &plan) {
  qv_conn conn = call.conn;
  if (plan.timeout_s > 0) conn.timeout_s = plan.timeout_s;
  const char *database =
      plan.database.empty() ? qv_pick_database(nullptr, &conn) : plan.database.c_str();
  std::int32_t start = qv_now_ms();
  call.session.reset(qv_open(&conn, database));
  call.open_ms = qv_elapsed_ms(start, qv_now_ms());
  qv_wipe(conn.password, sizeof conn.password);
  if (call.session && plan.unlimited_wait)
    dbsetopt(call.session.get(), DBSETTIME, kNoWaitLimitSeconds, 0);
}

}  // namespace qv::exec
