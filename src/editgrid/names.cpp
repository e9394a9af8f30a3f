#include "editgrid/names.h"

#include <cstring>

#include "common/escape.h"
#include "common/names.h"
#include "common/text.h"

bool eg_name_fits(std::string_view name) { return qv_name_fits(name); }

std::string eg_bracket(std::string_view name) { return qv_bracketed(name); }

bool eg_quote_ident(const char *name, std::string *out) {
  if (!name || !*name || !eg_name_fits(name) || qv_has_control_byte(name, false)) return false;
  *out = eg_bracket(name);
  return true;
}

bool eg_name_literal(const char *name, std::string *out) {
  if (!name || !eg_name_fits(name)) return false;
  // Every byte doubled at most, plus the terminator.
  std::string escaped(2 * std::strlen(name) + 1, '\0');
  if (qv_sql_escape(name, escaped.data(), escaped.size()) != 0) return false;
  escaped.resize(std::strlen(escaped.c_str()));
  *out = "N'" + escaped + "'";
  return true;
}
