// Stopping running calls by tag from another thread.
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Cancel : public ServerTest {
 protected:
  std::string tagged(const std::string &tag) const { return conn("\"tag\":\"" + tag + "\""); }

  // Runs sql under tag on its own thread; cancels the tag after `after`.
  // Returns the query's reply and how long the query took after the cancel.
  struct Outcome {
    Reply reply;
    int cancelled = -1;
    Clock::duration after_cancel{};
  };
  Outcome run_and_cancel(const std::string &sql, const std::string &tag,
                         std::chrono::milliseconds after, int max_rows = 0) {
    Outcome out;
    Clock::time_point done;
    std::thread call([&] {
      out.reply = take(dbdesk_core_query(tagged(tag).c_str(), nullptr, sql.c_str(), max_rows, 60));
      done = Clock::now();
    });
    std::this_thread::sleep_for(after);
    Clock::time_point cancelled_at = Clock::now();
    Reply c = take(dbdesk_core_cancel(tag.c_str()));
    EXPECT_EQ(c.text.substr(0, 26), "{\"ok\":true,\"cancelled\":1,\"") << c.text;
    out.cancelled = c["cancelled"].GetInt();
    call.join();
    out.after_cancel = done - cancelled_at;
    return out;
  }
};

tds::ResultSet endless_rows(std::size_t n) {
  tds::ResultSet rs;
  rs.columns = {{"n", tds::Type::Int, 0, 0, 0, false}, {"s", tds::Type::NVarChar, 40}};
  rs.generated_rows = n;
  rs.generate = [](std::size_t i, tds::Row &row) {
    row[0] = std::to_string(i);
    row[1] = "row " + std::to_string(i);
  };
  return rs;
}

// Where the call is when the cancel comes: waiting for the server, reading
// rows, logging in. Each stops within about a second, closes its session
// and reports "cancelled by the caller".
TEST_F(Cancel, StopsTheCallInEveryPhase) {
  server.on("WAITFOR DELAY '00:00:30'", {tds::Delay{30000ms}, tds::RowCount{0}});
  Outcome waiting = run_and_cancel("WAITFOR DELAY '00:00:30'\nGO\nSELECT 2", "wait", 500ms);
  EXPECT_FALSE(waiting.reply["ok"].GetBool());
  EXPECT_STREQ(waiting.reply["error"].GetString(), "cancelled by the caller");
  EXPECT_EQ(waiting.reply["batches"].Size(), 1u) << waiting.reply.text;
  EXPECT_LT(waiting.after_cancel, 2s);
  EXPECT_GE(server.attentions(), 1);
  for (const auto &b : server.batches()) EXPECT_NE(b.sql, "SELECT 2") << "a later batch was sent";

  server.on("SELECT * FROM huge", {endless_rows(5'000'000)});
  Outcome reading = run_and_cancel("SELECT * FROM huge", "rows", 300ms, 100000);
  EXPECT_FALSE(reading.reply["ok"].GetBool()) << reading.reply.text.substr(0, 200);
  EXPECT_STREQ(reading.reply["error"].GetString(), "cancelled by the caller");
  EXPECT_LT(reading.after_cancel, 2s);

  server.set_login_delay(5000ms);
  Outcome login = run_and_cancel("SELECT 1", "login", 300ms);
  EXPECT_EQ(keys_of(login.reply.doc), "ok,error");
  EXPECT_STREQ(login.reply["error"].GetString(), "cancelled by the caller");
  EXPECT_LT(login.after_cancel, 2s);
}

TEST_F(Cancel, OnlyTheTaggedCallsStop) {
  server.on("WAITFOR DELAY '00:00:02'", {tds::Delay{2000ms}, tds::RowCount{0}});
  std::vector<Reply> tab(2);
  Reply other;
  std::vector<std::thread> calls;
  for (int i = 0; i < 2; ++i)
    calls.emplace_back([&, i] {
      tab[i] = take(dbdesk_core_query(tagged("tab-1").c_str(), nullptr,
                                      "WAITFOR DELAY '00:00:02'", 0, 0));
    });
  calls.emplace_back([&] {
    other = take(dbdesk_core_query(tagged("tab-2").c_str(), nullptr,
                                   "WAITFOR DELAY '00:00:02'", 0, 0));
  });
  std::this_thread::sleep_for(500ms);
  Reply c = take(dbdesk_core_cancel("tab-1"));
  for (auto &t : calls) t.join();
  EXPECT_EQ(c.text, "{\"ok\":true,\"cancelled\":2,\"error\":null}");
  for (const auto &r : tab) EXPECT_STREQ(r["error"].GetString(), "cancelled by the caller");
  EXPECT_TRUE(other["ok"].GetBool()) << other.text;
  EXPECT_EQ(take(dbdesk_core_cancel("tab-1")).text, "{\"ok\":true,\"cancelled\":0,\"error\":null}");
  EXPECT_EQ(take(dbdesk_core_cancel("nobody")).text,
            "{\"ok\":true,\"cancelled\":0,\"error\":null}");
}

TEST_F(Cancel, TagIsLimitedTo128Bytes) {
  Reply ok = take(dbdesk_core_query(tagged(std::string(128, 't')).c_str(), nullptr, "PRINT 'x'",
                                    0, 0));
  EXPECT_EQ(keys_of(ok.doc).find("batches"), 0u) << ok.text;
  Reply r = take(dbdesk_core_query(tagged(std::string(129, 't')).c_str(), nullptr, "SELECT 1",
                                   0, 0));
  EXPECT_EQ(r.text, "{\"ok\":false,\"error\":\"conn_json.tag is longer than 128 bytes\"}");
}

// Many calls and cancels at random: every call answers, nothing is left
// open, and (in the sanitizer build) nothing races or leaks.
TEST_F(Cancel, RandomCancelsUnderLoad) {
  server.on("WAITFOR DELAY '00:00:00.3'", {tds::Delay{300ms}, tds::RowCount{0}});
  server.on("SELECT * FROM some", {endless_rows(20000)});
  constexpr int kThreads = 16, kCallsEach = 4;
  std::atomic<int> answered{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        const char *sql = (t + i) % 2 ? "WAITFOR DELAY '00:00:00.3'" : "SELECT * FROM some";
        Reply r = take(dbdesk_core_query(tagged("t" + std::to_string(t % 4)).c_str(), nullptr,
                                         sql, 0, 0));
        if (r.doc.IsObject() && r.doc.HasMember("ok")) ++answered;
      }
    });
  std::thread canceller([&] {
    std::mt19937 rng(7);
    while (!stop) {
      dbdesk_core_free(dbdesk_core_cancel(("t" + std::to_string(rng() % 4)).c_str()));
      std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 200));
    }
  });
  for (auto &t : threads) t.join();
  stop = true;
  canceller.join();
  EXPECT_EQ(answered.load(), kThreads * kCallsEach);
}

}  // namespace
