#include "common/conn.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/capture.h"
#include "common/json_read.h"

namespace {

using namespace qv::common;

// "-1:error" on failure, else "host|user|password|database|app_name|port|timeout_s|encrypt".
std::string parse(const char *json) {
  qv_conn c;
  char errbuf[kConnErrSize] = "untouched";
  if (qv_conn_parse(json, &c, errbuf, sizeof errbuf) != 0) return "-1:" + std::string(errbuf);
  return std::string(c.host) + "|" + c.user + "|" + c.password + "|" + c.database + "|" +
         c.app_name + "|" + std::to_string(c.port) + "|" + std::to_string(c.timeout_s) + "|" +
         std::to_string(c.encrypt);
}

std::string doc(const std::string &extra) {
  return R"({"host":"h","user":"u")" + (extra.empty() ? "" : "," + extra) + "}";
}

std::string repeat(const char *s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(ConnParse, DefaultsAndStoredFields) {
  EXPECT_EQ(parse(doc(R"("Host":"ignored","extra":[1,2])").c_str()),
            "h|u|||quorvex-dbdesk-core|1433|10|0");
  EXPECT_EQ(parse(doc(R"("password":"p'w","database":"Sales","app_name":"","port":2000,)"
                      R"("timeout_s":30)").c_str()),
            "h|u|p'w|Sales||2000|30|0");
  EXPECT_EQ(parse(doc(R"("app_name":5)").c_str()), "h|u|||quorvex-dbdesk-core|1433|10|0");
}

TEST(ConnParse, FailuresReportTheFirstProblem) {
  const std::pair<const char *, const char *> cases[] = {
      {nullptr, "conn_json is required"},
      {"", "conn_json is required"},
      {"[", "conn_json is not valid JSON"},
      {R"({"host":"h","user":"u")", "conn_json is not valid JSON"},
      {R"({"host":"h","user":"u",})", "conn_json is not valid JSON"},
      {R"({"host":"h","user":"u"} {})", "conn_json is not valid JSON"},
      {"{\"host\":\"h\xFF\",\"user\":\"u\"}", "conn_json is not valid JSON"},
      {R"(/*c*/{"host":"h","user":"u"})", "conn_json is not valid JSON"},
      {R"([{"host":"h","user":"u"}])", "conn_json must be a JSON object"},
      {R"("text")", "conn_json must be a JSON object"},
      {R"({"user":5})", "conn_json.host is required"},
      {R"({"host":"","user":"u"})", "conn_json.host is required"},
      {R"({"host":5,"host":"h","user":"u"})", "conn_json.host is required"},
      {R"({"host":"h","user":5})", "conn_json.user is required"},
      {R"({"host":"h","user":""})", "conn_json.user is required"},
  };
  for (const auto &[json, err] : cases)
    EXPECT_EQ(parse(json), std::string("-1:") + err) << (json ? json : "(null)");

  // Fields copied before the failure stay; the message is cut to the buffer.
  qv_conn conn;
  char small[8];
  EXPECT_EQ(qv_conn_parse(R"({"host":"h1"})", &conn, small, sizeof small), -1);
  EXPECT_STREQ(small, "conn_js");
  EXPECT_STREQ(conn.host, "h1");
}

TEST(ConnParse, PortAndTimeoutFallBackOrClamp) {
  const char kOutOfRange[] = "-1:conn_json.port is out of range";
  const std::pair<const char *, std::string> cases[] = {
      {R"("port":0)", "1433|10"},          {R"("port":-1)", "1433|10"},
      {R"("port":null)", "1433|10"},       {R"("port":1)", "1|10"},
      {R"("port":65535)", "65535|10"},     {R"("port":65536)", kOutOfRange},
      {R"("port":70000)", kOutOfRange},    {R"("port":4294968729)", kOutOfRange},
      {R"("port":-4294967296)", kOutOfRange},
      {R"("port":"1500")", kOutOfRange},   {R"("port":1500.9)", kOutOfRange},
      {R"("port":true)", kOutOfRange},
      {R"("port":"x","port":2000)", kOutOfRange},
      {R"("timeout_s":0)", "1433|10"},     {R"("timeout_s":-3)", "1433|10"},
      {R"("timeout_s":500)", "1433|120"},  {R"("timeout_s":30)", "1433|30"},
      {R"("timeout_s":120)", "1433|120"},  {R"("timeout_s":1.5)", "1433|1"},
  };
  for (const auto &[member, expected] : cases) {
    std::string want = expected.starts_with("-1:") ? expected
                                                    : "h|u|||quorvex-dbdesk-core|" + expected + "|0";
    EXPECT_EQ(parse(doc(member).c_str()), want) << member;
  }
}

// Credentials and targets go whole up to db-lib's limits and are refused
// beyond them: a cut user or password is another principal. Only the
// application name, a label, is cut.
TEST(ConnParse, LoginFieldsAreWholeOrRefused) {
  const std::string euro43 = repeat("\xE2\x82\xAC", 43);  // 129 bytes
  const struct {
    std::string extra;
    std::string expected;
  } cases[] = {
      {R"("user":")" + std::string(128, 'u') + R"(")",
       "h|" + std::string(128, 'u') + "|||quorvex-dbdesk-core|1433|10|0"},
      {R"("password":")" + repeat("\xE2\x82\xAC", 42) + R"(","database":")" +
           std::string(128, 'd') + R"(")",
       "h|u|" + repeat("\xE2\x82\xAC", 42) + "|" + std::string(128, 'd') +
           "|quorvex-dbdesk-core|1433|10|0"},
      {R"("password":")" + euro43 + R"(")", "-1:conn_json.password is longer than 128 bytes"},
      {R"("user":")" + repeat("\xC3\xA9", 100) + R"(")", "-1:conn_json.user is longer than 128 bytes"},
      {R"("database":")" + repeat("\xE8\xA1\xA8", 128) + R"(")",
       "h|u||" + repeat("\xE8\xA1\xA8", 128) + "|quorvex-dbdesk-core|1433|10|0"},
      {R"("database":")" + std::string(385, 'd') + R"(")",
       "-1:conn_json.database is not a legal database name"},
      {R"("database":")" + std::string(129, 'd') + R"(")",
       "-1:conn_json.database is not a legal database name"},
      {R"("database":"a\tb")", "-1:conn_json.database is not a legal database name"},
      {R"("database":"a\u0000b")", "-1:conn_json.database is not a legal database name"},
      {R"("database":"a]b'c")", "h|u||a]b'c|quorvex-dbdesk-core|1433|10|0"},
      {R"("database":"")", "h|u|||quorvex-dbdesk-core|1433|10|0"},
      {R"("app_name":"a\u0000b")", "-1:conn_json.app_name contains U+0000"},
      {R"("password":"\udc00")", "-1:conn_json is not valid JSON"},
      {R"("tag":"x\ud800")", "-1:conn_json is not valid JSON"},
      {R"("password":"se\u0000cret")", "-1:conn_json.password contains U+0000"},
      {R"("user":"sa\u0000x")", "-1:conn_json.user contains U+0000"},
      {R"("app_name":")" + repeat("\xE2\x82\xAC", 22) + R"(")",
       "h|u|||" + repeat("\xE2\x82\xAC", 21) + "|1433|10|0"},
  };
  for (const auto &c : cases) {
    // "user" first in the document wins, so the override goes before the defaults.
    std::string json = "{" + c.extra + R"(,"host":"h","user":"u"})";
    EXPECT_EQ(parse(json.c_str()), c.expected) << json;
  }
  EXPECT_EQ(parse((R"({"user":"u","host":")" + std::string(255, 'h') + R"("})").c_str()),
            std::string(255, 'h') + "|u|||quorvex-dbdesk-core|1433|10|0");
  EXPECT_EQ(parse((R"({"user":"u","host":")" + std::string(256, 'h') + R"("})").c_str()),
            "-1:conn_json.host is longer than 255 bytes");
}

