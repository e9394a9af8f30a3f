// Writing the recorded server messages into a reply. Internal header.
#pragma once

#include "exec/namespaces.h"

namespace qv::common {
class qv_reply;
struct qv_msg;
}

namespace qv::ops::query {

// Writes one message object: type, rows_affected, line, number, severity,
// state, text.
void write_message(qv_reply &w, const qv_msg &m);

// Writes "messages": [...] with every recorded message from *cursor on and
// moves the cursor past them.
void add_messages(qv_reply &w, int *cursor);

}  // namespace qv::ops::query
