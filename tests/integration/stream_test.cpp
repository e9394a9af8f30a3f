// The streamed query: events as they happen, in order, in bounded chunks,
// and the ways to stop it.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tds::Type;

// What the callback saw: each event's text and when it came.
struct Events {
  std::vector<std::string> texts;
  std::vector<Clock::time_point> times;
  int stop_after = -1;  // answer non-zero on this event (0-based); -1 never
  std::size_t largest = 0;

  static int receive(void *user, const char *json, std::size_t len) {
    auto *self = static_cast<Events *>(user);
    EXPECT_EQ(std::strlen(json), len);
    self->texts.emplace_back(json, len);
    self->times.push_back(Clock::now());
    self->largest = std::max(self->largest, len);
    return static_cast<int>(self->texts.size()) - 1 == self->stop_after ? 1 : 0;
  }
  // Each event's "event" member, with ":" and its result or count where it
  // has one, for comparing the order.
  std::vector<std::string> kinds() const {
    std::vector<std::string> out;
    for (const std::string &t : texts) {
      rapidjson::Document d;
      d.Parse(t.c_str());
      EXPECT_FALSE(d.HasParseError()) << t;
      EXPECT_STREQ(d.MemberBegin()->name.GetString(), "event");
      std::string k = std::string(d["event"].GetString()) + " " + std::to_string(d["batch"].GetInt());
      if (d.HasMember("rows_affected")) k += " n=" + std::to_string(d["rows_affected"].GetInt());
      if (d.HasMember("message")) k += " " + std::string(d["message"]["text"].GetString());
      if (d.HasMember("ok")) k += d["ok"].GetBool() ? " ok" : " failed";
      out.push_back(k);
    }
    return out;
  }
};

tds::ResultSet ints(const char *name, std::size_t n) {
  tds::ResultSet rs;
  rs.columns = {{name, Type::Int, 0, 0, 0, false}};
  rs.generated_rows = n;
  rs.generate = [](std::size_t i, tds::Row &row) { row[0] = std::to_string(i); };
  return rs;
}

class Stream : public ServerTest {
 protected:
  Reply stream(const std::string &sql, Events &events, int max_rows = 0, int timeout_s = 0,
               const std::string &extra = "") {
    return take(dbdesk_core_query_stream(conn(extra).c_str(), nullptr, sql.c_str(), max_rows,
                                         timeout_s, Events::receive, &events));
  }
};

TEST_F(Stream, EventsComeInTheOrderTheyHappen) {
  server.on("SELECT a", {ints("a", 2), tds::print("between"), tds::RowCount{3}, ints("b", 1)});
  server.on("UPDATE t", {tds::RowCount{5}, tds::DoneNoCount{}});
  server.on("BAD", {tds::BatchAbort{tds::error(208, "Invalid object name 't'.")}});
  Events ev;
  Reply r = stream("SELECT a\nGO\nUPDATE t\nGO 2\nBAD", ev);
  EXPECT_EQ(ev.kinds(),
            (std::vector<std::string>{
                "batch 1", "columns 1", "rows 1", "result_end 1", "message 1 between",
                "count 1 n=3", "columns 1", "rows 1", "result_end 1", "batch_end 1 ok",
                "batch 2", "count 2 n=5", "batch_end 2 ok", "batch 3", "count 3 n=5",
                "batch_end 3 ok", "batch 4", "message 4 Invalid object name 't'.",
                "batch_end 4 failed"}));
  EXPECT_EQ(ev.texts[1], R"({"event":"columns","batch":1,"result":0,"columns":[{"name":"a","type":"int","nullable":false}]})");
  EXPECT_EQ(ev.texts[2], R"({"event":"rows","batch":1,"result":0,"rows":[[0],[1]]})");
  EXPECT_EQ(ev.texts[3], R"({"event":"result_end","batch":1,"result":0,"row_count":2,"truncated":false})");
  EXPECT_EQ(ev.texts.back(), R"x({"event":"batch_end","batch":4,"ok":false,"error":"Invalid object name 't'. (msg 208, severity 16, state 1, line 1)"})x");
  EXPECT_EQ(keys_of(r.doc), "ok,spid,elapsed_ms,batches,rows,error");
  EXPECT_FALSE(r["ok"].GetBool());
  EXPECT_EQ(r["batches"].GetInt(), 4);
  EXPECT_EQ(r["rows"].GetInt(), 3);
}

