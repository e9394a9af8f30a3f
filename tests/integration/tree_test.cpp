// The object explorer: one level of the tree per call.
#include "support.h"

namespace {

using qvtest::json;
using qvtest::keys_of;
using qvtest::Reply;
using qvtest::ServerTest;
using qvtest::take;

const std::vector<std::string> kSetUp = {"SET TEXTSIZE 4194304", "use [master]"};

tds::ResultSet label_sub(std::vector<tds::Row> rows, const char *label = "label",
                         const char *sub = "sub") {
  tds::ResultSet rs;
  rs.columns = {{label, tds::Type::NVarChar, 1000}, {sub, tds::Type::NVarChar, 1000}};
  rs.rows = std::move(rows);
  return rs;
}

std::string quoted(const std::string &s) {
  return json(rapidjson::Value(rapidjson::StringRef(s.c_str(), s.size())));
}

std::string node(const std::string &id, const std::string &kind, const std::string &label,
                 const char *sub) {
  return "{\"id\":" + quoted(id) + ",\"kind\":" + quoted(kind) + ",\"label\":" + quoted(label) +
         ",\"sub\":" + (sub ? quoted(sub) : "null") + ",\"has_children\":true,\"meta\":{}}";
}

class Tree : public ServerTest {
 protected:
  Reply tree(const char *kind, const char *schema = nullptr, const char *obj = nullptr,
             const char *database = nullptr, const std::string &extra = "") {
    return take(dbdesk_core_tree(conn(extra).c_str(), kind, database, schema, obj));
  }
};

struct KindCase {
  const char *kind, *child, *prefix, *label, *sub, *sql;
};

// Table-level kinds are asked for dbo.T.
const KindCase kKinds[] = {
    {"databases", "db", "db", "name", "state_desc", "SELECT name, state_desc FROM sys.databases WHERE database_id > 4 ORDER BY name"},
    {"system_databases", "db", "sysdb", "name", "state_desc", "SELECT name, state_desc FROM sys.databases WHERE database_id <= 4 ORDER BY name"},
    {"tables", "table", "table", "label", "sub", "SELECT s.name + '.' + t.name AS label, CAST(ISNULL(p.rows, 0) AS varchar(32)) + ' rows' AS sub FROM sys.tables t JOIN sys.schemas s ON s.schema_id = t.schema_id OUTER APPLY (SELECT SUM(pt.rows) AS rows FROM sys.partitions pt   WHERE pt.object_id = t.object_id AND pt.index_id IN (0,1)) p WHERE t.is_ms_shipped = 0 ORDER BY s.name, t.name"},
    {"system_tables", "table", "systable", "label", "sub", "SELECT s.name + '.' + t.name AS label, NULL AS sub FROM sys.tables t JOIN sys.schemas s ON s.schema_id = t.schema_id WHERE t.is_ms_shipped = 1 ORDER BY s.name, t.name"},
    {"columns", "col", "col", "label", "sub", "SELECT c.name AS label, ty.name + CASE WHEN ty.name IN ('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar')     THEN c.max_length/2 ELSE c.max_length END AS varchar(10)) END + ')'   WHEN ty.name IN ('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + ',' + CAST(c.scale AS varchar(10)) + ')'   ELSE '' END + CASE WHEN c.is_nullable = 1 THEN ' NULL' ELSE ' NOT NULL' END AS sub, CASE WHEN ic.column_id IS NOT NULL THEN 'PK' ELSE '' END AS keymark FROM sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN sys.tables tb ON tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id LEFT JOIN (sys.index_columns ic JOIN sys.indexes i ON   i.object_id = ic.object_id AND i.index_id = ic.index_id   AND i.is_primary_key = 1)   ON ic.object_id = c.object_id AND ic.column_id = c.column_id WHERE s.name = N'dbo' AND tb.name = N'T' ORDER BY c.column_id"},
    {"keys", "key", "key", "label", "sub", "SELECT k.name AS label, k.type_desc AS sub FROM sys.key_constraints k JOIN sys.tables tb ON tb.object_id = k.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'dbo' AND tb.name = N'T' ORDER BY k.name"},
    {"constraints", "constraint", "constraint", "label", "sub", "SELECT dc.name AS label, 'default' AS sub FROM sys.default_constraints dc JOIN sys.tables tb ON tb.object_id = dc.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'dbo' AND tb.name = N'T' UNION ALL SELECT ck.name, 'check' FROM sys.check_constraints ck JOIN sys.tables tb ON tb.object_id = ck.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'dbo' AND tb.name = N'T' ORDER BY 1"},
    {"triggers", "trigger", "trigger", "label", "sub", "SELECT tr.name AS label, tr.type_desc AS sub FROM sys.triggers tr JOIN sys.tables tb ON tb.object_id = tr.parent_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'dbo' AND tb.name = N'T' ORDER BY tr.name"},
    {"indexes", "idx", "idx", "label", "sub", "SELECT i.name AS label, i.type_desc + CASE WHEN i.is_unique = 1 THEN ' UNIQUE' ELSE '' END + CASE WHEN i.is_primary_key = 1 THEN ' PRIMARY KEY' ELSE '' END AS sub FROM sys.indexes i JOIN sys.tables tb ON tb.object_id = i.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'dbo' AND tb.name = N'T' AND i.type > 0 ORDER BY i.index_id"},
    {"statistics", "stat", "stat", "label", "sub", "SELECT st.name AS label, CASE WHEN st.user_created = 1 THEN 'user' ELSE 'system' END AS sub FROM sys.stats st JOIN sys.tables tb ON tb.object_id = st.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'dbo' AND tb.name = N'T' ORDER BY st.name"},
    {"views", "view", "view", "label", "sub", "SELECT s.name + '.' + v.name AS label, NULL AS sub FROM sys.views v JOIN sys.schemas s ON s.schema_id = v.schema_id WHERE v.is_ms_shipped = 0 ORDER BY s.name, v.name"},
    {"stored_procedures", "proc", "proc", "label", "sub", "SELECT s.name + '.' + p.name AS label, p.type_desc AS sub FROM sys.procedures p JOIN sys.schemas s ON s.schema_id = p.schema_id WHERE p.is_ms_shipped = 0 ORDER BY s.name, p.name"},
    {"functions", "func", "func", "label", "sub", "SELECT s.name + '.' + f.name AS label, CASE f.type WHEN 'FN' THEN 'scalar' WHEN 'IF' THEN 'inline table-valued' WHEN 'TF' THEN 'table-valued' ELSE f.type_desc END AS sub FROM sys.objects f JOIN sys.schemas s ON s.schema_id = f.schema_id WHERE f.type IN ('FN','IF','TF','FS','AF') AND f.is_ms_shipped = 0 ORDER BY s.name, f.name"},
    {"function_params", "param", "param", "label", "sub", "SELECT p.name AS label, ty.name AS sub FROM sys.parameters p JOIN sys.objects o ON o.object_id = p.object_id JOIN sys.schemas s ON s.schema_id = o.schema_id JOIN sys.types ty ON ty.user_type_id = p.user_type_id WHERE s.name = N'dbo' AND o.name = N'T' ORDER BY p.parameter_id"},
    {"db_users", "user", "user", "label", "sub", "SELECT dp.name AS label, dp.type_desc AS sub FROM sys.database_principals dp WHERE dp.type IN ('S','U','G') ORDER BY dp.name"},
    {"db_roles", "role", "role", "label", "sub", "SELECT dp.name AS label, CASE WHEN dp.is_fixed_role = 1 THEN 'fixed' ELSE 'application' END AS sub FROM sys.database_principals dp WHERE dp.type = 'R' ORDER BY dp.name"},
    {"db_schemas", "schema", "schema", "label", "sub", "SELECT s.name AS label, USER_NAME(s.principal_id) AS sub FROM sys.schemas s ORDER BY s.name"},
    {"logins", "login", "login", "label", "sub", "SELECT sp.name AS label, sp.type_desc AS sub FROM sys.server_principals sp WHERE sp.type IN ('S','U','G') ORDER BY sp.name"},
    {"server_roles", "srvrole", "srvrole", "label", "sub", "SELECT sp.name AS label, CASE WHEN sp.is_fixed_role = 1 THEN 'fixed' ELSE 'user-defined' END AS sub FROM sys.server_principals sp WHERE sp.type = 'R' ORDER BY sp.name"},
    {"jobs", "job", "job", "label", "sub", "SELECT j.name AS label, CASE j.enabled WHEN 1 THEN 'enabled' ELSE 'disabled' END AS sub FROM msdb.dbo.sysjobs j ORDER BY j.name"},
};

TEST_F(Tree, EachKindSendsItsQueryAndTurnsItsRowsIntoNodes) {
  for (const KindCase &k : kKinds) {
    SCOPED_TRACE(k.kind);
    tds::ResultSet rs = label_sub({}, k.label, k.sub);
    rs.columns.insert(rs.columns.begin(), {"keymark", tds::Type::VarChar, 2});  // never read
    rs.rows = {{"PK", "a", "x"}, {"", "b", "y"}};
    server.on(k.sql, {rs});
    server.clear_records();
    Reply r = tree(k.kind, "dbo", "T");
    EXPECT_EQ(keys_of(r.doc), "nodes,ok,error");
    EXPECT_EQ(json(r.doc["nodes"]), "[" + node(std::string(k.prefix) + "/0", k.child, "a", "x") +
                                        "," + node(std::string(k.prefix) + "/1", k.child, "b", "y") + "]");
    EXPECT_TRUE(r["ok"].GetBool());
    EXPECT_TRUE(r["error"].IsNull());
    EXPECT_EQ(sent(), (std::vector<std::string>{kSetUp[0], kSetUp[1], k.sql}));
  }
}

TEST_F(Tree, ServerNodeShowsTheVersionCutOnACharacterBoundary) {
  server.add_database("sales");
  // 118 bytes, then a 3-byte character that would end at byte 121.
  std::string head = "Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64)\n\tOct  8 2022\n\t";
  head += std::string(118 - head.size(), 'x');
  struct Case {
    std::string version, database_arg, doc_extra, expected_version, expected_use;
  } cases[] = {
      {head + "\xE2\x82\xAC tail", "", "", head, "use [master]"},
      {"", "sales", "\"database\":\"other\"", "?", "use [sales]"},
  };
  for (const Case &c : cases) {
    server.clear_handlers();
    tds::ResultSet v = label_sub({{c.version}}, "v");
    v.columns.resize(1);
    server.on("SELECT @@version", {v});
    server.clear_records();
    Reply r = tree("server", nullptr, nullptr, c.database_arg.c_str(), c.doc_extra);
    ASSERT_TRUE(r["ok"].GetBool()) << r.text;
    std::string label = "127.0.0.1:" + std::to_string(server.port()) + " (SQL Server " +
                        c.expected_version + " - sa)";
    EXPECT_EQ(json(r["nodes"]), "[" + node("server", "server", label, nullptr) + "]");
    EXPECT_EQ(sent(), (std::vector<std::string>{kSetUp[0], c.expected_use, "SELECT @@version"}));
  }
}

TEST_F(Tree, RefusalsComeAsTheEnvelopeWithoutAnyCatalogQuery) {
  const std::string long_name(129, 'n');
  // 65 characters outside the BMP: 130 UTF-16 code units, past sysname.
  std::string long_astral;
  for (int i = 0; i < 65; ++i) long_astral += "\xF0\x9F\x98\x80";
  struct Case {
    const char *kind, *schema, *obj, *error;
  } cases[] = {
      {"columns", "dbo", "", "obj (table name) required"},
      {"columns", "dbo", nullptr, "obj (table name) required"},
      {"Tables", nullptr, nullptr, "unknown node_kind: Tables"},
      {"nope", nullptr, nullptr, "unknown node_kind: nope"},
      {"keys", "d\x01", "T", "invalid identifier characters in schema/obj"},
      {"keys", "dbo", long_name.c_str(), "invalid identifier characters in schema/obj"},
      {"keys", long_astral.c_str(), "T", "invalid identifier characters in schema/obj"},
      {"keys", "dbo", "T\xC3", "invalid identifier characters in schema/obj"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.error);
    server.clear_records();
    Reply r = tree(c.kind, c.schema, c.obj);
    EXPECT_EQ(json(r.doc), std::string("{\"ok\":false,\"error\":\"") + c.error + "\"}");
    EXPECT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(sent(), kSetUp);
    EXPECT_TRUE(server.wait_for_open_connections(0, std::chrono::seconds(5)));
  }
}

TEST_F(Tree, NamesReachTheServerAsUnicodeLiterals) {
  std::string cjk_128;
  for (int i = 0; i < 127; ++i) cjk_128 += "\xE8\xA1\xA8";  // 表
  cjk_128 += "'";
  struct Case {
    std::string schema, obj, literals;
  } cases[] = {
      {"o'b", "it's", "N'o''b' AND tb.name = N'it''s'"},
      {"dbo", "\xD0\xA2\xD0\xB0\xD0\xB1", "N'dbo' AND tb.name = N'\xD0\xA2\xD0\xB0\xD0\xB1'"},
      {"dbo", cjk_128, "N'dbo' AND tb.name = N'" + cjk_128 + "''"},
      {"tab\there", "", "N'tab\there' AND tb.name = N''"},
  };
  server.on_regex("^SELECT k.name", {label_sub({})});
  for (const Case &c : cases) {
    server.clear_records();
    Reply r = tree("keys", c.schema.c_str(), c.obj.c_str());
    EXPECT_EQ(json(r.doc), "{\"nodes\":[],\"ok\":true,\"error\":null}");
    ASSERT_EQ(sent().size(), 3u);
    EXPECT_NE(sent()[2].find("WHERE s.name = " + c.literals + " ORDER BY k.name"), std::string::npos)
        << sent()[2];
  }
}

TEST_F(Tree, RowsBecomeNodesWithNullsAndLongLabelsHandled) {
  std::string long_label = "ab";
  for (int i = 0; i < 600; ++i) long_label += "\xC3\xA9";  // é: byte 1023 falls inside one
  server.on_regex("^SELECT s.name \\+ '.' \\+ t.name", {label_sub({{std::nullopt, "x"}, {"a", std::nullopt}, {"b", ""}, {long_label, "s"}})});
  server.on_regex("^SELECT s.name \\+ '.' \\+ v.name", {label_sub({{"v", "o"}}, "label", "other")});
  Reply r = tree("tables");
  ASSERT_TRUE(r["ok"].GetBool()) << r.text;
  EXPECT_EQ(json(r["nodes"][0]), node("table/0", "table", "", "x"));
  EXPECT_EQ(json(r["nodes"][1]), node("table/1", "table", "a", nullptr));
  EXPECT_EQ(json(r["nodes"][2]), node("table/2", "table", "b", nullptr));
  EXPECT_EQ(r["nodes"][3]["label"].GetString(), long_label.substr(0, 1022));
  EXPECT_EQ(json(take(dbdesk_core_tree(conn().c_str(), "views", "", "", ""))["nodes"]),
            "[" + node("view/0", "view", "v", nullptr) + "]");
}

TEST_F(Tree, AFailedCatalogReadIsAReplyWithOkFalse) {
  tds::ResultSet partial = label_sub({{"job1", "enabled"}});
  partial.final_done = false;
  struct Case {
    tds::Reply reply;
    std::string error;
  } cases[] = {
      {{tds::BatchAbort{tds::error(229, "The SELECT permission was denied on the object 'sysjobs'.", 14, 5)}},
       "The SELECT permission was denied on the object 'sysjobs'. (msg 229, severity 14, state 5, line 1)"},
      {{partial, tds::BatchAbort{tds::error(245, "Conversion failed.", 16, 1)}},
       "Conversion failed. (msg 245, severity 16, state 1, line 1)"},
      {{label_sub({{"job1", "enabled"}}, "name")}, "query missing label column"},
      {{tds::DoneNoCount{}}, "query failed"},
      {{partial, tds::Drop{}}, "Unexpected EOF from the server (dberr=20017, oserr=0: Success)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.error);
    server.clear_handlers();
    server.on_regex("sysjobs", c.reply);
    Reply r = tree("jobs");
    EXPECT_EQ(keys_of(r.doc), "nodes,ok,error");
    EXPECT_EQ(json(r["nodes"]), "[]");
    EXPECT_FALSE(r["ok"].GetBool());
    EXPECT_EQ(r["error"].GetString(), c.error);
  }
}

}  // namespace
