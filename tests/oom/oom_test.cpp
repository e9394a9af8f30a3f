// Every reply and event path under allocation failure: for each operation,
// a counting run finds how many allocations one call makes on the calling
// thread, then the call is repeated once for each of them with that one
// failing. Every run must answer a JSON text (the error envelope or a
// normal reply), hand the callback only JSON events, and leave no block of
// its own allocated.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "demo_script.h"
#include "fail_alloc.h"
#include "quorvex/dbdesk_core.h"
#include "tds_server/server.h"

namespace {

using tds::Type;

// What the callback of a streamed query saw.
struct event_log {
  int events = 0;
  std::vector<std::string> invalid;

  static int receive(void *user, const char *json, std::size_t len) {
    oom::pause untracked;
    auto *self = static_cast<event_log *>(user);
    ++self->events;
    rapidjson::Document d;
    d.Parse(json, len);
    if (std::strlen(json) != len || d.HasParseError() || !d.IsObject() || !d.HasMember("event"))
      self->invalid.emplace_back(json, len);
    return 0;
  }
};

// One operation call; conn is the test server's connection document.
struct op_case {
  const char *name;
  std::function<char *(const std::string &conn, int port, event_log &events)> call;
};
// gtest shows a case by its operation's name.
void PrintTo(const op_case &c, std::ostream *os) { *os << c.name; }

std::string big_text() {
  std::string s;
  for (int i = 0; i < 3000; ++i) s += "chunk-" + std::to_string(i) + ";";
  return s;  // about 30 KB: several packets and several PLP chunks
}

// The script the query sweeps run: three batches with result sets, rows, a
// varchar(max) cell, messages, a row count and a failing statement.
constexpr char kScript[] =
    "SELECT id, label, body FROM oom.rows\n"
    "GO\n"
    "SELECT 1 AS n\n"
    "GO\n"
    "UPDATE oom.rows SET id = id\n"
    "GO\n"
    "SELECT missing\n";

void register_script(tds::Server &server) {
  tds::ResultSet rows;
  rows.columns = {{"id", Type::Int}, {"label", Type::NVarChar, 40}, {"body", Type::VarChar, 0}};
  rows.rows = {{"1", "first", big_text()}, {"2", "zweite \xC3\xA9", "short"}, {"3", std::nullopt, std::nullopt}};
  tds::ResultSet counts;
  counts.columns = {{"n", Type::Int}};
  counts.rows = {{"7"}};
  server.on("SELECT id, label, body FROM oom.rows",
            {rows, tds::info(5701, "Changed database context to 'oom'."), tds::print("rows read"), counts});
  server.on("UPDATE oom.rows SET id = id",
            {tds::RowCount{3}, tds::print("updated"), tds::info(50000, "a warning", 10)});
  server.on("SELECT missing",
            {tds::StatementError{tds::error(207, "Invalid column name 'missing'.")}});
}

const std::vector<op_case> &cases() {
  static const std::vector<op_case> all = {
      {"query",
       [](const std::string &c, int, event_log &) {
         return dbdesk_core_query(c.c_str(), nullptr, kScript, 0, 0);
       }},
      {"query_stream",
       [](const std::string &c, int, event_log &events) {
         return dbdesk_core_query_stream(c.c_str(), nullptr, kScript, 0, 0, event_log::receive, &events);
       }},
      {"connect_test",
       [](const std::string &, int port, event_log &) {
         return dbdesk_core_connect_test("127.0.0.1", port, "sa", "secret", nullptr, 0, 5);
       }},
      {"tree", [](const std::string &c, int, event_log &) {
         return dbdesk_core_tree(c.c_str(), "columns", "demo", "dbo", "orders");
       }},
      {"script_object", [](const std::string &c, int, event_log &) {
         return dbdesk_core_script_object(c.c_str(), "demo", "table", "dbo", "items", "create");
       }},
      {"editgrid_load", [](const std::string &c, int, event_log &) {
         return dbdesk_core_editgrid_load(c.c_str(), "demo", "dbo", "products", 10);
       }},
      {"editgrid_apply", [](const std::string &c, int, event_log &) {
         return dbdesk_core_editgrid_apply(c.c_str(), "demo", "dbo", "products",
                                           "[{\"op\":\"delete\",\"pk\":{\"id\":3}}]", 1);
       }},
      {"activity", [](const std::string &c, int, event_log &) {
         return dbdesk_core_activity(c.c_str(), "sessions");
       }},
      {"storage", [](const std::string &c, int, event_log &) {
         return dbdesk_core_storage(c.c_str(), "demo", "files", nullptr);
       }},
      {"admin", [](const std::string &c, int, event_log &) {
         return dbdesk_core_admin(c.c_str(), "logins", nullptr, nullptr);
       }},
      {"kill_spid", [](const std::string &c, int, event_log &) {
         return dbdesk_core_kill_spid(c.c_str(), 77);
       }},
      {"cancel", [](const std::string &, int, event_log &) {
         return dbdesk_core_cancel("no-such-tab");
       }},
  };
  return all;
}

// How one run's reply looked.
enum class answer { envelope, failed_reply, ok_reply, invalid };

answer classify(const char *text) {
  if (!text) return answer::invalid;
  rapidjson::Document d;
  d.Parse(text);
  if (d.HasParseError() || !d.IsObject() || !d.HasMember("ok") || !d["ok"].IsBool())
    return answer::invalid;
  if (d["ok"].GetBool()) return answer::ok_reply;
  if (!d.HasMember("error") || !d["error"].IsString()) return answer::invalid;
  return d.MemberCount() == 2 ? answer::envelope : answer::failed_reply;
}

std::string live_blocks(const oom::outcome &out) {
  std::string s;
  for (const auto &b : out.live) s += "\n  " + std::to_string(b.size) + " bytes from " + b.caller;
  return s;
}

class OutOfMemory : public ::testing::TestWithParam<op_case> {
 protected:
  void SetUp() override {
    tds::demo::register_demo(server);
    register_script(server);
    server.start();
    conn = "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(server.port()) +
           ",\"user\":\"sa\",\"password\":\"secret\"}";
  }
  void TearDown() override {
    EXPECT_TRUE(server.wait_for_open_connections(0, std::chrono::seconds(5)))
        << "a session was left open";
  }

