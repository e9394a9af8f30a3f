// The tree part of the demo tour: walks the sample catalog from the server
// node through databases and tables down to columns, printing every reply,
// shows the other node kinds on the demo database, then prints the walked
// tree as an outline.
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "demo.h"

namespace {

using tree_fn = char *(*)(const char *, const char *, const char *, const char *, const char *);

struct tree_walk {
  const demo_ctx &ctx;
  tree_fn tree;
  std::string outline;

  // Calls dbdesk_core_tree, prints the reply and returns the nodes' labels.
  std::vector<std::string> expand(const char *kind, const std::string &db = "",
                                  const std::string &schema = "", const std::string &obj = "") {
    char *reply = tree(ctx.conn.c_str(), kind, db.c_str(), schema.c_str(), obj.c_str());
    std::vector<std::string> labels;
    rapidjson::Document doc;
    if (reply && !doc.Parse(reply).HasParseError() && doc.IsObject() && doc.HasMember("nodes"))
      for (const auto &n : doc["nodes"].GetArray()) labels.emplace_back(n["label"].GetString());
    std::string title = std::string("dbdesk_core_tree ") + kind;
    if (!db.empty())
      title += " (" + db + (schema.empty() ? "" : ", " + schema + "." + (obj.empty() ? "<no table>" : obj)) + ")";
    demo_show(ctx, title.c_str(), reply);
    return labels;
  }

  void note(int depth, const std::string &text) {
    outline += std::string(2 * depth, ' ') + text + "\n";
  }
};

}  // namespace

void demo_tree(const demo_ctx &ctx) {
  tree_walk walk{ctx, demo_symbol<tree_fn>(ctx.lib, "dbdesk_core_tree"), ""};
  for (const std::string &server : walk.expand("server")) walk.note(0, server);
  for (const std::string &db : walk.expand("databases")) {
    walk.note(1, db);
    if (db != "demo") continue;
    for (const std::string &table : walk.expand("tables", db)) {
      walk.note(2, table);
      std::size_t dot = table.find('.');
      std::string schema = table.substr(0, dot), name = table.substr(dot + 1);
      for (const std::string &col : walk.expand("columns", db, schema, name)) walk.note(3, col);
    }
  }
  for (const char *kind : {"keys", "constraints", "triggers", "indexes", "statistics"})
    walk.expand(kind, "demo", "dbo", "orders");
  for (const char *kind : {"views", "stored_procedures", "functions", "db_users", "db_roles",
                           "db_schemas", "system_databases", "logins", "server_roles", "jobs"})
    walk.expand(kind, "demo");
  walk.expand("function_params", "demo", "dbo", "order_total");
  walk.expand("columns", "demo", "dbo", "");
  std::printf("The demo database as the explorer shows it:\n%s\n", walk.outline.c_str());
}
