// The closing "error" member every reply ends with. Internal header.
#pragma once

namespace qv::common {

class qv_reply;

// Writes "error": null when ok, else the refined last-error text, or
// fallback when nothing was recorded.
void qv_write_error_member(qv_reply &r, bool ok, const char *fallback);

}  // namespace qv::common
