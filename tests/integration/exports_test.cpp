// The exported surface and the call frame every operation shares.
#include <dlfcn.h>

#include <cstdio>
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
    "dbdesk_core_admin",        "dbdesk_core_cancel"};

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
    EXPECT_EQ(n.substr(n.rfind('@') + 1), n.rfind("dbdesk_core_cancel", 0) == 0
                                              ? "QUORVEX_DBDESK_CORE_1.1"
                                              : "QUORVEX_DBDESK_CORE_1")
        << n;
  }
  pclose(nm);
  EXPECT_EQ(defined, kExported);
}

TEST(CallFrame, VersionIsOneStaticText) {
  const char *a = dbdesk_core_version();
  EXPECT_STREQ(a, "1.1.0");
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

}  // namespace
