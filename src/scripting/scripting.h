// Object scripting: the operation, the object every action scripts, what an
// action hands back, and the actions themselves. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>
#include <utility>
#include <vector>

#include <sybdb.h>

#include "exec/frame.h"

namespace qv::ops::scripting {

// One object to script, with the names every action uses. The texts are the
// caller's (schema after the "dbo" default), already checked as legal names.
struct script_target {
  DBPROCESS *session = nullptr;
  const char *database = nullptr;
  const char *keyword = nullptr;  // the kind's DROP keyword (definition actions only)
  const char *schema = nullptr;
  const char *obj = nullptr;
  std::string qualified;  // [schema].[obj]
  std::string full_name;  // [database].[schema].[obj]
  std::string title;      // "<action> - <schema>.<obj>"
};

// What an action answers: the reply's title, its script (or null) and its
// properties, written in this order.
struct script_result {
  std::string title;
  std::string sql;
  bool sql_null = false;
  std::vector<std::pair<const char *, std::string>> props;
};

// Every action returns 0, or -1 with its message recorded.
using script_action = int (*)(const script_target &, script_result *);

// Scripts one object: checks the names, kind and action before any login,
// then runs the action in the object's database.
struct qv_impl_script_object : qv_operation {
  const char *database;
  const char *kind;
  const char *schema;
  const char *obj;
  const char *action;

  script_action run_action = nullptr;
  const char *keyword = nullptr;  // the kind's, for the actions that look at it
  std::string db{};

  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
};

// The DROP keyword of a kind the definition actions know ("table", "view",
// "procedure", "function", "trigger", and the explorer's "proc" and "func");
// null for any other kind.
const char *definition_keyword(const char *kind);

int script_select_top(const script_target &t, script_result *out);
int script_create(const script_target &t, script_result *out);
int script_alter(const script_target &t, script_result *out);
int script_drop(const script_target &t, script_result *out);
int script_drop_create(const script_target &t, script_result *out);
int script_insert(const script_target &t, script_result *out);
int script_update(const script_target &t, script_result *out);
int script_delete(const script_target &t, script_result *out);
int script_exec_params(const script_target &t, script_result *out);
int script_table_props(const script_target &t, script_result *out);

// A catalog read that failed leaves no script: records "cannot script
// <schema>.<obj>: its <what> cannot be read (<reason>)" and returns -1.
int refuse_unreadable(const script_target &t, const char *what);

}  // namespace qv::ops::scripting
