// The Stop button: a query the server would work on for 30 seconds, run
// under a tag and stopped from another thread after one second.
#include <chrono>
#include <thread>

#include "demo.h"

namespace {

using query_fn = char *(*)(const char *, const char *, const char *, int, int);
using cancel_fn = char *(*)(const char *);

}  // namespace

void demo_cancel(const demo_ctx &ctx) {
  auto query = demo_symbol<query_fn>(ctx.lib, "dbdesk_core_query");
  auto cancel = demo_symbol<cancel_fn>(ctx.lib, "dbdesk_core_cancel");
  std::string conn = ctx.conn;
  conn.insert(conn.size() - 1, ",\"tag\":\"tab-1\"");
  char *reply = nullptr;
  auto start = std::chrono::steady_clock::now();
  std::thread running([&] {
    reply = query(conn.c_str(), nullptr, "WAITFOR DELAY '00:00:30'\nGO\nSELECT 1 AS n", 0, 60);
  });
  std::this_thread::sleep_for(std::chrono::seconds(1));
  demo_show(ctx, "dbdesk_core_cancel(\"tab-1\") one second into a 30-second query",
            cancel("tab-1"));
  running.join();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)
                .count();
  std::printf("the stopped query returned after %lld ms:\n", static_cast<long long>(ms));
  demo_show(ctx, "dbdesk_core_query (stopped)", reply);
}