// Without a limit every row comes, in chunks no larger than the bound: the
// library never holds more than one chunk.
TEST_F(Stream, LargeResultsComeWholeInBoundedChunks) {
  server.on("SELECT many", {ints("n", 250000)});
  Events ev;
  Reply r = stream("SELECT many", ev);
  EXPECT_TRUE(r["ok"].GetBool()) << r.text;
  EXPECT_EQ(r["rows"].GetInt(), 250000);
  EXPECT_GE(ev.texts.size(), 250000u / 1000 + 4);
  EXPECT_LE(ev.largest, 256u * 1024 + 64);
  EXPECT_EQ(ev.texts[ev.texts.size() - 2],
            R"({"event":"result_end","batch":1,"result":0,"row_count":250000,"truncated":false})");

  Events limited;
  stream("SELECT many", limited, 10);
  EXPECT_EQ(limited.texts[2], R"({"event":"rows","batch":1,"result":0,"rows":[[0],[1],[2],[3],[4],[5],[6],[7],[8],[9]]})");
  EXPECT_EQ(limited.texts[3], R"({"event":"result_end","batch":1,"result":0,"row_count":10,"truncated":true})");
}

// A message and the rows before it reach the caller while the server is
// still working on the rest of the batch.
TEST_F(Stream, MessagesAndRowsArriveWhileTheBatchRuns) {
  server.on("slow", {ints("a", 1), tds::print("10 percent processed."), tds::Delay{1500ms},
                     ints("b", 1)});
  Events ev;
  stream("slow", ev);
  Clock::time_point end = Clock::now();
  ASSERT_GE(ev.texts.size(), 5u);
  EXPECT_EQ(ev.kinds()[4], "message 1 10 percent processed.");
  EXPECT_GE(end - ev.times[4], 1000ms);
  EXPECT_GE(end - ev.times[2], 1000ms);  // the rows before it, too
}

// The callback's answer and the cancel both stop the call: the server is
// told (ATTENTION) and later batches are not sent.
TEST_F(Stream, TheCallbackOrACancelStopsTheCall) {
  server.on("endless", {ints("n", 50000000)});
  server.on("later", {tds::DoneNoCount{}});
  Events ev;
  ev.stop_after = 5;
  Reply r = stream("endless\nGO\nlater", ev);
  EXPECT_FALSE(r["ok"].GetBool());
  EXPECT_STREQ(r["error"].GetString(), "cancelled by the caller");
  EXPECT_GE(server.attentions(), 1);
  for (const auto &b : server.batches()) EXPECT_NE(b.sql, "later");

  // A stall far past any time-out: the stream has none, and a cancel ends it.
  server.clear_records();
  server.on("stall", {tds::Delay{130s}, tds::DoneNoCount{}});
  Events stalled;
  Clock::time_point start = Clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(1500ms);
    dbdesk_core_free(dbdesk_core_cancel("s1"));
  });
  r = stream("stall", stalled, 0, 0, R"("tag":"s1","timeout_s":1)");
  stopper.join();
  EXPECT_STREQ(r["error"].GetString(), "cancelled by the caller");
  EXPECT_GE(Clock::now() - start, 1400ms);  // the document's 1 s time-out did not end it
  EXPECT_LT(Clock::now() - start, 10s);
}

TEST_F(Stream, RequiredArguments) {
  Events ev;
  Reply r = take(dbdesk_core_query_stream(conn().c_str(), nullptr, "SELECT 1", 0, 0, nullptr,
                                          &ev));
  EXPECT_EQ(json(r.doc), R"({"ok":false,"error":"missing required parameter: on_event"})");
  r = take(dbdesk_core_query_stream(conn().c_str(), nullptr, "", 0, 0, Events::receive, &ev));
  EXPECT_EQ(json(r.doc), R"({"ok":false,"error":"missing required parameter: sql"})");
  EXPECT_TRUE(ev.texts.empty());
  EXPECT_TRUE(server.logins().empty());
}

}  // namespace
