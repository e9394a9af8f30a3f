// The Stop button: signals every call running under a tag.
#include "common/cancel.h"
#include "common/reply.h"
#include "query/query.h"

namespace qv::ops::query {

char *qv_impl_cancel(const char *tag) {
  qv_reply r;
  r.begin_object();
  r.member_bool("ok", true);
  r.member_int("cancelled", qv_cancel_tag(tag));
  r.member_null("error");
  r.end_object();
  return r.release();
}

}  // namespace qv::ops::query
