// Placeholder until this operation is built: answers "not implemented yet".
#include "common/operation.h"

char *qv_impl_editgrid_apply(const char *, const char *, const char *, const char *, const char *, int) { return qv_not_implemented(); }
