// Cutting a T-SQL script into batches at GO separator lines. Internal header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::common {

// The batches of a script, in script order, each with the count of times
// its separator line asked it to run ("GO 3"). The list owns the arrays and
// every text (standard heap); qv_batch_list_free releases them.
struct qv_batch_list {
  char **items = nullptr;
  std::int32_t *repeats = nullptr;  // null: every batch runs once
  std::int32_t count = 0;
};

// How many times batch i runs: its separator's count, at least 1 (GO 0 and
// a batch without a count run once).
std::int32_t qv_batch_repeats(const qv_batch_list &list, std::int32_t i);

// Where the splitter's memory comes from: realloc's contract (a null pointer
// allocates). The list is released with free(), so any function given must
// hand out memory of the standard heap.
using qv_split_realloc = void *(*)(void *p, std::size_t size);
// The standard heap's realloc.
void *qv_heap_realloc(void *p, std::size_t size);

// Fills list with the batches of text and returns 0, or -1 when memory runs
// out (list then holds the batches finished so far). A null text gives an
// empty list. text is not modified.
int qv_split_go(const char *text, qv_batch_list *list, qv_split_realloc grow = qv_heap_realloc);

// Frees every batch and the array; leaves list empty. Null-safe.
void qv_batch_list_free(qv_batch_list *list);

}  // namespace qv::common
