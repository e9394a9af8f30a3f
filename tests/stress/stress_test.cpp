// Many threads calling every kind of operation at once against one server.
// Each call carries values of its own thread and iteration, so a reply, an
// event or a last-error text that reached the wrong call shows up; a stalled
// query is cancelled by its neighbour thread while the others run on. In the
// ThreadSanitizer build (scripts/run-tsan.sh) this is the race detector's
// workload.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "demo_script.h"
#include "integration/support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 32;
constexpr int kDefaultCallsPerThread = 200;
constexpr int kStallsPerThread = 2;
constexpr std::size_t kFaultsShownPerThread = 3;

// QV_STRESS_CALLS overrides the calls each thread makes (at least 20).
int calls_per_thread() {
  const char *env = std::getenv("QV_STRESS_CALLS");
  int n = env ? std::atoi(env) : kDefaultCallsPerThread;
  return n < 20 ? 20 : n;
}

std::string str(int n) { return std::to_string(n); }

// What one call of thread t, iteration i is told and must answer.
struct Mark {
  int t, i;
  std::string slash() const { return str(t) + "/" + str(i); }
  std::string select_sql() const {
    return "SELECT " + str(t) + " AS t, " + str(i) + " AS i; PRINT 'row " + slash() + "'";
  }
  std::string script() const {
    return select_sql() + "\nGO\nRAISERROR('failure " + slash() + "', 16, 1)";
  }
  std::string row() const { return "[[" + str(t) + "," + str(i) + "]]"; }
  std::string failure() const {
    return "failure " + slash() + " (msg 50000, severity 16, state 1, line 1)";
  }
};

const std::regex kSelectRe(R"(^SELECT (\d+) AS t, (\d+) AS i; PRINT '(row \d+/\d+)'$)");
const std::regex kRaiseRe(R"(^RAISERROR\('(failure \d+/\d+)', 16, 1\)$)");
const std::regex kKillRe(R"(^KILL (\d+)$)");
const std::regex kStallRe(R"(^WAITFOR DELAY '00:01:00' -- stall \d+/\d+$)");

bool matches(const std::regex &re, const std::string &sql) { return std::regex_match(sql, re); }
std::string group(const std::regex &re, const std::string &sql, int n) {
  std::smatch m;
  std::regex_match(sql, m, re);
  return m[n].str();
}

// Echoing answers: the statement's own numbers come back, so cross-talk
// between calls cannot pass for a right answer.
void register_echoes(tds::Server &server) {
  server.on_match([](const std::string &sql) { return matches(kSelectRe, sql); },
                  [](const std::string &sql) {
                    tds::ResultSet rs;
                    rs.columns = {{"t", tds::Type::Int, 0, 0, 0, false},
                                  {"i", tds::Type::Int, 0, 0, 0, false}};
                    rs.rows = {{group(kSelectRe, sql, 1), group(kSelectRe, sql, 2)}};
                    return tds::Reply{rs, tds::print(group(kSelectRe, sql, 3)), tds::DoneNoCount{}};
                  });
  server.on_match([](const std::string &sql) { return matches(kRaiseRe, sql); },
                  [](const std::string &sql) {
                    return tds::Reply{tds::BatchAbort{tds::error(50000, group(kRaiseRe, sql, 1))}};
                  });
  // Odd ids are refused with the server's text naming the id.
  server.on_match([](const std::string &sql) { return matches(kKillRe, sql); },
                  [](const std::string &sql) {
                    std::string id = group(kKillRe, sql, 1);
                    if (std::stoi(id) % 2 == 0) return tds::Reply{tds::DoneNoCount{}};
                    return tds::Reply{tds::BatchAbort{tds::error(
                        6106, "Process ID " + id + " is not an active process ID.")}};
                  });
  server.on_match([](const std::string &sql) { return matches(kStallRe, sql); },
                  [](const std::string &) {
                    return tds::Reply{tds::Delay{60000ms}, tds::RowCount{0}};
                  });
}

// A reply text without its volatile members (the session id, the time).
std::string steady(const std::string &text) {
  rapidjson::Document d;
  d.Parse(text.c_str());
  if (d.HasParseError() || !d.IsObject()) return text;
  d.RemoveMember("spid");
  d.RemoveMember("elapsed_ms");
  return json(d);
}

