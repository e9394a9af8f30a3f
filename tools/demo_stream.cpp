// A streamed query: the report's first rows and its progress message reach
// the callback while the server is still working on the rest, each shown
// with the time it came.
#include <chrono>
#include <string>

#include "demo.h"

namespace {

using event_fn = int (*)(void *, const char *, std::size_t);
using stream_fn = char *(*)(const char *, const char *, const char *, int, int, event_fn, void *);
using Clock = std::chrono::steady_clock;

int print_event(void *user, const char *json, std::size_t) {
  const auto start = *static_cast<const Clock::time_point *>(user);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  std::printf("  %5lld ms  %s\n", static_cast<long long>(ms), json);
  std::fflush(stdout);  // shown as it comes, also through a pipe
  return 0;
}

}  // namespace

void demo_stream(const demo_ctx &ctx) {
  auto stream = demo_symbol<stream_fn>(ctx.lib, "dbdesk_core_query_stream");
  std::printf("dbdesk_core_query_stream: the events as they arrive (the server pauses after the "
              "progress message):\n");
  std::fflush(stdout);
  Clock::time_point start = Clock::now();
  char *summary = stream(ctx.conn.c_str(), nullptr, "EXEC demo.dbo.monthly_report", 0, 0,
                         print_event, &start);
  demo_show(ctx, "its summary", summary);
}
