// Every operation that talks to a server, under every fault the test server
// can inject on its way: the connection dropped while logging in or in the
// middle of the operation's result set, a login or a statement that never
// answers, and bytes that are no valid token. Each call must come back
// within its time-out (plus slack) with a failure that says what happened,
// as valid UTF-8 JSON, and an edit must never be committed after a fault.
#include <atomic>
#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support.h"
#include "demo_script.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tds::Column;
using tds::Type;

// The connection document's time-out: login and statement stalls end here.
constexpr int kTimeoutS = 1;
// How much longer than its time-out a call may take to give up.
constexpr auto kSlack = 2s;
// Long enough that a call still waiting when it ends has hung.
constexpr auto kStall = 30s;
// Characters of the (max) column added to a cut set: several PLP chunks.
constexpr std::size_t kLongText = 20000;
constexpr char kCommit[] = "COMMIT TRANSACTION";

// What one call answered, and the events of a streamed one.
struct outcome {
  std::string reply;
  std::vector<std::string> events;
};

// The text of a reply, released; empty for NULL (which is no JSON).
std::string owned_text(char *p) {
  std::string text = p ? p : "";
  dbdesk_core_free(p);
  return text;
}

int collect(void *user, const char *event, size_t len) {
  static_cast<outcome *>(user)->events.emplace_back(event, len);
  return 0;
}

// One exported operation, the statement that carries its data (where a
// reply fault is injected) and a call with arguments the demo answers.
struct operation {
  const char *name;
  const char *target;  // regex over the statement text
  std::function<char *(const std::string &conn, std::uint16_t port, outcome &out)> call;
  bool commits = false;  // ends in COMMIT when nothing goes wrong
};

const std::vector<operation> &operations() {
  static const std::vector<operation> ops = {
      {"connect_test", R"(^SELECT @@version$)", [](auto &, std::uint16_t port, auto &) {
         return dbdesk_core_connect_test("127.0.0.1", port, "sa", "secret", nullptr, 0, kTimeoutS); }},
      {"tree", R"(^SELECT c\.name AS label)", [](auto &c, auto, auto &) {
         return dbdesk_core_tree(c.c_str(), "columns", "demo", "dbo", "customers"); }},
      {"query", R"(^SELECT 1 AS n$)", [](auto &c, auto, auto &) {
         return dbdesk_core_query(c.c_str(), nullptr, "SELECT 1 AS n", 0, 0); }},
      {"kill_spid", R"(^KILL 77$)", [](auto &c, auto, auto &) { return dbdesk_core_kill_spid(c.c_str(), 77); }},
      {"script_object", R"(^SELECT m\.definition)", [](auto &c, auto, auto &) {
         return dbdesk_core_script_object(c.c_str(), "demo", "procedure", "dbo", "add_item", "create"); }},
      {"editgrid_load", R"(^SELECT TOP \(5\) )", [](auto &c, auto, auto &) {
         return dbdesk_core_editgrid_load(c.c_str(), "demo", "dbo", "products", 5); }},
      {"editgrid_apply", R"(^UPDATE )", [](auto &c, auto, auto &) {
         return dbdesk_core_editgrid_apply(c.c_str(), "demo", "dbo", "products",
                                           R"([{"op":"update","pk":{"id":1},"values":{"name":"W"}}])", 0); },
       true},
      {"activity", R"(^SELECT s\.session_id AS spid)", [](auto &c, auto, auto &) {
         return dbdesk_core_activity(c.c_str(), "sessions"); }},
      {"storage", R"(^SELECT f\.name AS logical_name)", [](auto &c, auto, auto &) {
         return dbdesk_core_storage(c.c_str(), "demo", "files", nullptr); }},
      {"admin", R"(^SELECT j\.job_id)", [](auto &c, auto, auto &) {
         return dbdesk_core_admin(c.c_str(), "jobs", nullptr, nullptr); }},
      {"query_stream", R"(^SELECT 1 AS n$)", [](auto &c, auto, auto &o) {
         return dbdesk_core_query_stream(c.c_str(), nullptr, "SELECT 1 AS n", 0, kTimeoutS, collect, &o); }},
  };
  return ops;
}