std::string replaced(std::string s, const std::string &from, const std::string &to) {
  for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

// The events of one streamed call.
struct Events {
  std::vector<std::string> texts;
  static int receive(void *user, const char *event, std::size_t len) {
    static_cast<Events *>(user)->texts.emplace_back(event, len);
    return 0;
  }
};

// One thread's run: its calls, the faults they showed and its neighbour's
// stalled query to cancel.
struct Worker {
  int t = 0;
  std::vector<std::string> faults;
  std::atomic<bool> stalling{false};
  std::atomic<bool> done{false};
  std::atomic<int> stalls_cancelled{0};

  void expect(bool ok, const Mark &m, const std::string &what, const std::string &detail) {
    if (!ok) faults.push_back(what + " " + m.slash() + ": " + detail.substr(0, 400));
  }
};

class Stress : public ServerTest {
 protected:
  void SetUp() override {
    register_echoes(server);
    tds::demo::register_demo(server);
    for (int t = 0; t < kThreads; ++t) server.add_database("stress" + str(t));
    ServerTest::SetUp();
    plain_ = conn();
    // The demo catalog's fixed answers, taken one call at a time first.
    for (const auto &f : fixed_calls()) reference_.push_back(steady(call_text(f.call(plain_))));
    apply_reference_ = call_text(apply_call(plain_, "MARK"));
  }

  static std::string call_text(char *p) {
    std::string s = p ? p : "";
    dbdesk_core_free(p);
    return s;
  }

  struct FixedCall {
    const char *what;
    std::function<char *(const std::string &conn)> call;
  };
  static const std::vector<FixedCall> &fixed_calls() {
    static const std::vector<FixedCall> calls = {
        {"tree", [](auto &c) { return dbdesk_core_tree(c.c_str(), "columns", "demo", "dbo", "orders"); }},
        {"script", [](auto &c) {
           return dbdesk_core_script_object(c.c_str(), "demo", "table", "dbo", "items", "create"); }},
        {"grid load", [](auto &c) {
           return dbdesk_core_editgrid_load(c.c_str(), "demo", "dbo", "products", 10); }},
        {"activity", [](auto &c) { return dbdesk_core_activity(c.c_str(), "sessions"); }},
    };
    return calls;
  }
  static char *apply_call(const std::string &c, const std::string &name) {
    const std::string ops = R"([{"op":"update","pk":{"id":1},"values":{"name":")" + name + R"("}}])";
    return dbdesk_core_editgrid_apply(c.c_str(), "demo", "dbo", "products", ops.c_str(), 1);
  }

  std::string tagged(const std::string &tag) const { return conn("\"tag\":\"" + tag + "\""); }

  // The calls, each checked against what it alone should answer.
  void query(Worker &w, const Mark &m, const std::string &c) {
    Reply r = take(dbdesk_core_query(c.c_str(), nullptr, m.script().c_str(), 0, 10));
    const std::string last = dbdesk_core_last_error();
    bool shaped = r.doc.IsObject() && r.doc.HasMember("batches") && r["batches"].Size() == 2 &&
                  r["batches"][0]["results"].Size() == 1 &&
                  r["batches"][0]["messages"].Size() == 1 && r["batches"][1]["messages"].Size() == 1;
    w.expect(shaped, m, "query", r.text);
    if (!shaped) return;
    w.expect(json(r["batches"][0]["results"][0]["rows"]) == m.row(), m, "query rows", r.text);
    w.expect(std::string(r["batches"][0]["messages"][0]["text"].GetString()) == "row " + m.slash(),
             m, "query print", r.text);
    w.expect(std::string(r["batches"][1]["messages"][0]["text"].GetString()) ==
                 "failure " + m.slash(), m, "query error message", r.text);
    w.expect(!r["ok"].GetBool() && r["error"].IsString() && r["error"].GetString() == m.failure(),
             m, "query error", r.text);
    w.expect(last == m.failure(), m, "query last error", last);
  }

  void stream(Worker &w, const Mark &m, const std::string &c) {
    Events ev;
    Reply r = take(dbdesk_core_query_stream(c.c_str(), nullptr, m.script().c_str(), 0, 10,
                                            Events::receive, &ev));
    const std::string last = dbdesk_core_last_error();
    std::string rows, print, end;
    for (const std::string &text : ev.texts) {
      rapidjson::Document d;
      d.Parse(text.c_str());
      if (d.HasParseError() || !d.HasMember("event")) continue;
      const std::string kind = d["event"].GetString();
      if (kind == "rows") rows += json(d["rows"]);
      if (kind == "message" && d["batch"].GetInt() == 1) print = d["message"]["text"].GetString();
      if (kind == "batch_end" && d["batch"].GetInt() == 2 && d["error"].IsString())
        end = d["error"].GetString();
    }
    w.expect(rows == m.row(), m, "stream rows", rows);
    w.expect(print == "row " + m.slash(), m, "stream print", print);
    w.expect(end == m.failure(), m, "stream batch end", end);
    w.expect(r.doc.IsObject() && r.doc.HasMember("rows") && r["rows"].GetInt() == 1 &&
                 r["batches"].GetInt() == 2 && r["error"].IsString() &&
                 r["error"].GetString() == m.failure(),
             m, "stream summary", r.text);
    w.expect(last == m.failure(), m, "stream last error", last);
  }

  void fixed(Worker &w, const Mark &m, const std::string &c, std::size_t which) {
    const std::string got = steady(call_text(fixed_calls()[which].call(c)));
    const std::string last = dbdesk_core_last_error();
    w.expect(got == reference_[which], m, fixed_calls()[which].what, got);
    w.expect(last.empty(), m, std::string(fixed_calls()[which].what) + " last error", last);
  }

  void apply(Worker &w, const Mark &m, const std::string &c) {
    const std::string name = "t" + str(m.t) + " i" + str(m.i);
    const std::string got = call_text(apply_call(c, name));
    const std::string last = dbdesk_core_last_error();
    w.expect(got == replaced(apply_reference_, "MARK", name), m, "grid apply", got);
    w.expect(last.empty(), m, "grid apply last error", last);
  }

  void connect(Worker &w, const Mark &m) {
    const bool present = m.i % 2 == 0;
    const std::string db = present ? "stress" + str(m.t) : "absent" + str(m.t) + "x" + str(m.i);
    Reply r = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret",
                                            db.c_str(), 0, 10));
    const std::string last = dbdesk_core_last_error();
    if (!r.doc.IsObject() || !r.doc.HasMember("database")) {
      w.expect(false, m, "connect test", r.text);
      return;
    }
    if (present) {
      w.expect(r["ok"].GetBool() && r["database"].IsString() && r["database"].GetString() == db,
               m, "connect test", r.text);
      w.expect(last.empty(), m, "connect test last error", last);
      return;
    }
    const std::string quoted = "Cannot open database \"" + db + "\"";
    w.expect(!r["ok"].GetBool() && r["error"].IsString() &&
                 std::string(r["error"].GetString()).find(quoted) != std::string::npos,
             m, "connect test refused", r.text);
    w.expect(r["error"].IsString() && last == r["error"].GetString(), m,
             "connect test last error", last);
  }

  void kill(Worker &w, const Mark &m, const std::string &c, int calls) {
    const int spid = 1 + (m.t * calls + m.i) % 32767;
    Reply r = take(dbdesk_core_kill_spid(c.c_str(), spid));
    const std::string last = dbdesk_core_last_error();
    const bool refused = spid % 2 == 1;
    const std::string reason = "Process ID " + str(spid) +
                               " is not an active process ID. (msg 6106, severity 16, state 1, line 1)";
    w.expect(r.doc.IsObject() && r.doc.HasMember("spid") && r["spid"].GetInt() == spid &&
                 r["ok"].GetBool() == !refused &&
                 (refused ? r["error"].IsString() && r["error"].GetString() == reason
                          : r["error"].IsNull()),
             m, "kill", r.text);
    w.expect(last == (refused ? reason : ""), m, "kill last error", last);
  }

  // Nothing runs under this tag: the cancel signals no call.
  void cancel_idle(Worker &w, const Mark &m) {
    const std::string tag = "idle" + str(m.t) + "x" + str(m.i);
    const std::string got = call_text(dbdesk_core_cancel(tag.c_str()));
    w.expect(got == R"({"ok":true,"cancelled":0,"error":null})", m, "cancel idle", got);
  }

  // A query the server stalls on until the neighbour cancels it.
  void stall(Worker &w, const Mark &m) {
    const std::string sql = "WAITFOR DELAY '00:01:00' -- stall " + m.slash();
    w.stalling = true;
    Reply r = take(dbdesk_core_query(tagged("stall" + str(m.t)).c_str(), nullptr, sql.c_str(), 0, 0));
    w.stalling = false;
    const std::string last = dbdesk_core_last_error();
    w.expect(r.doc.IsObject() && r.doc.HasMember("error") && r["error"].IsString() &&
                 std::string(r["error"].GetString()) == "cancelled by the caller",
             m, "stalled query", r.text);
    w.expect(last == "cancelled by the caller", m, "stalled query last error", last);
  }

  // Cancels the neighbour's stalled query if it has one; it is the only call
  // under that tag, so at most one call is signalled.
  bool cancel_neighbour(Worker &w, Worker &victim, const Mark &m) {
    if (!victim.stalling) return false;
    const std::string got = call_text(dbdesk_core_cancel(("stall" + str(victim.t)).c_str()));
    const bool one = got == R"({"ok":true,"cancelled":1,"error":null})";
    w.expect(one || got == R"({"ok":true,"cancelled":0,"error":null})", m, "cancel neighbour", got);
    if (one) ++victim.stalls_cancelled;
    return true;
  }

  std::string plain_;
  std::vector<std::string> reference_;
  std::string apply_reference_;
};