TEST(ConnLoad, RecordsTheReason) {
  qv_reset();
  qv_conn conn;
  EXPECT_EQ(qv_conn_load("[]", &conn), -1);
  EXPECT_STREQ(qv_err(), "conn_json must be a JSON object");
  EXPECT_EQ(qv_conn_load(doc("").c_str(), &conn), 0);
}

// Two pages, the second inaccessible: bytes placed to end right before it
// fault on any read past their end, with or without a sanitizer.
class guarded_tail {
 public:
  guarded_tail() : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
    map_ = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map_ != MAP_FAILED && mprotect(static_cast<char *>(map_) + page_, page_, PROT_NONE) != 0) {
      munmap(map_, 2 * page_);
      map_ = MAP_FAILED;
    }
  }
  ~guarded_tail() {
    if (map_ != MAP_FAILED) munmap(map_, 2 * page_);
  }
  guarded_tail(const guarded_tail &) = delete;
  guarded_tail &operator=(const guarded_tail &) = delete;

  bool ok() const { return map_ != MAP_FAILED; }
  char *place(const std::vector<char> &bytes) {
    char *at = static_cast<char *>(map_) + page_ - bytes.size();
    std::memcpy(at, bytes.data(), bytes.size());
    return at;
  }

 private:
  std::size_t page_;
  void *map_;
};

