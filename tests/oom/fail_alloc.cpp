#include "fail_alloc.h"

#include <dlfcn.h>
#include <sybdb.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "quorvex/dbdesk_core.h"

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
void __libc_free(void *p);
void *__tls_get_addr(void *);  // defined by the dynamic loader
}

namespace oom {

namespace {

// The armed thread's state. Plain data in the executable's static TLS: read
// inside malloc without allocating.
struct thread_state {
  bool armed;
  bool paused;
  bool pass_dblib;
  bool failed;
  std::uint64_t counted;
  std::uint64_t counted_in_library;
  std::uint64_t freed_older;
  std::uint64_t fail_at;
  void *failed_caller;
};
constinit thread_local thread_state t{};

// The live blocks of the armed thread (only one thread is armed at a time):
// open addressing over a fixed table, so tracking never allocates.
constexpr std::size_t kSlots = std::size_t{1} << 18;
struct slot {
  void *p;
  std::size_t size;
  void *caller;
};
slot g_table[kSlots];
void *const kTombstone = reinterpret_cast<void *>(1);
std::size_t g_live = 0;

std::size_t home(void *p) {
  return (reinterpret_cast<std::uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ull >> 46;
}

void track(void *p, std::size_t size, void *caller) {
  for (std::size_t i = home(p);; i = (i + 1) & (kSlots - 1)) {
    if (!g_table[i].p || g_table[i].p == kTombstone) {
      g_table[i] = {p, size, caller};
      ++g_live;
      return;
    }
  }
}

// False when p was not allocated since arm().
bool untrack(void *p) {
  for (std::size_t i = home(p); g_table[i].p; i = (i + 1) & (kSlots - 1)) {
    if (g_table[i].p == p) {
      g_table[i].p = kTombstone;
      --g_live;
      return true;
    }
  }
  return false;
}

void clear_table() {
  std::memset(g_table, 0, sizeof g_table);
  g_live = 0;
}

void *base_of(void *code) {
  Dl_info info{};
  return dladdr(code, &info) ? info.dli_fbase : nullptr;
}

// The library under test.
void *library_base() {
  static void *base = base_of(reinterpret_cast<void *>(&dbdesk_core_version));
  return base;
}

// Where db-lib's own allocations come from.
void *dblib_base() {
  static void *base = base_of(reinterpret_cast<void *>(&dbinit));
  return base;
}

// The dynamic loader allocates and frees link maps when the C library
// loads or unloads a module of its own (character set converters, name
// service modules) and releases idle converters after a few uses: process
// state of the C library, neither counted nor tracked.
void *loader_base() {
  static void *base = base_of(reinterpret_cast<void *>(&__tls_get_addr));
  return base;
}

bool from_loader(void *caller) { return base_of(caller) == loader_base(); }

bool counting() { return t.armed && !t.paused; }

// True when this allocation is the one to fail.
bool fail_now(void *caller) {
  if (!counting()) return false;
  if (from_loader(caller)) return false;
  if (t.pass_dblib && base_of(caller) == dblib_base()) return false;
  if (base_of(caller) == library_base()) ++t.counted_in_library;
  if (++t.counted != t.fail_at) return false;
  t.failed = true;
  t.failed_caller = caller;
  return true;
}

void note_alloc(void *p, std::size_t size, void *caller) {
  if (p && counting() && !from_loader(caller)) track(p, size, caller);
}

void note_free(void *p, void *caller) {
  if (p && t.armed && !untrack(p) && counting() && !from_loader(caller)) ++t.freed_older;
}

void *allocate(std::size_t size, void *caller) {
  if (fail_now(caller)) {
    errno = ENOMEM;
    return nullptr;
  }
  void *p = __libc_malloc(size);
  note_alloc(p, size, caller);
  return p;
}

void *allocate_or_throw(std::size_t size, void *caller) {
  if (size == 0) size = 1;
  void *p = allocate(size, caller);
  if (!p) throw std::bad_alloc();
  return p;
}

void release(void *p, void *caller) {
  note_free(p, caller);
  __libc_free(p);
}

std::string describe(void *caller) {
  Dl_info info{};
  if (!dladdr(caller, &info)) return "?";
  std::string s = info.dli_fname ? info.dli_fname : "?";
  if (info.dli_sname) s += std::string(" ") + info.dli_sname;
  char offset[32];
  std::snprintf(offset, sizeof offset, " +0x%zx",
                static_cast<std::size_t>(static_cast<char *>(caller) -
                                         static_cast<char *>(info.dli_fbase)));
  return s + offset;
}

}  // namespace

void arm(const arming &how) {
  dblib_base();
  loader_base();
  library_base();
  clear_table();
  t = {};
  t.pass_dblib = how.pass_dblib;
  t.fail_at = how.fail_at;
  t.armed = true;
}

outcome disarm() {
  t.armed = false;
  outcome out;
  out.counted = t.counted;
  out.counted_in_library = t.counted_in_library;
  out.failed = t.failed;
  out.freed_older = t.freed_older;
  if (t.failed) {
    out.failed_caller = describe(t.failed_caller);
    out.failed_in_library = base_of(t.failed_caller) == library_base();
  }
  for (const slot &s : g_table)
    if (s.p && s.p != kTombstone) out.live.push_back({s.size, describe(s.caller)});
  return out;
}

pause::pause() : was_(t.paused) { t.paused = true; }
pause::~pause() { t.paused = was_; }

}  // namespace oom

extern "C" {

void *malloc(std::size_t size) { return oom::allocate(size, __builtin_return_address(0)); }

void *calloc(std::size_t count, std::size_t size) {
  void *caller = __builtin_return_address(0);
  if (oom::fail_now(caller)) {
    errno = ENOMEM;
    return nullptr;
  }
  void *p = __libc_calloc(count, size);
  oom::note_alloc(p, count * size, caller);
  return p;
}

void *realloc(void *old, std::size_t size) {
  void *caller = __builtin_return_address(0);
  if (!old) return oom::allocate(size, caller);
  if (size == 0) {
    oom::release(old, caller);
    return nullptr;
  }
  if (oom::fail_now(caller)) {
    errno = ENOMEM;
    return nullptr;  // the old block stays the caller's
  }
  void *p = __libc_realloc(old, size);
  if (p) {
    oom::note_free(old, caller);
    oom::note_alloc(p, size, caller);
  }
  return p;
}

void free(void *p) { oom::release(p, __builtin_return_address(0)); }

}  // extern "C"

void *operator new(std::size_t size) {
  return oom::allocate_or_throw(size, __builtin_return_address(0));
}
void *operator new[](std::size_t size) {
  return oom::allocate_or_throw(size, __builtin_return_address(0));
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  return oom::allocate(size ? size : 1, __builtin_return_address(0));
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  return oom::allocate(size ? size : 1, __builtin_return_address(0));
}
void operator delete(void *p) noexcept { oom::release(p, __builtin_return_address(0)); }
void operator delete[](void *p) noexcept { oom::release(p, __builtin_return_address(0)); }
void operator delete(void *p, std::size_t) noexcept { oom::release(p, __builtin_return_address(0)); }
void operator delete[](void *p, std::size_t) noexcept { oom::release(p, __builtin_return_address(0)); }
void operator delete(void *p, const std::nothrow_t &) noexcept { oom::release(p, __builtin_return_address(0)); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { oom::release(p, __builtin_return_address(0)); }
