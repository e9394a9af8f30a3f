#include "query/messages.h"

#include "common/capture.h"
#include "common/reply.h"

namespace qv::ops::query {

void write_message(qv_reply &w, const qv_msg &m) {
  w.begin_object();
  w.member_str("type", m.type);
  w.member_int("rows_affected", m.rows_affected);
  w.member_int("line", m.line);
  w.member_int("number", m.number);
  w.member_int("severity", m.severity);
  w.member_int("state", m.state);
  w.member_str("text", m.text);
  w.end_object();
}

void add_messages(qv_reply &w, int *cursor) {
  int count = qv_message_count();
  w.key("messages");
  w.begin_array();
  for (int i = *cursor; i < count; ++i) write_message(w, qv_message(i));
  w.end_array();
  *cursor = count;
}

}  // namespace qv::ops::query
