// Shared pieces of the tests that drive the library through its C interface
// against the test server.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#define RAPIDJSON_HAS_STDSTRING 1
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "golden/golden.h"
#include "quorvex/dbdesk_core.h"
#include "tds_server/server.h"

namespace qvtest {

// A reply text, parsed; the text itself is released right away.
struct Reply {
  std::string text;
  rapidjson::Document doc;
  const rapidjson::Value &operator[](const char *key) const { return doc[key]; }
};

inline Reply take(char *p) {
  Reply r;
  EXPECT_NE(p, nullptr);
  if (!p) return r;
  r.text = p;
  dbdesk_core_free(p);
  r.doc.Parse(r.text.c_str());
  EXPECT_FALSE(r.doc.HasParseError()) << r.text;
  return r;
}

// True when text is one strict JSON value with valid UTF-8; the parsed
// document goes to doc when given.
inline bool valid_json(const std::string &text, rapidjson::Document *doc = nullptr) {
  rapidjson::Document d;
  d.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
  const bool ok = !d.HasParseError();
  if (doc) doc->Swap(d);
  return ok;
}

inline bool valid_utf8(const char *s) {
  rapidjson::StringStream in(s);
  rapidjson::StringBuffer out;
  while (in.Peek() != '\0')
    if (!rapidjson::UTF8<>::Validate(in, out)) return false;
  return true;
}

// The compact JSON text of a value, for exact comparisons.
inline std::string json(const rapidjson::Value &v) {
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> w(sb);
  v.Accept(w);
  return sb.GetString();
}

inline std::string keys_of(const rapidjson::Value &obj) {
  std::string k;
  for (auto it = obj.MemberBegin(); it != obj.MemberEnd(); ++it) {
    if (!k.empty()) k += ",";
    k += it->name.GetString();
  }
  return k;
}

// A result set the test server answers with.
inline tds::ResultSet result_set(std::vector<tds::Column> columns, std::vector<tds::Row> rows = {}) {
  tds::ResultSet rs;
  rs.columns = std::move(columns);
  rs.rows = std::move(rows);
  return rs;
}

// The batches of one session opened in database (bracketed as db-lib's USE
// sends it) that then ran statements: the library's text size comes first,
// then db-lib's switch to the database.
inline std::vector<std::string> session_batches(const std::string &database,
                                                const std::vector<std::string> &statements = {}) {
  std::vector<std::string> out = {statement("session.set_up"), "use " + database};
  out.insert(out.end(), statements.begin(), statements.end());
  return out;
}

// A test server per test, with every session closed at the end.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { server.start(); }
  void TearDown() override {
    EXPECT_TRUE(server.wait_for_open_connections(0, std::chrono::seconds(5)))
        << "a session was left open";
  }

  // The connection document of the test server for user and password, with
  // extra members (JSON text without braces) appended.
  std::string conn_as(const std::string &user, const std::string &password,
                      const std::string &extra = "") const {
    std::string s = "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(server.port()) +
                    ",\"user\":\"" + user + "\",\"password\":\"" + password + "\"";
    if (!extra.empty()) s += "," + extra;
    return s + "}";
  }
  std::string conn(const std::string &extra = "") const { return conn_as("sa", "secret", extra); }

  Reply query(const std::string &sql, int max_rows = 0, const char *database = nullptr,
              int timeout_s = 0, const std::string &extra = "") {
    return take(dbdesk_core_query(conn(extra).c_str(), database, sql.c_str(), max_rows, timeout_s));
  }

  // The batches the server received after login set-up, in order, for the
  // only connection of the test.
  std::vector<std::string> sent() const {
    std::vector<std::string> out;
    for (const auto &b : server.batches()) out.push_back(b.sql);
    return out;
  }

  tds::Server server;
};

}  // namespace qvtest

// The shared pieces every test file names unqualified.
using qvtest::doubled;
using qvtest::json;
using qvtest::result_set;
using qvtest::keys_of;
using qvtest::Reply;
using qvtest::ServerTest;
using qvtest::session_batches;
using qvtest::statement;
using qvtest::valid_json;
using qvtest::valid_utf8;
using qvtest::take;