  // One call, armed as how says; the reply is checked and released while
  // still armed, so that its block counts as freed.
  oom::outcome run(const oom::arming &how, answer *kind, event_log *events) {
    oom::arm(how);
    char *reply = GetParam().call(conn, server.port(), *events);
    {
      oom::pause untracked;
      *kind = classify(reply);
      if (*kind == answer::invalid) last_invalid = reply ? reply : "(null)";
      dbdesk_core_free(reply);
    }
    return oom::disarm();
  }

  tds::Server server;
  std::string conn;
  std::string last_invalid;
};

TEST_P(OutOfMemory, EveryAllocationOfTheCallMayFail) {
  answer kind;
  // Warm-up: db-lib's process-wide set-up and the C library's one-time
  // caches (character set converters, resolver) come from the first calls.
  for (int i = 0; i < 2; ++i) {
    event_log events;
    dbdesk_core_free(GetParam().call(conn, server.port(), events));
  }
  event_log dry_events;
  oom::outcome dry = run({}, &kind, &dry_events);
  ASSERT_NE(kind, answer::invalid) << last_invalid;
  ASSERT_LE(dry.net(), 0) << "blocks left by a call without failures:" << live_blocks(dry);
  ASSERT_GT(dry.counted, 0u);

  int envelopes = 0, failed_replies = 0, ok_replies = 0, not_reached = 0, events = 0;
  for (std::uint64_t n = 1; n <= dry.counted; ++n) {
    event_log log;
    oom::outcome out = run({n}, &kind, &log);
    events += log.events;
    EXPECT_NE(kind, answer::invalid) << "allocation " << n << ": " << last_invalid;
    EXPECT_TRUE(log.invalid.empty()) << "allocation " << n << ": event " << log.invalid.front();
    EXPECT_LE(out.net(), 0) << "allocation " << n << " failed, blocks left:" << live_blocks(out);
    // The C library's failures may be absorbed (db-lib falls back when a
    // converter or its configuration file cannot be opened); the library's
    // own never: a call that lost part of its work says so.
    EXPECT_FALSE(out.failed_in_library && kind == answer::ok_reply)
        << "allocation " << n << " (" << out.failed_caller << ") failed, yet the reply is ok";
    if (!out.failed) ++not_reached;
    envelopes += kind == answer::envelope;
    failed_replies += kind == answer::failed_reply;
    ok_replies += kind == answer::ok_reply;
    if (HasFailure()) break;  // the first broken run tells the story
  }
  std::printf("[ sweep    ] %s: %llu allocations (%llu by the library) failed one at a time: "
              "%d envelopes, %d failed replies, %d ok replies, %d events; %d runs allocated less\n",
              GetParam().name, static_cast<unsigned long long>(dry.counted),
              static_cast<unsigned long long>(dry.counted_in_library), envelopes,
              failed_replies, ok_replies, events, not_reached);
}

INSTANTIATE_TEST_SUITE_P(Operations, OutOfMemory, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