// The answers every operation above needs: the demo's, and the edit's
// transaction, the KILL and the job list it lacks.
void register_answers(tds::Server &s) {
  s.on("BEGIN TRANSACTION", {tds::DoneNoCount{}});
  s.on(kCommit, {tds::DoneNoCount{}});
  s.on("ROLLBACK TRANSACTION", {tds::DoneNoCount{}});
  s.on_regex("^UPDATE ", {tds::RowCount{1}});
  s.on("KILL 77", {tds::DoneNoCount{}});
  s.on_regex(R"(^SELECT j\.job_id)",
             {result_set({{"job_id", Type::UniqueIdentifier}, {"name", Type::NVarChar, 128},
                          {"enabled", Type::TinyInt}, {"description", Type::NVarChar, 512},
                          {"date_created", Type::DateTime}, {"current_execution_status", Type::Int}},
                         {{"6F9619FF-8B86-D011-B42D-00C04FC964FF", "nightly", "1", "backup",
                           "2024-02-29 13:45:30.997", "4"}})});
  tds::demo::register_demo(s);
}

// The operation's own result set with a (max) column of several PLP chunks
// added, or a stand-in for a statement answered without rows.
tds::ResultSet set_to_cut(const tds::Reply &normal) {
  tds::ResultSet rs = result_set({{"id", Type::Int}}, {{"1"}, {"2"}});
  for (const tds::Item &item : normal) {
    const auto *found = std::get_if<tds::ResultSet>(&item);
    if (found && !found->rows.empty()) {
      rs = *found;
      break;
    }
  }
  rs.columns.push_back(Column{"note", Type::NVarChar, 0});
  for (tds::Row &row : rs.rows) row.push_back(std::string(kLongText, 'x'));
  return rs;
}

// Where in a set's encoding a cut falls.
using cut_point = std::function<std::size_t(const tds::ResultSetLayout &)>;

std::size_t last_row_start(const tds::ResultSetLayout &l) {
  return l.row_ends.size() > 1 ? l.row_ends[l.row_ends.size() - 2] : l.colmetadata_end;
}

tds::Reply cut_reply(const tds::Reply &normal, const cut_point &where) {
  tds::ResultSet rs = set_to_cut(normal);
  rs.cut_after = where(tds::layout_of(rs, false));
  return {rs};
}

// One fault: set on the server before the call (and cleared after it), or
// put in place of the reply to the operation's data-bearing statement.
struct fault {
  const char *name;
  const char *says;  // what the failure's text must name
  std::function<void(tds::Server &, bool on)> arm;
  std::function<tds::Reply(const tds::Reply &normal)> reply;
};

std::function<void(tds::Server &, bool)> connection_fault(tds::ConnectionFault f) {
  return [f](tds::Server &s, bool on) { s.set_connection_fault(on ? f : tds::ConnectionFault::None); };
}

std::function<tds::Reply(const tds::Reply &)> cut_at(cut_point where) {
  return [where](const tds::Reply &normal) { return cut_reply(normal, where); };
}

std::function<tds::Reply(const tds::Reply &)> instead(tds::Reply reply) {
  return [reply](const tds::Reply &) { return reply; };
}

// db-lib's words for the three ways a session dies.
constexpr char kEof[] = "Unexpected EOF from the server";
constexpr char kTimedOut[] = "connection timed out";
constexpr char kBadToken[] = "Bad token from the server";

const std::vector<fault> &faults() {
  // An INFO token announcing 1024 bytes, cut off by the connection's end.
  const tds::Raw truncated{{0xAB, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x05}};
  static const std::vector<fault> all = {
      {"drop during PRELOGIN", kEof, connection_fault(tds::ConnectionFault::DropAtPrelogin), nullptr},
      {"drop during login", kEof, connection_fault(tds::ConnectionFault::DropAtLogin), nullptr},
      {"drop after COLMETADATA", kEof, nullptr,
       cut_at([](const tds::ResultSetLayout &l) { return l.colmetadata_end; })},
      {"drop mid-row", kEof, nullptr, cut_at([](const tds::ResultSetLayout &l) { return last_row_start(l) + 3; })},
      {"drop mid-PLP chunk", kEof, nullptr,
       cut_at([](const tds::ResultSetLayout &l) { return l.plp_chunk_starts.back() + 100; })},
      {"login stall", kTimedOut,
       [](tds::Server &s, bool on) {
         s.set_login_delay(on ? std::chrono::milliseconds(kStall) : std::chrono::milliseconds(0));
       },
       nullptr},
      {"statement stall", kTimedOut, nullptr, instead({tds::Delay{kStall}})},
      {"garbage token", kBadToken, nullptr, instead({tds::Raw{{0x5A, 0x13, 0x37, 0xC0, 0xDE}}})},
      {"truncated token", kEof, nullptr, instead({truncated, tds::Drop{}})},
  };
  return all;
}

