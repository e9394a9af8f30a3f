// Every text argument of every operation fed with hostile values: each call
// answers valid UTF-8 JSON (and leaves a valid UTF-8 last error), every
// event of the streamed query is valid UTF-8 JSON, and a
// payload that tries to end its quoting reaches the server only quoted.
#include <functional>
#include <string>
#include <vector>

#include "support.h"
#include "demo_script.h"

namespace {

// A legal name and a legal text that would end a literal or a bracketed
// name and run a statement if pasted unquoted.
const std::string kPayload = "x'];DROP TABLE victim;--";
const std::string kRun = "DROP TABLE victim";

std::string replaced(std::string s, const std::string &from, const std::string &to) {
  for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

// A batch without the payload's two quoted forms (a literal's inside with
// "'" doubled, a bracketed name's inside with "]" doubled) holds no trace of
// it that could run.
bool only_quoted(std::string batch) {
  batch = replaced(batch, replaced(kPayload, "'", "''"), "");
  batch = replaced(batch, replaced(kPayload, "]", "]]"), "");
  return batch.find(kRun) == std::string::npos;
}

class HostileInput : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    tds::demo::register_demo(server);
  }
};

// One operation call with a text argument in place `slot`. sql_slot is the
// argument the caller's own script goes in: it reaches the server as written.
struct operation {
  const char *name;
  int slots;
  std::function<char *(const std::string &conn, const std::vector<const char *> &a)> call;
  int sql_slot = -1;
};

// Events of the streamed query that are not valid UTF-8 JSON.
int g_bad_events = 0;
int check_event(void *, const char *event, std::size_t len) {
  if (std::string(event).size() != len || !valid_json(event)) ++g_bad_events;
  return 0;
}

TEST_F(HostileInput, EveryTextArgumentOfEveryOperation) {
  const std::string json_payload = R"({"job_id":")" + kPayload + R"(","action":"start"})";
  const std::string ops_payload = R"([{"op":"update","pk":{"id":")" + kPayload +
                                  R"("},"values":{"owner":")" + kPayload + R"("}}])";
  const std::string big(1 << 20, 'n');
  const int port = server.port();
  const std::vector<std::string> hostile = {
      kPayload, "", "]", "'", "--", "/*", "a\x01" "b\x1f\x7f", "caf\xC3", "\xED\xB0\x80", big,
      "\xE2\x82\xAC\xF0\x9F\x98\x80"};
  const std::vector<operation> ops = {
      {"tree", 4, [](auto &c, auto &a) { return dbdesk_core_tree(c.c_str(), a[0], a[1], a[2], a[3]); }},
      {"query", 2, [](auto &c, auto &a) { return dbdesk_core_query(c.c_str(), a[0], a[1], 0, 5); }, 1},
      {"stream", 2, [](auto &c, auto &a) {
         return dbdesk_core_query_stream(c.c_str(), a[0], a[1], 0, 5, check_event, nullptr); }, 1},
      {"connect test", 3, [port](auto &, auto &a) {
         return dbdesk_core_connect_test("127.0.0.1", port, a[0], a[1], a[2], 0, 5); }},
      {"cancel", 1, [](auto &, auto &a) { return dbdesk_core_cancel(a[0]); }},
      {"script", 5, [](auto &c, auto &a) {
         return dbdesk_core_script_object(c.c_str(), a[0], a[1], a[2], a[3], a[4]); }},
      {"grid load", 3, [](auto &c, auto &a) {
         return dbdesk_core_editgrid_load(c.c_str(), a[0], a[1], a[2], 5); }},
      {"grid apply", 4, [](auto &c, auto &a) {
         return dbdesk_core_editgrid_apply(c.c_str(), a[0], a[1], a[2], a[3], 1); }},
      {"activity", 1, [](auto &c, auto &a) { return dbdesk_core_activity(c.c_str(), a[0]); }},
      {"storage", 3, [](auto &c, auto &a) { return dbdesk_core_storage(c.c_str(), a[0], a[1], a[2]); }},
      {"admin", 3, [](auto &c, auto &a) { return dbdesk_core_admin(c.c_str(), a[0], a[1], a[2]); }},
  };
  // The arguments each operation is called with, one replaced at a time.
  const std::vector<std::vector<std::string>> base = {
      {"columns", "demo", "dbo", "accounts"}, {"demo", "SELECT 1"}, {"demo", "SELECT 1"},
      {"sa", "secret", "demo"}, {"t"},
      {"demo", "table", "dbo", "accounts", "create"}, {"demo", "dbo", "accounts"},
      {"demo", "dbo", "accounts", ops_payload}, {"sessions"},
      {"demo", "backup", "/b.bak"}, {"job_control", "demo", json_payload}};
  const std::string conn = this->conn(R"("timeout_s":5)");
  for (std::size_t o = 0; o < ops.size(); ++o) {
    for (int slot = 0; slot < ops[o].slots; ++slot) {
      for (const std::string *value : [&] {
             std::vector<const std::string *> v{nullptr};
             for (const auto &h : hostile)
               if (slot != ops[o].sql_slot || h != kPayload) v.push_back(&h);
             return v;
           }()) {
        std::vector<const char *> args;
        for (const auto &b : base[o]) args.push_back(b.c_str());
        args[static_cast<std::size_t>(slot)] = value ? value->c_str() : nullptr;
        char *p = ops[o].call(conn, args);
        ASSERT_NE(p, nullptr) << ops[o].name << " slot " << slot;
        std::string reply = p;
        dbdesk_core_free(p);
        EXPECT_TRUE(valid_json(reply)) << ops[o].name << " slot " << slot << ": " << reply.substr(0, 200);
        EXPECT_TRUE(valid_utf8(dbdesk_core_last_error())) << ops[o].name << " slot " << slot;
      }
    }
  }
  EXPECT_EQ(g_bad_events, 0);
  // The connection document's own texts, the database first.
  for (const char *member : {"database", "app_name", "tag", "password"}) {
    std::string doc = this->conn(std::string("\"") + member + "\":\"" + kPayload + "\"");
    dbdesk_core_free(dbdesk_core_tree(doc.c_str(), "tables", nullptr, nullptr, nullptr));
  }
  ASSERT_TRUE(server.wait_for_open_connections(0, std::chrono::seconds(10)));
  std::size_t carried = 0;
  for (const auto &b : server.batches()) {
    EXPECT_TRUE(only_quoted(b.sql)) << b.sql.substr(0, 300);
    carried += b.sql.find(kRun) != std::string::npos ? 1 : 0;
  }
  EXPECT_GT(carried, 10u) << "the payload reached the server quoted in many statements";
}

}  // namespace
