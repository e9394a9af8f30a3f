#include "common/outcome.h"

#include "common/capture.h"
#include "common/reply.h"

namespace qv::common {

void qv_write_error_member(qv_reply &r, bool ok, const char *fallback) {
  r.key("error");
  if (ok) {
    r.null();
    return;
  }
  const char *err = qv_err_msg();
  r.str(*err ? err : fallback);
}

}  // namespace qv::common
