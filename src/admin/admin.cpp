// Placeholder until this operation is built: answers "not implemented yet".
#include "common/operation.h"

char *qv_impl_admin(const char *, const char *, const char *, const char *) { return qv_not_implemented(); }
