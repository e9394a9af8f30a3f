// The streamed query: every batch, result set, row chunk, row count and
// server message goes to the caller's callback as it happens, and the reply
// is a summary. At most one chunk of rows is held at a time.
#include <time.h>

#include <cstdint>
#include <string>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/cursor.h"
#include "query/messages.h"
#include "query/query.h"

namespace qv::ops::query {

namespace {

// A chunk of rows goes out when it holds this many rows or bytes, at the end
// of its result set, and at the first row boundary this long after the last
// chunk.
constexpr int kChunkRows = 1000;
constexpr std::size_t kChunkBytes = 256 * 1024;
constexpr std::int32_t kChunkMaxWaitMs = 100;
// Without a time-out of its own, the stream waits this long for a login.
constexpr std::int32_t kStreamLoginTimeoutS = 15;

// The events of one call, and where they go.
class event_stream {
 public:
  event_stream(qv_event_fn on_event, void *user) : on_event_(on_event), user_(user) {}

  // Sends the event written into r; a callback that answers non-zero stops
  // the call as a cancel would.
  void emit(qv_reply &r) {
    std::size_t len = r.text().size();
    if (on_event_(user_, r.terminated(), len) != 0) qv_cancel_self();
  }

  // An event object begun with its "event" member and the batch number.
  void begin(qv_reply &r, const char *event) {
    r.begin_object();
    r.member_str("event", event);
    r.member_int("batch", batch_);
  }

  void batch_started(int number) {
    batch_ = number;
    result_ = -1;
    qv_reply r;
    begin(r, "batch");
    r.end_object();
    emit(r);
  }

  void batch_ended(bool ok, const std::string &error) {
    flush_rows();
    qv_reply r;
    begin(r, "batch_end");
    r.member_bool("ok", ok);
    r.key("error");
    if (ok) r.null();
    else r.str(error);
    r.end_object();
    emit(r);
  }

  void result_started(const qv_columns &cols) {
    ++result_;
    rows_in_result_ = 0;
    note_chunk_time();
    qv_reply r;
    begin(r, "columns");
    r.member_int("result", result_);
    qv_write_columns(r, cols);
    r.end_object();
    emit(r);
  }

  void result_ended(bool truncated) {
    flush_rows();
    qv_reply r;
    begin(r, "result_end");
    r.member_int("result", result_);
    r.member_int("row_count", rows_in_result_);
    r.member_bool("truncated", truncated);
    r.end_object();
    emit(r);
  }

  // Adds the current row of cur to the chunk, sending the chunk when it is
  // full or due.
  void row(DBPROCESS *session, const qv_columns &cols, char *buf) {
    if (chunk_rows_ == 0) start_chunk();
    qv_append_row(session, &chunk_, cols.cols.get(), cols.count, buf, kCellBufSize);
    ++chunk_rows_;
    ++rows_in_result_;
    ++total_rows_;
    if (chunk_rows_ >= kChunkRows || chunk_.text().size() >= kChunkBytes || chunk_due())
      flush_rows();
  }

  void counted(long long rows) {
    flush_rows();
    qv_reply r;
    begin(r, "count");
    r.member_int("rows_affected", rows);
    r.end_object();
    emit(r);
  }

  void message(const qv_msg &m) {
    flush_rows();
    qv_reply r;
    begin(r, "message");
    r.key("message");
    write_message(r, m);
    r.end_object();
    emit(r);
  }

  long long total_rows() const { return total_rows_; }

 private:
  // A chunk is due this long after the last one. The coarse clock (a few
  // milliseconds of resolution) costs a fraction of the precise one, and it
  // is read at every row.
  bool chunk_due() const {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    std::int64_t ms = static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return ms - last_chunk_coarse_ms_ >= kChunkMaxWaitMs;
  }
  void note_chunk_time() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    last_chunk_coarse_ms_ = static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }

