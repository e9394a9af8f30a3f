#include "query/messages.h"

#include "common/capture.h"
#include "common/reply.h"

void add_messages(qv_reply *w, const qv_capture *cap, int *cursor) {
  if (w) {
    w->key("messages");
    w->begin_array();
    for (int i = *cursor; i < cap->msg_count; ++i) {
      const qv_msg &m = cap->msgs[i];
      w->begin_object();
      w->member_str("type", m.type);
      w->member_int("rows_affected", m.rows_affected);
      w->member_int("line", m.line);
      w->member_int("number", m.number);
      w->member_int("severity", m.severity);
      w->member_int("state", m.state);
      w->member_str("text", m.text);
      w->end_object();
    }
    w->end_array();
  }
  *cursor = cap->msg_count;
}
