// Allocation failure on demand, for the calling thread only. The test
// executable replaces malloc, calloc, realloc, free and the global operator
// new and delete (forwarding to glibc's own allocator); while a thread is
// armed, its n-th counted allocation answers NULL (operator new throws
// std::bad_alloc), and every block it allocates is tracked until freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oom {

// Which allocations count. db-lib's own (those whose immediate caller is in
// libsybdb) pass through when pass_dblib is set: FreeTDS 1.3.17 does not
// survive them (a failed allocation while opening a session crashes inside
// tdsdbopen on a NULL mutex; one while building the login leaks inside
// db-lib). Everything else the armed thread allocates counts: the library's
// malloc and realloc, operator new wherever it is called from (the library's
// containers and strings), the C library's allocations, including those
// db-lib makes through it (strdup, iconv, the resolver, stdio), and the C++
// runtime's (exception objects).
struct arming {
  std::uint64_t fail_at = 0;  // 1-based; 0: fail none (a counting run)
  bool pass_dblib = true;
};

// A block still allocated when the thread was disarmed.
struct live_block {
  std::size_t size;
  std::string caller;  // object file and symbol of the allocating code
};

struct outcome {
  std::uint64_t counted = 0;  // allocations that counted (the n of a sweep)
  std::uint64_t counted_in_library = 0;  // of those, made by the library's own code
  bool failed = false;        // the fail_at-th one came and was failed
  std::string failed_caller;  // the code whose allocation was failed
  bool failed_in_library = false;  // that code is the library's own
  // Blocks allocated since arm() and not freed.
  std::vector<live_block> live;
  // Blocks allocated before arm() that were freed since: caches of the C
  // library that replace their block on every use (the resolver's list of
  // interfaces) free the last call's block and keep a new one.
  std::uint64_t freed_older = 0;
  // Blocks the armed thread holds now beyond what it held at arm().
  std::int64_t net() const { return static_cast<std::int64_t>(live.size()) -
                                    static_cast<std::int64_t>(freed_older); }
};

// Starts counting, failing and tracking on the calling thread.
void arm(const arming &how);
// Stops, reporting what happened since arm().
outcome disarm();

// While one exists, the armed thread allocates normally and untracked (the
// test's own work inside a callback of the library).
class pause {
 public:
  pause();
  ~pause();
  pause(const pause &) = delete;
  pause &operator=(const pause &) = delete;

 private:
  bool was_;
};

}  // namespace oom
