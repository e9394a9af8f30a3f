// The script splitter. Input: one byte choosing k, then the script. Each
// batch is a piece of the script, in order, not overlapping the one before,
// never empty nor ending in white space, and splits again into itself alone;
// every batch runs at least once. The same script is then split with every
// k-th allocation failing (k from 1 to 15; 0: none fails): the answer is
// either the whole list or failure with a prefix of it, and nothing leaks.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/split.h"
#include "fuzz_support.h"

namespace {

using namespace qv::common;

struct batch {
  std::string text;
  std::int32_t repeats;
  bool operator==(const batch &) const = default;
};

std::size_t fail_every = 0;
std::size_t calls = 0;

void *failing_realloc(void *p, std::size_t size) {
  if (fail_every && ++calls % fail_every == 0) return nullptr;
  return std::realloc(p, size);
}

// Splits text; the list is taken apart and freed here.
int split(const char *text, qv_split_realloc grow, std::vector<batch> *out) {
  qv_batch_list list;
  const int rc = qv_split_go(text, &list, grow);
  QV_FUZZ_CHECK(rc == 0 || rc == -1);
  QV_FUZZ_CHECK(list.count >= 0 && (list.items == nullptr) == (list.count == 0));
  out->clear();
  for (std::int32_t i = 0; i < list.count; ++i) {
    QV_FUZZ_CHECK(list.items[i] != nullptr);
    const std::int32_t repeats = qv_batch_repeats(list, i);
    QV_FUZZ_CHECK(repeats >= 1);
    out->push_back({list.items[i], repeats});
  }
  qv_batch_list_free(&list);
  QV_FUZZ_CHECK(list.items == nullptr && list.repeats == nullptr && list.count == 0);
  return rc;
}

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void check_batches(std::string_view script, const std::vector<batch> &batches) {
  std::size_t from = 0;
  for (const batch &b : batches) {
    QV_FUZZ_CHECK(!b.text.empty() && !is_white(b.text.back()));
    const std::size_t at = script.find(b.text, from);
    QV_FUZZ_CHECK(at != std::string_view::npos);
    from = at + b.text.size();

    std::vector<batch> again;
    QV_FUZZ_CHECK(split(b.text.c_str(), qv_heap_realloc, &again) == 0);
    QV_FUZZ_CHECK(again.size() == 1 && again[0].text == b.text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const std::string script(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::vector<batch> whole;
  fail_every = 0;
  QV_FUZZ_CHECK(split(script.c_str(), qv_heap_realloc, &whole) == 0);
  check_batches(script.c_str(), whole);

  fail_every = data[0] % 16;
  calls = 0;
  std::vector<batch> rationed;
  if (split(script.c_str(), failing_realloc, &rationed) == 0) {
    QV_FUZZ_CHECK(rationed == whole);
  } else {
    QV_FUZZ_CHECK(fail_every != 0 && rationed.size() <= whole.size());
    QV_FUZZ_CHECK(std::equal(rationed.begin(), rationed.end(), whole.begin()));
  }
  return 0;
}
