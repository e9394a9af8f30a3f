#include "editgrid/names.h"

#include "common/names.h"

bool eg_quote_ident(const char *name, std::string *out) {
  if (!name || !*name || !qv_name_fits(name) || qv_has_control_byte(name, false)) return false;
  *out = qv_bracketed(name);
  return true;
}

bool eg_name_text(const char *name, std::string *out) {
  return name && qv_name_fits(name) && qv_literal_text(name, out);
}
