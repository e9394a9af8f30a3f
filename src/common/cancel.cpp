#include "common/cancel.h"

#include <atomic>
#include <cstring>
#include <list>
#include <mutex>
#include <string>

#include "common/capture.h"

namespace qv::common {

namespace {

// One running call. It lives in the calling thread's storage; the registry
// only points to it between qv_cancel_begin and qv_cancel_end.
struct running_call {
  std::atomic<bool> cancelled{false};
  std::string tag;
  int depth = 0;
  int paused = 0;
};

thread_local running_call g_call;

std::mutex g_registry_mu;
std::list<running_call *> g_registry;  // guarded by g_registry_mu

}  // namespace

void qv_cancel_begin(const char *tag) {
  if (g_call.depth++ > 0) return;
  g_call.cancelled.store(false, std::memory_order_relaxed);
  if (!tag || !*tag) return;
  std::lock_guard<std::mutex> lock(g_registry_mu);
  g_call.tag = tag;
  g_registry.push_back(&g_call);
}

void qv_cancel_end() {
  if (g_call.depth == 0 || --g_call.depth > 0) return;
  std::lock_guard<std::mutex> lock(g_registry_mu);
  g_registry.remove(&g_call);
  g_call.tag.clear();
}

void qv_cancel_self() { g_call.cancelled.store(true, std::memory_order_relaxed); }

bool qv_cancel_requested() {
  return g_call.paused == 0 && g_call.cancelled.load(std::memory_order_relaxed);
}

qv_cancel_pause::qv_cancel_pause() { ++g_call.paused; }
qv_cancel_pause::~qv_cancel_pause() { --g_call.paused; }

void qv_record_cancelled() {
  qv_lock_reason(kCancelledText);
}

bool qv_stop_if_cancelled() {
  if (!qv_cancel_requested()) return false;
  qv_record_cancelled();
  return true;
}

std::int32_t qv_cancel_tag(const char *tag) {
  std::int32_t n = 0;
  std::lock_guard<std::mutex> lock(g_registry_mu);
  for (running_call *call : g_registry) {
    if (call->tag == tag) {
      call->cancelled.store(true, std::memory_order_relaxed);
      ++n;
    }
  }
  return n;
}

}  // namespace qv::common