// A document ending inside a UTF-8 sequence (an unclosed string whose last
// byte is a lead byte): RapidJSON's validator takes the continuation bytes
// the lead announces before it judges them, up to three past the
// terminator. The parse copy holds them: parsed right before an
// inaccessible page it is refused without a fault, and so is the document.
TEST(JsonRead, TextsEndingInsideACharacterAreReadWithinTheCopy) {
  guarded_tail guard;
  ASSERT_TRUE(guard.ok());
  for (const char *text : {"\"\xF1", "[\"\xF4\x8F", "{\"a\":\"\xE2", "\"\xC3", "{\"\xF0\x9F\x98"}) {
    std::vector<char> copy;
    qv_json_parse_copy(text, &copy);
    rapidjson::Document d;
    d.ParseInsitu<kJsonReadFlags>(guard.place(copy));
    EXPECT_TRUE(d.HasParseError()) << text;
    qv_json_doc doc;
    EXPECT_FALSE(doc.parse(text)) << text;
    qv_conn conn;
    EXPECT_EQ(qv_conn_parse(text, &conn, nullptr, 0), -1) << text;
  }
}

TEST(JsonRead, MemberLookup) {
  qv_json_doc d;
  ASSERT_TRUE(d.parse(R"({"big":4294967297,"neg":-7.9,"huge":1e20,"tiny":-1e20,)"
                      R"("u64":18446744073709551615,"minus":-1,"edge":2147483647.9,)"
                      R"("over":2147483648.0,"flag":true,"text":"5","n":null,)"
                      R"("k":"a","k":"b","K":"c","k2":1,"k2":2})"));
  const qv_json_value &root = d.root();
  const std::pair<const char *, std::int32_t> ints[] = {
      {"big", 1},          {"neg", -7},        {"huge", INT32_MIN}, {"tiny", INT32_MIN},
      {"u64", -1},         {"minus", -1},      {"edge", INT32_MAX}, {"over", INT32_MIN},
      {"k2", 1},           {"flag", 42},       {"text", 42},        {"n", 42},
      {"missing", 42},     {"k", 42},
  };
  for (const auto &[key, expected] : ints) EXPECT_EQ(qv_json_int(root, key, 42), expected) << key;

  EXPECT_STREQ(qv_json_str(root, "k", "def"), "a");
  EXPECT_STREQ(qv_json_str(root, "K", "def"), "c");
  EXPECT_STREQ(qv_json_str(root, "big", "def"), "def");
  EXPECT_STREQ(qv_json_str(root, "kk", "def"), "def");
  EXPECT_STREQ(qv_json_str(root["text"], "k", "def"), "def");  // not an object
}

}  // namespace