  // The chunk's writer is used again for every chunk, so its pages are
  // faulted in once per call.
  void start_chunk() {
    chunk_.reset();
    begin(chunk_, "rows");
    chunk_.member_int("result", result_);
    chunk_.key("rows");
    chunk_.begin_array();
  }

  void flush_rows() {
    if (chunk_rows_ == 0) return;
    chunk_rows_ = 0;
    chunk_.end_array();
    chunk_.end_object();
    note_chunk_time();
    emit(chunk_);
  }

  qv_event_fn on_event_;
  void *user_;
  int batch_ = 0;
  int result_ = -1;
  long long rows_in_result_ = 0;
  long long total_rows_ = 0;
  qv_reply chunk_;
  int chunk_rows_ = 0;  // rows in the chunk being written; 0: none open
  std::int64_t last_chunk_coarse_ms_ = 0;
};

// db-lib hands messages over inside its own calls: nothing may escape back
// through them, so a failure here stops the call instead.
void forward_message(void *stream, const qv_msg &m) {
  try {
    static_cast<event_stream *>(stream)->message(m);
  } catch (...) {
    qv_cancel_self();
  }
}

void forward_count(void *stream, long long rows) {
  static_cast<event_stream *>(stream)->counted(rows);
}

// Streams the open result set of cur: its columns, its rows (at most limit
// when limit is above 0, the rest read and dropped) and its end. False when
// the read failed.
bool stream_result(event_stream &events, qv_cursor &cur, int limit) {
  const qv_columns *cols = cur.columns(true);
  qv_cell_buffer buf;
  if (!cols) return false;
  events.result_started(*cols);
  long long seen = 0;
  int st;
  while ((st = cur.next()) == 1) {
    if (limit <= 0 || seen < limit) events.row(cur.session(), *cols, buf.data);
    ++seen;
  }
  events.result_ended(limit > 0 && seen > limit);
  return st == 0;
}

// One run of a batch, from its "batch" event to its "batch_end".
bool stream_batch(event_stream &events, DBPROCESS *session, const char *sql, int number,
                  int limit) {
  events.batch_started(number);
  qv_failure_scope scope;
  qv_cursor cur(session, qv_cursor::errors::go_on);
  cur.observe_counts({forward_count, &events});
  int rc = cur.open(sql);
  while (rc == 1) rc = stream_result(events, cur, limit) ? cur.next_result() : -1;
  bool ok = rc == 0;
  events.batch_ended(ok, ok ? std::string() : scope.reason());
  return ok;
}

char *summary(bool ok, int spid, std::int32_t elapsed, int batches, long long rows) {
  qv_reply r;
  r.begin_object();
  r.member_bool("ok", ok);
  r.member_int("spid", spid);
  r.member_int("elapsed_ms", elapsed);
  r.member_int("batches", batches);
  r.member_int("rows", rows);
  qv_write_error_member(r, ok, "one or more batches failed");
  r.end_object();
  return r.release();
}

}  // namespace

bool qv_impl_query_stream::check(const qv_conn &conn, qv_session_plan &plan) {
  if (timeout_s > 0) {
    plan.timeout_s = timeout_s;
  } else {
    plan.timeout_s = kStreamLoginTimeoutS;
    plan.unlimited_wait = true;
  }
  return check_script(conn, plan);
}

char *qv_impl_query_stream::run(qv_call &call) {
  std::int32_t start = qv_now_ms();
  int spid = dbspid(call.db());
  event_stream events(on_event, user);
  int batches = 0;
  bool ok;
  {
    qv_message_sink_scope sink(forward_message, &events);
    ok = qv_for_each_run(split.list, [&](int number, const char *sql) {
      batches = number;
      return stream_batch(events, call.db(), sql, number, max_rows);
    });
  }
  std::int32_t end = qv_now_ms();
  call.session.reset();
  return summary(ok, spid, qv_elapsed_ms(start, end), batches, events.total_rows());
}

}  // namespace qv::ops::query
