// Writing the recorded server messages into a reply. Internal header.
#pragma once

#include "exec/namespaces.h"

namespace qv::common {
class qv_reply;
}

namespace qv::ops::query {

// Writes "messages": [...] with every recorded message from *cursor on and
// moves the cursor past them.
void add_messages(qv_reply &w, int *cursor);

}  // namespace qv::ops::query
