// The editgrid part of the demo tour: a table loaded into the grid, and the
// statements a dry run would execute for an update, an insert and a delete;
// then a table keyed by a time, whose loaded text goes back as the same value.
#include "demo.h"

namespace {

using load_fn = char *(*)(const char *, const char *, const char *, const char *, int);
using apply_fn = char *(*)(const char *, const char *, const char *, const char *, const char *,
                           int);

constexpr char kEdits[] =
    "[{\"op\":\"update\",\"pk\":{\"id\":1},\"values\":{\"PRICE\":21.50,\"code\":\"0x01AC\"}},"
    "{\"op\":\"insert\",\"values\":{\"name\":\"O'Neil's kit\",\"price\":7.25,\"price_with_tax\":0}},"
    "{\"op\":\"delete\",\"pk\":{\"id\":3}}]";

// The first reading's key exactly as the load shows it; the rowversion value
// is the server's to set and is left out.
constexpr char kReadingEdit[] =
    "[{\"op\":\"update\",\"pk\":{\"sensor\":1,\"taken_at\":\"Feb 29 2024  1:45:30:1234567PM\"},"
    "\"values\":{\"reading\":20.5,\"row_ver\":\"0x00000000000007D1\"}}]";

}  // namespace

void demo_editgrid(const demo_ctx &ctx) {
  auto load = demo_symbol<load_fn>(ctx.lib, "dbdesk_core_editgrid_load");
  auto apply = demo_symbol<apply_fn>(ctx.lib, "dbdesk_core_editgrid_apply");
  demo_show(ctx, "dbdesk_core_editgrid_load demo.dbo.products",
            load(ctx.conn.c_str(), "demo", "dbo", "products", 10));
  demo_show(ctx, "dbdesk_core_editgrid_apply (dry run: update, insert, delete)",
            apply(ctx.conn.c_str(), "demo", "dbo", "products", kEdits, 1));
  demo_show(ctx, "dbdesk_core_editgrid_load demo.dbo.readings",
            load(ctx.conn.c_str(), "demo", "dbo", "readings", 10));
  demo_show(ctx, "dbdesk_core_editgrid_apply (dry run: a datetime2 key sent back as loaded)",
            apply(ctx.conn.c_str(), "demo", "dbo", "readings", kReadingEdit, 1));
}
