#include "scripting/names.h"

#include "common/names.h"

bool legal_name(const char *name) {
  return qv_name_fits(name) && !qv_has_control_byte(name, true);
}

std::string literal_text(const char *name) {
  std::string out;
  return qv_literal_text(name, &out) ? out : std::string();
}

