// The sample catalog's answers for the tree demo: database "demo" with the
// schemas dbo and sales, three tables with keys, a view, a procedure, a
// function, a job and a login. Each explorer query is recognised by its
// opening words; the per-table ones are answered for the schema and table
// named in their N'...' literals.
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "demo_script.h"

namespace tds::demo {

namespace {

struct Entry {
  const char *kind;    // the query shape that lists it
  const char *schema;  // owning table or routine ("" for database-level entries)
  const char *obj;
  const char *label;
  const char *sub;     // nullptr sends NULL
  const char *keymark = "";
};

const Entry kCatalog[] = {
    {"databases", "", "", "bench", "ONLINE"},
    {"databases", "", "", "demo", "ONLINE"},
    {"system_databases", "", "", "master", "ONLINE"},
    {"system_databases", "", "", "msdb", "ONLINE"},
    {"system_databases", "", "", "tempdb", "ONLINE"},
    {"tables", "", "", "dbo.customers", "3 rows"},
    {"tables", "", "", "dbo.orders", "5 rows"},
    {"tables", "", "", "sales.regions", "4 rows"},
    {"system_tables", "", "", "dbo.spt_values", nullptr},
    {"columns", "dbo", "customers", "id", "int NOT NULL", "PK"},
    {"columns", "dbo", "customers", "name", "nvarchar(100) NOT NULL"},
    {"columns", "dbo", "customers", "email", "varchar(200) NULL"},
    {"columns", "dbo", "orders", "id", "int NOT NULL", "PK"},
    {"columns", "dbo", "orders", "customer_id", "int NOT NULL"},
    {"columns", "dbo", "orders", "total", "decimal(10,2) NOT NULL"},
    {"columns", "dbo", "orders", "status", "nvarchar(20) NULL"},
    {"columns", "sales", "regions", "code", "char(2) NOT NULL", "PK"},
    {"columns", "sales", "regions", "name", "nvarchar(50) NOT NULL"},
    {"keys", "dbo", "customers", "PK_customers", "PRIMARY_KEY_CONSTRAINT"},
    {"keys", "dbo", "customers", "UQ_customers_email", "UNIQUE_CONSTRAINT"},
    {"keys", "dbo", "orders", "PK_orders", "PRIMARY_KEY_CONSTRAINT"},
    {"keys", "sales", "regions", "PK_regions", "PRIMARY_KEY_CONSTRAINT"},
    {"constraints", "dbo", "orders", "CK_orders_total", "check"},
    {"constraints", "dbo", "orders", "DF_orders_status", "default"},
    {"triggers", "dbo", "orders", "trg_orders_audit", "SQL_TRIGGER"},
    {"indexes", "dbo", "customers", "PK_customers", "CLUSTERED UNIQUE PRIMARY KEY"},
    {"indexes", "dbo", "customers", "UQ_customers_email", "NONCLUSTERED UNIQUE"},
    {"indexes", "dbo", "orders", "PK_orders", "CLUSTERED UNIQUE PRIMARY KEY"},
    {"indexes", "dbo", "orders", "IX_orders_customer", "NONCLUSTERED"},
    {"indexes", "sales", "regions", "PK_regions", "CLUSTERED UNIQUE PRIMARY KEY"},
    {"statistics", "dbo", "orders", "IX_orders_customer", "user"},
    {"statistics", "dbo", "orders", "_WA_Sys_00000004_status", "system"},
    {"views", "", "", "dbo.open_orders", nullptr},
    {"stored_procedures", "", "", "dbo.add_order", "SQL_STORED_PROCEDURE"},
    {"functions", "", "", "dbo.order_total", "scalar"},
    {"function_params", "dbo", "add_order", "@customer_id", "int"},
    {"function_params", "dbo", "add_order", "@total", "decimal"},
    {"function_params", "dbo", "order_total", "", "decimal"},
    {"function_params", "dbo", "order_total", "@order_id", "int"},
    {"db_users", "", "", "app_reader", "SQL_USER"},
    {"db_users", "", "", "dbo", "SQL_USER"},
    {"db_roles", "", "", "db_datareader", "fixed"},
    {"db_roles", "", "", "reporting", "application"},
    {"db_schemas", "", "", "dbo", "dbo"},
    {"db_schemas", "", "", "sales", "dbo"},
    {"logins", "", "", "app_reader", "SQL_LOGIN"},
    {"logins", "", "", "sa", "SQL_LOGIN"},
    {"server_roles", "", "", "sysadmin", "fixed"},
    {"jobs", "", "", "nightly backup", "enabled"},
};

struct Shape {
  const char *kind;
  const char *opening;  // regex for the query's first words
  const char *label_col;
  const char *sub_col;
  bool per_object;      // answered for the schema and object it names
};

const Shape kShapes[] = {
    {"databases", R"(^SELECT name, state_desc FROM sys\.databases WHERE database_id > 4)", "name", "state_desc", false},
    {"system_databases", R"(^SELECT name, state_desc FROM sys\.databases WHERE database_id <= 4)", "name", "state_desc", false},
    {"tables", R"(^SELECT s\.name \+ '\.' \+ t\.name AS label, CAST)", "label", "sub", false},
    {"system_tables", R"(^SELECT s\.name \+ '\.' \+ t\.name AS label, NULL)", "label", "sub", false},
    {"columns", R"(^SELECT c\.name AS label, ty\.name \+)", "label", "sub", true},
    {"keys", R"(^SELECT k\.name AS label)", "label", "sub", true},
    {"constraints", R"(^SELECT dc\.name AS label)", "label", "sub", true},
    {"triggers", R"(^SELECT tr\.name AS label)", "label", "sub", true},
    {"indexes", R"(^SELECT i\.name AS label)", "label", "sub", true},
    {"statistics", R"(^SELECT st\.name AS label)", "label", "sub", true},
    {"views", R"(^SELECT s\.name \+ '\.' \+ v\.name AS label)", "label", "sub", false},
    {"stored_procedures", R"(^SELECT s\.name \+ '\.' \+ p\.name AS label)", "label", "sub", false},
    {"functions", R"(^SELECT s\.name \+ '\.' \+ f\.name AS label)", "label", "sub", false},
    {"function_params", R"(^SELECT p\.name AS label, ty\.name AS sub FROM sys\.parameters)", "label", "sub", true},
    {"db_users", R"(^SELECT dp\.name AS label, dp\.type_desc)", "label", "sub", false},
    {"db_roles", R"(^SELECT dp\.name AS label, CASE WHEN dp\.is_fixed_role)", "label", "sub", false},
    {"db_schemas", R"(^SELECT s\.name AS label, USER_NAME)", "label", "sub", false},
    {"logins", R"(^SELECT sp\.name AS label, sp\.type_desc)", "label", "sub", false},
    {"server_roles", R"(^SELECT sp\.name AS label, CASE WHEN sp\.is_fixed_role)", "label", "sub", false},
    {"jobs", R"(^SELECT j\.name AS label)", "label", "sub", false},
};

// The contents of the N'...' literals of sql, quotes undoubled.
std::vector<std::string> unicode_literals(const std::string &sql) {
  static const std::regex lit(R"(N'((?:[^']|'')*)')");
  std::vector<std::string> out;
  for (std::sregex_iterator it(sql.begin(), sql.end(), lit), end; it != end; ++it) {
    std::string s = (*it)[1].str();
    for (auto at = s.find("''"); at != std::string::npos; at = s.find("''", at + 1)) s.erase(at, 1);
    out.push_back(s);
  }
  return out;
}

Reply answer(const Shape &shape, const std::string &sql) {
  std::vector<std::string> names = unicode_literals(sql);
  ResultSet rs;
  rs.columns = {{shape.label_col, Type::NVarChar, 128}, {shape.sub_col, Type::NVarChar, 128}};
  bool keymark = std::string(shape.kind) == "columns";
  if (keymark) rs.columns.push_back({"keymark", Type::VarChar, 2, 0, 0, false});
  for (const Entry &e : kCatalog) {
    if (std::string(e.kind) != shape.kind) continue;
    if (shape.per_object && (names.size() < 2 || names[0] != e.schema || names[1] != e.obj)) continue;
    Row row{std::string(e.label), e.sub ? Value(e.sub) : std::nullopt};
    if (keymark) row.push_back(std::string(e.keymark));
    rs.rows.push_back(std::move(row));
  }
  return {rs};
}

}  // namespace

void register_tree_demo(Server &server) {
  for (const Shape &shape : kShapes) {
    auto opening = std::make_shared<std::regex>(shape.opening);
    // Every opening is anchored: trying it only at the first character
    // spares a scan of each long batch from every position.
    server.on_match([opening](const std::string &sql) {
                      return std::regex_search(sql, *opening, std::regex_constants::match_continuous);
                    },
                    [&shape](const std::string &sql) { return answer(shape, sql); });
  }
}

}  // namespace tds::demo
