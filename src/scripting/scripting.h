// Object scripting: the object every action scripts, what an action hands
// back to the frame, and the actions themselves.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <sybdb.h>

// One object to script, with the names every action uses. The texts are the
// caller's (schema after the "dbo" default), already checked as legal names.
struct script_target {
  DBPROCESS *session = nullptr;
  const char *database = nullptr;
  const char *kind = nullptr;
  const char *schema = nullptr;
  const char *obj = nullptr;
  std::string qualified;  // [schema].[obj]
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

// Overwrites the first upper-case CREATE of a module script with ALTER when
// it starts a word and the module does not already alter itself (CREATE OR
// ALTER). Exposed for the unit tests.
void alter_first_create(std::string &script);
