// The object explorer: one level of the tree per call.
#include "support.h"

namespace {

tds::ResultSet label_sub(std::vector<tds::Row> rows, const char *label = "label",
                         const char *sub = "sub") {
  return result_set({{label, tds::Type::NVarChar, 1000}, {sub, tds::Type::NVarChar, 1000}},
                    std::move(rows));
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
  const char *kind, *child, *prefix, *label, *sub;
};

// A kind's query as the library sends it: table-level kinds are asked for
// dbo.T, whose names fill the placeholders pair by pair.
std::string kind_query(const char *kind) {
  const std::string name = std::string("tree.") + kind;
  std::vector<std::string> names;
  for (int n = qvtest::placeholder_count(statement(name)); n > 0; n -= 2)
    names.insert(names.end(), {"dbo", "T"});
  return statement(name, names);
}

const KindCase kKinds[] = {
    {"databases", "db", "db", "name", "state_desc"},
    {"system_databases", "db", "sysdb", "name", "state_desc"},
    {"tables", "table", "table", "label", "sub"},
    {"system_tables", "table", "systable", "label", "sub"},
    {"columns", "col", "col", "label", "sub"},
    {"keys", "key", "key", "label", "sub"},
    {"constraints", "constraint", "constraint", "label", "sub"},
    {"triggers", "trigger", "trigger", "label", "sub"},
    {"indexes", "idx", "idx", "label", "sub"},
    {"statistics", "stat", "stat", "label", "sub"},
    {"views", "view", "view", "label", "sub"},
    {"stored_procedures", "proc", "proc", "label", "sub"},
    {"functions", "func", "func", "label", "sub"},
    {"function_params", "param", "param", "label", "sub"},
    {"db_users", "user", "user", "label", "sub"},
    {"db_roles", "role", "role", "label", "sub"},
    {"db_schemas", "schema", "schema", "label", "sub"},
    {"logins", "login", "login", "label", "sub"},
    {"server_roles", "srvrole", "srvrole", "label", "sub"},
    {"jobs", "job", "job", "label", "sub"},
};

TEST_F(Tree, EachKindSendsItsQueryAndTurnsItsRowsIntoNodes) {
  for (const KindCase &k : kKinds) {
    SCOPED_TRACE(k.kind);
    tds::ResultSet rs = label_sub({}, k.label, k.sub);
    rs.columns.insert(rs.columns.begin(), {"keymark", tds::Type::VarChar, 2});  // never read
    rs.rows = {{"PK", "a", "x"}, {"", "b", "y"}};
    const std::string sql = kind_query(k.kind);
    server.on(sql, {rs});
    server.clear_records();
    Reply r = tree(k.kind, "dbo", "T");
    EXPECT_EQ(keys_of(r.doc), "nodes,ok,error");
    EXPECT_EQ(json(r.doc["nodes"]), "[" + node(std::string(k.prefix) + "/0", k.child, "a", "x") +
                                        "," + node(std::string(k.prefix) + "/1", k.child, "b", "y") + "]");
    EXPECT_TRUE(r["ok"].GetBool());
    EXPECT_TRUE(r["error"].IsNull());
    EXPECT_EQ(sent(), session_batches("[master]", {sql}));
  }
}

TEST_F(Tree, ServerNodeShowsTheVersionCutOnACharacterBoundary) {
  server.add_database("sales");
  // 118 bytes, then a 3-byte character that would end at byte 121.
  std::string head = "Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64)\n\tOct  8 2022\n\t";
  head += std::string(118 - head.size(), 'x');
  struct Case {
    std::string version, database_arg, doc_extra, expected_version, expected_database;
  } cases[] = {
      {head + "\xE2\x82\xAC tail", "", "", head, "[master]"},
      {"", "sales", "\"database\":\"other\"", "?", "[sales]"},
  };
  for (const Case &c : cases) {
    server.clear_handlers();
    tds::ResultSet v = label_sub({{c.version}}, "v");
    v.columns.resize(1);
    server.on(statement("session.version"), {v});
    server.clear_records();
    Reply r = tree("server", nullptr, nullptr, c.database_arg.c_str(), c.doc_extra);
    ASSERT_TRUE(r["ok"].GetBool()) << r.text;
    std::string label = "127.0.0.1:" + std::to_string(server.port()) + " (SQL Server " +
                        c.expected_version + " - sa)";
    EXPECT_EQ(json(r["nodes"]), "[" + node("server", "server", label, nullptr) + "]");
    EXPECT_EQ(sent(), session_batches(c.expected_database, {statement("session.version")}));
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
      {"keys", "tab\there", "T", "invalid identifier characters in schema/obj"},
      {"keys", "dbo", "T\x7F", "invalid identifier characters in schema/obj"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.error);
    server.clear_records();
    Reply r = tree(c.kind, c.schema, c.obj);
    EXPECT_EQ(json(r.doc), std::string("{\"ok\":false,\"error\":\"") + c.error + "\"}");
    EXPECT_TRUE(server.logins().empty()) << "a refusal costs no login";
  }
}

TEST_F(Tree, NamesReachTheServerAsUnicodeLiterals) {
  std::string cjk_128;
  for (int i = 0; i < 127; ++i) cjk_128 += "\xE8\xA1\xA8";  // 表
  cjk_128 += "'";
  // The insides of the two N'...' literals, quotes doubled.
  struct Case {
    std::string schema, obj, schema_text, obj_text;
  } cases[] = {
      {"o'b", "it's", "o''b", "it''s"},
      {"dbo", "\xD0\xA2\xD0\xB0\xD0\xB1", "dbo", "\xD0\xA2\xD0\xB0\xD0\xB1"},
      {"dbo", cjk_128, "dbo", cjk_128 + "'"},
      {"[x]", "a]b", "[x]", "a]b"},
  };
  for (const Case &c : cases) {
    const std::string sql = statement("tree.keys", {c.schema_text, c.obj_text});
    server.on(sql, {label_sub({})});
    server.clear_records();
    Reply r = tree("keys", c.schema.c_str(), c.obj.c_str());
    EXPECT_EQ(json(r.doc), "{\"nodes\":[],\"ok\":true,\"error\":null}");
    ASSERT_EQ(sent().size(), 3u);
    EXPECT_EQ(sent()[2], sql);
  }
}

TEST_F(Tree, RowsBecomeNodesWithNullsAndLongLabelsHandled) {
  std::string long_label = "ab";
  for (int i = 0; i < 600; ++i) long_label += "\xC3\xA9";  // é: byte 1023 falls inside one
  server.on(statement("tree.tables"),
            {label_sub({{std::nullopt, "x"}, {"a", std::nullopt}, {"b", ""}, {long_label, "s"}})});
  server.on(statement("tree.views"), {label_sub({{"v", "o"}}, "label", "other")});
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
    server.on(statement("tree.jobs"), c.reply);
    Reply r = tree("jobs");
    EXPECT_EQ(keys_of(r.doc), "nodes,ok,error");
    EXPECT_EQ(json(r["nodes"]), "[]");
    EXPECT_FALSE(r["ok"].GetBool());
    EXPECT_EQ(r["error"].GetString(), c.error);
  }
  // The server node's version read is a catalog read too.
  server.on("SELECT @@version", {tds::Drop{}});
  Reply r = tree("server");
  EXPECT_EQ(json(r.doc), "{\"nodes\":[],\"ok\":false,\"error\":\"Unexpected EOF from the server "
                         "(dberr=20017, oserr=0: Success)\"}");
}

}  // namespace
