// Stopping running calls: every call that carries a tag in its connection
// document is registered under that tag while its session is open, and
// qv_cancel_tag signals each of them. The signalled call notices on its own
// thread (login ticks, db-lib's interrupt polling while it waits for the
// server, its row loops, before each statement) and stops there: db-lib is
// never touched from the cancelling thread. Internal header.
#pragma once

#include <cstdint>

namespace qv::common {

constexpr char kCancelledText[] = "cancelled by the caller";

// Registers the calling thread's call under tag (null or empty: no tag, the
// call can still check its own flag) and clears its flag. Calls nest: the
// registration ends with the matching qv_cancel_end.
void qv_cancel_begin(const char *tag);
void qv_cancel_end();

// Cancels the calling thread's own current call, as qv_cancel_tag would.
void qv_cancel_self();

// True once the calling thread's current call was cancelled.
bool qv_cancel_requested();
// Records "cancelled by the caller" as the call's locked reason.
void qv_record_cancelled();
// When the calling thread's call was cancelled, records the reason and
// returns true.
bool qv_stop_if_cancelled();

// While one lives, the calling thread's call behaves as if not cancelled:
// for the clean-up that must still reach the server after a stop (the
// ROLLBACK of an interrupted transaction).
struct qv_cancel_pause {
  qv_cancel_pause();
  ~qv_cancel_pause();
  qv_cancel_pause(const qv_cancel_pause &) = delete;
  qv_cancel_pause &operator=(const qv_cancel_pause &) = delete;
};

// Signals every call running under tag; returns how many there were.
std::int32_t qv_cancel_tag(const char *tag);

}  // namespace qv::common
