// The exported surface and the call frame every operation shares.
#include <dlfcn.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "support.h"

namespace {

const std::set<std::string> kExported = {
    "dbdesk_core_version",      "dbdesk_core_last_error",     "dbdesk_core_free",
    "dbdesk_core_connect_test", "dbdesk_core_tree",           "dbdesk_core_query",
    "dbdesk_core_kill_spid",    "dbdesk_core_script_object",  "dbdesk_core_editgrid_load",
    "dbdesk_core_editgrid_apply", "dbdesk_core_activity",     "dbdesk_core_storage",
    "dbdesk_core_admin",        "dbdesk_core_cancel",         "dbdesk_core_query_stream"};

std::string envelope_error(char *p) {
  Reply r = take(p);
  EXPECT_EQ(keys_of(r.doc), "ok,error") << r.text;
  EXPECT_FALSE(r["ok"].GetBool());
  return r["error"].GetString();
}

TEST(ExportedSurface, ExactlyTheHeadersFunctionsAreExportedUnderTheirVersions) {
  void *lib = dlopen(QV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const auto &name : kExported) EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
  EXPECT_EQ(dlsym(lib, "qv_seterr"), nullptr);
  dlclose(lib);

  std::string cmd = std::string("nm -D --defined-only ") + QV_LIBRARY_PATH;
  FILE *nm = popen(cmd.c_str(), "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> defined;
  std::set<std::string> versions;
  char line[512];
  while (std::fgets(line, sizeof line, nm)) {
    char addr[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", addr, type, name) != 3) continue;
    if (std::string(type) == "A") continue;  // the version node
    std::string n = name;
    defined.insert(n.substr(0, n.find('@')));
    versions.insert(n.substr(n.rfind('@') + 1));
    // The first thirteen keep their node; later additions get their own.
    const std::string base = n.substr(0, n.find('@'));
    const char *node = base == "dbdesk_core_cancel"         ? "QUORVEX_DBDESK_CORE_1.1"
                       : base == "dbdesk_core_query_stream" ? "QUORVEX_DBDESK_CORE_1.2"
                                                            : "QUORVEX_DBDESK_CORE_1";
    EXPECT_EQ(n.substr(n.rfind('@') + 1), node) << n;
  }
  pclose(nm);
  EXPECT_EQ(defined, kExported);
}

TEST(CallFrame, VersionIsOneStaticText) {
  const char *a = dbdesk_core_version();
  EXPECT_STREQ(a, "1.2.0");
  EXPECT_EQ(a, dbdesk_core_version());
  dbdesk_core_free(nullptr);
}

TEST(CallFrame, RequiredArgumentsAreCheckedInOrder) {
  EXPECT_EQ(envelope_error(dbdesk_core_tree(nullptr, nullptr, nullptr, nullptr, nullptr)),
            "missing required parameter: conn_json");
  EXPECT_EQ(envelope_error(dbdesk_core_tree("{}", "", nullptr, nullptr, nullptr)),
            "missing required parameter: node_kind");
  EXPECT_EQ(envelope_error(dbdesk_core_query("{}", nullptr, "", 0, 0)),
            "missing required parameter: sql");
  EXPECT_EQ(envelope_error(dbdesk_core_kill_spid("", 5)), "missing required parameter: conn_json");
  EXPECT_EQ(envelope_error(dbdesk_core_script_object("{}", nullptr, "table", nullptr, "", nullptr)),
            "missing required parameter: obj");
  EXPECT_EQ(envelope_error(dbdesk_core_script_object("{}", nullptr, "t", nullptr, "o", nullptr)),
            "missing required parameter: action");
  EXPECT_EQ(envelope_error(dbdesk_core_editgrid_load("{}", nullptr, nullptr, nullptr, 0)),
            "missing required parameter: table");
  EXPECT_EQ(envelope_error(dbdesk_core_editgrid_apply("{}", nullptr, nullptr, "", nullptr, 0)),
            "missing required parameter: table");
  EXPECT_EQ(envelope_error(dbdesk_core_editgrid_apply("{}", nullptr, nullptr, "t", "", 0)),
            "missing required parameter: ops_json");
  EXPECT_EQ(envelope_error(dbdesk_core_activity("{}", nullptr)),
            "missing required parameter: view");
  EXPECT_EQ(envelope_error(dbdesk_core_storage("{}", nullptr, "", nullptr)),
            "missing required parameter: action");
  EXPECT_EQ(envelope_error(dbdesk_core_admin("{}", nullptr, nullptr, nullptr)),
            "missing required parameter: kind");
  EXPECT_STREQ(dbdesk_core_last_error(), "missing required parameter: kind");
  EXPECT_EQ(envelope_error(dbdesk_core_cancel(nullptr)), "missing required parameter: tag");
  EXPECT_EQ(envelope_error(dbdesk_core_cancel("")), "missing required parameter: tag");
}

TEST(CallFrame, ConnectTestNeedsHostAndUser) {
  EXPECT_EQ(envelope_error(dbdesk_core_connect_test("h", 1, nullptr, nullptr, nullptr, 0, 1)),
            "host and user are required");
  EXPECT_EQ(envelope_error(dbdesk_core_connect_test(nullptr, 1, "u", nullptr, nullptr, 0, 1)),
            "host and user are required");
  EXPECT_EQ(envelope_error(dbdesk_core_connect_test("", 1, "u", nullptr, nullptr, 0, 1)),
            "host and user are required");
}

TEST(CallFrame, BadDocumentIsReportedBeforeAnythingElse) {
  EXPECT_EQ(envelope_error(dbdesk_core_query("[1]", nullptr, "SELECT 1", 0, 0)),
            "conn_json must be a JSON object");
  EXPECT_EQ(envelope_error(dbdesk_core_kill_spid("{\"host\":\"h\"", 0)),
            "conn_json is not valid JSON");
  EXPECT_EQ(envelope_error(dbdesk_core_kill_spid("{\"host\":\"h\",\"user\":\"u\"}", 0)),
            "spid out of range: 0");
}

TEST(CallFrame, LastErrorIsPerThreadAndClearedByTheNextCall) {
  dbdesk_core_free(dbdesk_core_tree(nullptr, nullptr, nullptr, nullptr, nullptr));
  std::string other;
  std::thread t([&] {
    other = dbdesk_core_last_error();
    dbdesk_core_free(dbdesk_core_query("{}", nullptr, nullptr, 0, 0));
  });
  t.join();
  EXPECT_EQ(other, "");
  EXPECT_STREQ(dbdesk_core_last_error(), "missing required parameter: conn_json");
  dbdesk_core_free(dbdesk_core_kill_spid("{\"host\":\"h\",\"user\":\"u\"}", 40000));
  EXPECT_STREQ(dbdesk_core_last_error(), "spid out of range: 40000");
}

// Calls that need a listening test server.
class CallFrameOnServer : public ServerTest {
 protected:
  static bool valid_utf8(const std::string &s) {
    rapidjson::StringStream in(s.c_str());
    rapidjson::StringBuffer out;
    while (in.Peek() != '\0')
      if (!rapidjson::UTF8<>::Validate(in, out)) return false;
    return true;
  }
};

TEST_F(CallFrameOnServer, LastErrorIsValidUtf8) {
  Reply r = take(dbdesk_core_connect_test("127.0.0.\xFF", server.port(), "sa", "x", nullptr, 0, 2));
  std::string last = dbdesk_core_last_error();
  EXPECT_TRUE(valid_utf8(last)) << last;
  EXPECT_NE(last.find("127.0.0.\xEF\xBF\xBD"), std::string::npos) << last;
  EXPECT_EQ(r["error"].GetString(), last);
}

// One rule for names and numbers across every operation: an illegal
// database, in the argument or in the connection document, and a port out
// of range are refused before any login, each operation with its own text
// for its own argument.
TEST_F(CallFrameOnServer, OneRuleForDatabasesAndPortsInEveryOperation) {
  using call = std::function<char *(const std::string &conn, const char *database)>;
  const struct {
    const char *name;
    call run;
    const char *own_refusal;
  } ops[] = {
      {"tree", [](auto &c, auto *d) { return dbdesk_core_tree(c.c_str(), "tables", d, nullptr, nullptr); },
       "invalid database name"},
      {"query", [](auto &c, auto *d) { return dbdesk_core_query(c.c_str(), d, "SELECT 1", 0, 0); },
       "invalid database name"},
      {"script", [](auto &c, auto *d) {
         return dbdesk_core_script_object(c.c_str(), d, "table", "dbo", "T", "create"); },
       "invalid database name"},
      {"grid load", [](auto &c, auto *d) { return dbdesk_core_editgrid_load(c.c_str(), d, "dbo", "T", 1); },
       "invalid identifier"},
      {"grid apply", [](auto &c, auto *d) {
         return dbdesk_core_editgrid_apply(c.c_str(), d, "dbo", "T", R"([{"op":"delete","pk":{}}])", 1); },
       "invalid identifier"},
      {"storage", [](auto &c, auto *d) { return dbdesk_core_storage(c.c_str(), d, "files", nullptr); },
       "invalid database"},
      {"admin", [](auto &c, auto *d) { return dbdesk_core_admin(c.c_str(), "db_users", d, nullptr); },
       "invalid database"},
  };
  std::string wide;  // 65 characters, 130 UTF-16 code units
  for (int i = 0; i < 65; ++i) wide += "\xF0\x9F\x98\x80";
  const std::string bad_names[] = {std::string(129, 'd'), wide, "a\tb", "a\x7F", "caf\xC3"};
  for (const auto &op : ops) {
    SCOPED_TRACE(op.name);
    for (const std::string &name : bad_names) {
      EXPECT_EQ(envelope_error(op.run(conn(), name.c_str())), op.own_refusal) << name;
      std::string in_doc = conn(R"("database":")" + std::string(129, 'd') + R"(")");
      EXPECT_EQ(envelope_error(op.run(in_doc, nullptr)),
                "conn_json.database is not a legal database name");
    }
    for (const char *port : {"70000", "4294968729", "\"1433\"", "1433.5"}) {
      std::string doc = R"({"host":"127.0.0.1","user":"sa","port":)" + std::string(port) + "}";
      EXPECT_EQ(envelope_error(op.run(doc, nullptr)), "conn_json.port is out of range") << port;
    }
  }
  EXPECT_EQ(envelope_error(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret",
                                                    "a\tb", 0, 5)),
            "invalid database name");
  EXPECT_EQ(envelope_error(dbdesk_core_connect_test("127.0.0.1", 70000, "sa", "secret",
                                                    nullptr, 0, 5)),
            "port out of range: 70000");
  EXPECT_TRUE(server.logins().empty());
}

}  // namespace