TEST_F(Stress, ThreadsKeepTheirOwnRepliesEventsAndErrors) {
  for (std::size_t k = 0; k < reference_.size(); ++k)
    ASSERT_NE(reference_[k].find("\"ok\":true"), std::string::npos)
        << fixed_calls()[k].what << ": " << reference_[k];
  ASSERT_NE(apply_reference_.find("MARK"), std::string::npos) << apply_reference_;

  const int calls = calls_per_thread();
  std::vector<Worker> workers(kThreads);
  std::atomic<long> made{0};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    workers[t].t = t;
    threads.emplace_back([&, t] {
      Worker &w = workers[t];
      Worker &victim = workers[(t + kThreads - 1) % kThreads];
      const std::string c = tagged("tab" + str(t));
      long n = 0;
      for (int i = 0; i < calls; ++i) {
        const Mark m{t, i};
        n += cancel_neighbour(w, victim, m) ? 1 : 0;
        ++n;
        if (i % (calls / kStallsPerThread) == calls / (2 * kStallsPerThread)) {
          stall(w, m);
          continue;
        }
        switch ((t + i) % 10) {
          case 0: query(w, m, c); break;
          case 1: stream(w, m, c); break;
          case 2: fixed(w, m, c, 0); break;
          case 3: fixed(w, m, c, 1); break;
          case 4: fixed(w, m, c, 2); break;
          case 5: apply(w, m, c); break;
          case 6: fixed(w, m, c, 3); break;
          case 7: connect(w, m); break;
          case 8: kill(w, m, c, calls); break;
          default: cancel_idle(w, m); break;
        }
      }
      w.done = true;
      // The neighbour may still be waiting in its stalled query.
      while (!victim.done) {
        n += cancel_neighbour(w, victim, Mark{t, calls}) ? 1 : 0;
        std::this_thread::sleep_for(5ms);
      }
      made += n;
    });
  }
  for (auto &th : threads) th.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  for (const Worker &w : workers) {
    EXPECT_TRUE(w.faults.empty()) << "thread " << w.t << ": " << w.faults.size() << " faults";
    for (std::size_t k = 0; k < w.faults.size() && k < kFaultsShownPerThread; ++k)
      ADD_FAILURE() << w.faults[k];
    EXPECT_GE(w.stalls_cancelled.load(), kStallsPerThread) << "thread " << w.t;
  }
  EXPECT_TRUE(server.wait_for_open_connections(0, 10s)) << "a session was left open";
  std::printf("[ stress   ] %ld calls from %d threads in %.1f s\n", made.load(), kThreads, seconds);
  RecordProperty("calls", static_cast<int>(made.load()));
}

}  // namespace
