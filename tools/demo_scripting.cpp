// The scripting part of the demo tour: the CREATE script of a sample table
// with every part a table script carries, and the ALTER script of a sample
// procedure headed by the settings it was created under.
#include "demo.h"

namespace {

using script_fn = char *(*)(const char *, const char *, const char *, const char *, const char *,
                            const char *);

}  // namespace

void demo_scripting(const demo_ctx &ctx) {
  auto script = demo_symbol<script_fn>(ctx.lib, "dbdesk_core_script_object");
  demo_show(ctx, "dbdesk_core_script_object (CREATE of table demo.dbo.order_lines)",
            script(ctx.conn.c_str(), "demo", "table", "dbo", "order_lines", "create"));
  demo_show(ctx, "dbdesk_core_script_object (ALTER of procedure demo.dbo.add_item)",
            script(ctx.conn.c_str(), "demo", "procedure", "dbo", "add_item", "alter"));
}
