// Shows the built library working: loads it, prints its version and the
// replies of every operation against the demo server's sample catalog.
//   qv-demo LIBRARY [PORT]
// Without PORT only the calls that answer without a server are shown.
#include "demo.h"

namespace {

using version_fn = const char *(*)();
using connect_fn = char *(*)(const char *, int, const char *, const char *, const char *, int,
                             int);
using query_fn = char *(*)(const char *, const char *, const char *, int, int);

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LIBRARY [PORT]\n", argv[0]);
    return 2;
  }
  demo_ctx ctx;
  ctx.lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!ctx.lib) {
    std::fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  auto version = demo_symbol<version_fn>(ctx.lib, "dbdesk_core_version");
  ctx.release = demo_symbol<free_fn>(ctx.lib, "dbdesk_core_free");
  auto connect = demo_symbol<connect_fn>(ctx.lib, "dbdesk_core_connect_test");
  auto query = demo_symbol<query_fn>(ctx.lib, "dbdesk_core_query");
  std::printf("dbdesk_core_version: %s\n\n", version());
  demo_show(ctx, "dbdesk_core_query without a script",
            query("{\"host\":\"h\",\"user\":\"u\"}", nullptr, nullptr, 0, 0));
  if (argc < 3) return 0;
  ctx.port = std::atoi(argv[2]);
  ctx.conn = "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(ctx.port) +
             ",\"user\":\"sa\",\"password\":\"secret\"}";
  demo_show(ctx, "dbdesk_core_connect_test",
            connect("127.0.0.1", ctx.port, "sa", "secret", nullptr, 0, 5));
  demo_show(ctx, "dbdesk_core_query (two batches)",
            query(ctx.conn.c_str(), nullptr,
                  "SELECT name, database_id FROM sys.databases\nGO\nPRINT 'hello from batch 2'", 0,
                  0));
  demo_tree(ctx);
  demo_scripting(ctx);
  demo_editgrid(ctx);
  demo_admin(ctx);
  demo_cancel(ctx);
  demo_stream(ctx);
  dlclose(ctx.lib);
  return 0;
}
