// The admin part of the demo tour: the activity monitor's sessions and the
// files of the demo database.
#include "demo.h"

namespace {

using activity_fn = char *(*)(const char *, const char *);
using storage_fn = char *(*)(const char *, const char *, const char *, const char *);

}  // namespace

void demo_admin(const demo_ctx &ctx) {
  auto activity = demo_symbol<activity_fn>(ctx.lib, "dbdesk_core_activity");
  auto storage = demo_symbol<storage_fn>(ctx.lib, "dbdesk_core_storage");
  demo_show(ctx, "dbdesk_core_activity (sessions)", activity(ctx.conn.c_str(), "sessions"));
  demo_show(ctx, "dbdesk_core_storage (files of demo)",
            storage(ctx.conn.c_str(), "demo", "files", nullptr));
}