class Faults : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    register_answers(normal);
  }
  void TearDown() override {
    ServerTest::TearDown();
    server.stop();  // its handlers use normal and active_, which go first
  }

  // Answers op's data-bearing statement with the active fault's reply, and
  // everything else as normal does.
  void register_fault_handler(const operation &op) {
    auto target = std::make_shared<std::regex>(op.target);
    server.on_match(
        [target](const std::string &sql) { return std::regex_search(sql, *target); },
        [this](const std::string &sql) {
          const tds::Reply normal_reply = normal.scripted_reply(sql).value_or(tds::Reply{});
          const fault *f = active_.load();
          return f && f->reply ? f->reply(normal_reply) : normal_reply;
        });
    register_answers(server);
  }

  outcome run(const operation &op, const fault *f) {
    active_ = f;
    if (f && f->arm) f->arm(server, true);
    outcome out;
    out.reply =
        owned_text(op.call(conn(R"("timeout_s":)" + std::to_string(kTimeoutS)), server.port(), out));
    if (f && f->arm) f->arm(server, false);
    active_ = nullptr;
    return out;
  }

  tds::Server normal;  // never started: only asked what it would answer
  std::atomic<const fault *> active_{nullptr};  // read on the server's threads
};

// The reply's error text when it reports a failure; nullptr otherwise.
const char *failure_text(const rapidjson::Document &d) {
  if (!d.IsObject() || !d.HasMember("ok") || !d["ok"].IsBool() || d["ok"].GetBool()) return nullptr;
  if (!d.HasMember("error") || !d["error"].IsString()) return nullptr;
  return d["error"].GetString();
}

std::size_t commits(const tds::Server &s) {
  std::size_t n = 0;
  for (const tds::BatchRecord &b : s.batches()) n += b.sql == kCommit ? 1 : 0;
  return n;
}

TEST_F(Faults, EveryOperationFailsCleanlyUnderEveryFault) {
  for (const operation &op : operations()) {
    server.clear_handlers();
    register_fault_handler(op);
    {
      SCOPED_TRACE(op.name);
      server.clear_records();
      rapidjson::Document d;
      const outcome out = run(op, nullptr);
      ASSERT_TRUE(valid_json(out.reply, &d)) << out.reply;
      ASSERT_TRUE(d["ok"].GetBool()) << "without a fault: " << out.reply;
      EXPECT_EQ(commits(server), op.commits ? 1u : 0u);
    }
    for (const fault &f : faults()) {
      SCOPED_TRACE(std::string(op.name) + " / " + f.name);
      server.clear_records();
      const auto start = Clock::now();
      const outcome out = run(op, &f);
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(kTimeoutS) + kSlack);
      rapidjson::Document d;
      ASSERT_TRUE(valid_json(out.reply, &d)) << out.reply;
      const char *error = failure_text(d);
      ASSERT_NE(error, nullptr) << out.reply;
      EXPECT_STRNE(error, "") << out.reply;
      EXPECT_STRNE(error, "unknown error") << out.reply;
      EXPECT_NE(std::string(error).find(f.says), std::string::npos) << out.reply;
      EXPECT_TRUE(valid_utf8(dbdesk_core_last_error()));
      for (const std::string &e : out.events) EXPECT_TRUE(valid_json(e)) << e;
      if (!out.events.empty()) {
        rapidjson::Document last;
        valid_json(out.events.back(), &last);
        EXPECT_EQ(json(last["event"]), R"("batch_end")") << out.events.back();
        EXPECT_FALSE(last["ok"].GetBool()) << out.events.back();
      }
      // Every COMMIT the server receives it answers as done.
      EXPECT_EQ(commits(server), 0u);
      EXPECT_TRUE(server.wait_for_open_connections(0, 5s)) << "a session was left open";
    }
  }
}

}  // namespace
