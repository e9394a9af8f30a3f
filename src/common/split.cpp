// Cutting a T-SQL script into batches at GO separator lines.
//
// The script is read line by line. The lexical scanner (sql_scanner.h)
// follows string literals, double-quoted and bracketed identifiers and
// nested block comments across lines, so that a GO line inside one of them
// stays part of its batch. Each batch keeps every byte of its lines except
// trailing white space.
#include "common/split.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/sql_scanner.h"

namespace qv::common {

namespace {

constexpr std::size_t kFirstBufferSize = 256;
constexpr std::int32_t kFirstListCapacity = 8;

// The batch being collected; data is null while there is none.
struct batch_buffer {
  char *data;
  std::size_t len;
  std::size_t cap;
};

struct split_run {
  qv_batch_list *list;
  std::int32_t capacity;
  qv_sql_scanner scan;
  batch_buffer buf;
  qv_split_realloc grow;
};

// Tab, carriage return or space; a line feed never occurs inside a line.
bool is_blank(char c) { return c == '\t' || c == '\r' || c == ' '; }

bool is_white(char c) { return is_blank(c) || c == '\n'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True when bytes i and i + 1 both lie in the line and equal a and b.
bool pair_at(const char *p, std::size_t i, std::size_t n, char a, char b) {
  return i + 1 < n && p[i] == a && p[i + 1] == b;
}

std::size_t skip_blanks(const char *p, std::size_t i, std::size_t n) {
  while (i < n && is_blank(p[i])) ++i;
  return i;
}

// GO (any case), optionally followed by blanks, a repeat count, more blanks
// and a trailing "--" comment; nothing else. *repeats receives the count (1
// without one, 0 for "GO 0"; counts past the int range stay at its top).
bool is_separator_line(const char *p, std::size_t n, std::int32_t *repeats) {
  std::size_t i = skip_blanks(p, 0, n);
  if (n - i < 2 || (p[i] != 'G' && p[i] != 'g') ||
      (p[i + 1] != 'O' && p[i + 1] != 'o'))
    return false;
  i = skip_blanks(p, i + 2, n);
  std::int64_t count = -1;
  for (; i < n && is_digit(p[i]); ++i)
    count = std::min<std::int64_t>((count < 0 ? 0 : count) * 10 + (p[i] - '0'), INT32_MAX);
  i = skip_blanks(p, i, n);
  if (i != n && !pair_at(p, i, n, '-', '-')) return false;
  *repeats = count < 0 ? 1 : static_cast<std::int32_t>(count);
  return true;
}

// Makes room for the line, its line feed and the terminator; the buffer
// starts at 256 bytes and doubles.
int reserve_line(batch_buffer &b, std::size_t line_len, qv_split_realloc grow) {
  std::size_t need = b.len + line_len + 3;
  std::size_t cap = b.data ? b.cap : kFirstBufferSize;
  while (cap < need) {
    if (cap > SIZE_MAX / 2) return -1;
    cap *= 2;
  }
  if (b.data && cap == b.cap) return 0;
  void *grown = grow(b.data, cap);
  if (!grown) return -1;
  b.data = static_cast<char *>(grown);
  b.cap = cap;
  return 0;
}

int append_line(batch_buffer &b, const char *p, std::size_t n, qv_split_realloc grow) {
  if (reserve_line(b, n, grow) != 0) return -1;
  std::memcpy(b.data + b.len, p, n);
  b.len += n;
  b.data[b.len++] = '\n';
  b.data[b.len] = '\0';
  return 0;
}

// Makes both arrays hold capacity entries; false when memory ran out (the
// arrays stay valid, the one that grew only larger).
bool grow_list(split_run &run, std::int32_t capacity) {
  qv_batch_list &list = *run.list;
  void *items = run.grow(list.items, sizeof(char *) * capacity);
  if (!items) return false;
  list.items = static_cast<char **>(items);
  void *repeats = run.grow(list.repeats, sizeof(std::int32_t) * capacity);
  if (!repeats) return false;
  list.repeats = static_cast<std::int32_t *>(repeats);
  run.capacity = capacity;
  return true;
}

// Takes ownership of text; on failure the list is left as it was.
int add_batch(split_run &run, char *text, std::int32_t repeats) {
  qv_batch_list &list = *run.list;
  if (list.count == run.capacity) {
    if (run.capacity > INT32_MAX / 2 || !grow_list(run, run.capacity * 2)) return -1;
  }
  list.items[list.count] = text;
  list.repeats[list.count++] = repeats;
  return 0;
}

// Ends the current batch, to run `repeats` times: trailing white space is
// cut off, and a batch left empty is dropped (its count with it). The next
// line starts a new buffer either way.
int finish_batch(split_run &run, std::int32_t repeats) {
  char *text = run.buf.data;
  std::size_t len = run.buf.len;
  run.buf = batch_buffer{nullptr, 0, 0};
  if (!text) return 0;
  while (len > 0 && is_white(text[len - 1])) text[--len] = '\0';
  if (len == 0) {
    std::free(text);
    return 0;
  }
  if (add_batch(run, text, repeats) != 0) {
    std::free(text);
    return -1;
  }
  return 0;
}

int take_line(split_run &run, const char *p, std::size_t n) {
  std::int32_t repeats;
  if (run.scan.state == qv_sql_state::normal && is_separator_line(p, n, &repeats))
    return finish_batch(run, repeats);
  if (append_line(run.buf, p, n, run.grow) != 0) return -1;
  if (n > 0) run.scan = qv_sql_scan(run.scan, p, n);
  return 0;
}

// Feeds every line of text (cut at line feeds, carriage returns kept) and
// finishes the last batch.
int split_lines(split_run &run, const char *text, std::size_t len) {
  const char *end = text + len;
  for (const char *p = text;;) {
    const void *lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    const char *stop = lf ? static_cast<const char *>(lf) : end;
    if (take_line(run, p, static_cast<std::size_t>(stop - p)) != 0) return -1;
    if (!lf) break;
    p = stop + 1;
  }
  return finish_batch(run, 1);
}

}  // namespace

void *qv_heap_realloc(void *p, std::size_t size) { return std::realloc(p, size); }

int qv_split_go(const char *text, qv_batch_list *list, qv_split_realloc grow) {
  if (!list) return -1;
  *list = qv_batch_list{};
  if (!text) return 0;

  std::size_t len = std::strlen(text);
  char *copy = static_cast<char *>(grow(nullptr, len + 1));
  if (!copy) return -1;
  std::memcpy(copy, text, len + 1);
  split_run run{list, 0, qv_sql_scanner{}, {nullptr, 0, 0}, grow};
  if (!grow_list(run, kFirstListCapacity)) {
    std::free(copy);
    qv_batch_list_free(list);
    return -1;
  }

  int rc = split_lines(run, copy, len);
  std::free(run.buf.data);
  std::free(copy);
  // No batch: hand back the same empty list as for a null text.
  if (list->count == 0) qv_batch_list_free(list);
  return rc;
}

void qv_batch_list_free(qv_batch_list *list) {
  if (!list || !list->items) return;
  for (std::int32_t i = 0; i < list->count; ++i) std::free(list->items[i]);
  std::free(list->items);
  std::free(list->repeats);
  *list = qv_batch_list{};
}

std::int32_t qv_batch_repeats(const qv_batch_list &list, std::int32_t i) {
  return list.repeats && list.repeats[i] > 1 ? list.repeats[i] : 1;
}

}  // namespace qv::common
