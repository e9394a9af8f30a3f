// Every documented reply shape (include/quorvex/REPLIES.md) walked against
// real replies from the demo catalog: keys in the documented order, nothing
// undocumented, every value of the documented type, nested shapes included.
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "demo_cli.h"
#include "demo_script.h"
#include "support.h"

namespace {

using rapidjson::Value;

struct field {
  std::string key, type;
  bool always = false;
};
using shape_book = std::map<std::string, std::vector<field>>;

std::string between_backticks(const std::string &s) {
  auto a = s.find('`'), b = s.find('`', a + 1);
  return a == std::string::npos || b == std::string::npos ? "" : s.substr(a + 1, b - a - 1);
}

std::vector<std::string> table_cells(const std::string &line) {
  std::vector<std::string> cells;
  std::stringstream ss(line.substr(1));
  for (std::string cell; std::getline(ss, cell, '|');) {
    auto a = cell.find_first_not_of(' '), b = cell.find_last_not_of(' ');
    cells.push_back(a == std::string::npos ? "" : cell.substr(a, b - a + 1));
  }
  return cells;
}

// "### `name`" headings, each followed by a | key | type | present | table.
shape_book read_shapes(const char *path) {
  shape_book book;
  std::ifstream in(path);
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("### ", 0) == 0) {
      current = between_backticks(line);
      continue;
    }
    if (current.empty() || line.rfind("| `", 0) != 0) continue;
    auto cells = table_cells(line);
    if (cells.size() < 3) continue;
    book[current].push_back({between_backticks(cells[0]), cells[1], cells[2].rfind("always", 0) == 0});
  }
  return book;
}

class shape_walker {
 public:
  explicit shape_walker(const shape_book &book) : book_(book) {}

  std::vector<std::string> walk(const Value &v, const std::string &shape, const std::string &path = "$") {
    auto it = book_.find(shape);
    if (it == book_.end()) return {path + ": undocumented shape " + shape};
    if (!v.IsObject()) return {path + ": not an object"};
    std::vector<std::string> problems;
    const auto &fields = it->second;
    std::size_t at = 0;
    for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) {
      const std::string key = m->name.GetString();
      while (at < fields.size() && fields[at].key != key) {
        if (fields[at].always) problems.push_back(path + ": missing " + fields[at].key);
        ++at;
      }
      if (at == fields.size()) {
        problems.push_back(path + ": key " + key + " undocumented or out of order");
        return problems;
      }
      if (!matches(m->value, fields[at].type, path + "." + key, problems))
        problems.push_back(path + "." + key + ": not " + fields[at].type);
      ++at;
    }
    for (; at < fields.size(); ++at)
      if (fields[at].always) problems.push_back(path + ": missing " + fields[at].key);
    return problems;
  }

 private:
  bool matches(const Value &v, const std::string &type, const std::string &path,
               std::vector<std::string> &problems) {
    for (std::size_t from = 0;;) {
      auto to = type.find(" or ", from);
      if (matches_one(v, type.substr(from, to - from), path, problems)) return true;
      if (to == std::string::npos) return false;
      from = to + 4;
    }
  }

  bool matches_one(const Value &v, const std::string &t, const std::string &path,
                   std::vector<std::string> &problems) {
    if (t.rfind("array of ", 0) == 0) {
      if (!v.IsArray()) return false;
      for (rapidjson::SizeType i = 0; i < v.Size(); ++i)
        if (!matches(v[i], t.substr(9), path + "[" + std::to_string(i) + "]", problems)) return false;
      return true;
    }
    if (t.front() == '`') {
      auto inner = walk(v, between_backticks(t), path);
      problems.insert(problems.end(), inner.begin(), inner.end());
      return v.IsObject();
    }
    static const std::map<std::string, std::function<bool(const Value &)>> kinds = {
        {"string", [](const Value &x) { return x.IsString(); }},
        {"integer", [](const Value &x) { return x.IsInt64() || x.IsUint64(); }},
        {"number", [](const Value &x) { return x.IsNumber(); }},
        {"boolean", [](const Value &x) { return x.IsBool(); }},
        {"true", [](const Value &x) { return x.IsTrue(); }},
        {"false", [](const Value &x) { return x.IsFalse(); }},
        {"null", [](const Value &x) { return x.IsNull(); }},
        {"empty object", [](const Value &x) { return x.IsObject() && x.MemberCount() == 0; }},
        {"empty array", [](const Value &x) { return x.IsArray() && x.Empty(); }},
        {"cell", [](const Value &x) { return x.IsNull() || x.IsBool() || x.IsNumber() || x.IsString(); }},
    };
    auto k = kinds.find(t);
    if (k == kinds.end()) {
      problems.push_back(path + ": unknown type word " + t);
      return false;
    }
    return k->second(v);
  }

  const shape_book &book_;
};

class ReplyShapes : public ServerTest {
 protected:
  void SetUp() override {
    tds::demo::register_demo(server);
    tds::demo::register_cli_demo(server);
    ServerTest::SetUp();
  }
};

TEST_F(ReplyShapes, EveryShapeIsDocumentedWithKnownTypes) {
  shape_book book = read_shapes(QV_REPLIES_PATH);
  for (const char *name : {"envelope", "query", "batch", "result-set", "column", "message", "connect-test",
                           "kill", "tree", "node", "script", "table-props", "grid-load", "grid-column",
                           "grid-apply", "row-set", "backup", "job-control", "cancel"})
    EXPECT_FALSE(book[name].empty()) << name;
}

// Add a row per operation as it lands: the shape it answers with and a call
// against the demo catalog.
TEST_F(ReplyShapes, RealRepliesFollowTheirDocumentedShape) {
  const shape_book book = read_shapes(QV_REPLIES_PATH);
  const std::string c = conn();
  const int port = server.port();
  struct Case {
    const char *shape;
    const char *what;
    std::function<char *()> call;
  };
  const std::vector<Case> cases = {
      {"envelope", "missing argument", [&] { return dbdesk_core_query(c.c_str(), nullptr, "", 0, 0); }},
      {"envelope", "login refused", [&] { return dbdesk_core_query(c.c_str(), "nowhere", "SELECT 1", 0, 0); }},
      {"query", "result set, big numbers, NULL, print",
       [&] {
         return dbdesk_core_query(c.c_str(), nullptr,
                                  "SELECT id, owner, balance FROM demo.dbo.accounts\nGO\nPRINT 'hi'", 0, 0);
       }},
      {"query", "no message anywhere",
       [&] { return dbdesk_core_query(c.c_str(), nullptr, "SELECT name, database_id FROM sys.databases", 1, 0); }},
      {"query", "failing batch", [&] { return dbdesk_core_query(c.c_str(), nullptr, "SELECT nothing", 0, 0); }},
      {"connect-test", "success",
       [&] { return dbdesk_core_connect_test("127.0.0.1", port, "sa", "secret", nullptr, 0, 5); }},
      {"connect-test", "wrong password",
       [&] { return dbdesk_core_connect_test("127.0.0.1", port, "sa", "wrong", nullptr, 0, 5); }},
      {"kill", "success", [&] { return dbdesk_core_kill_spid(c.c_str(), 77); }},
      {"kill", "refused", [&] { return dbdesk_core_kill_spid(c.c_str(), 5); }},
      {"cancel", "nothing running", [&] { return dbdesk_core_cancel("no-such-tab"); }},
      {"tree", "columns", [&] { return dbdesk_core_tree(c.c_str(), "columns", "demo", "dbo", "orders"); }},
      {"tree", "server node", [&] { return dbdesk_core_tree(c.c_str(), "server", nullptr, nullptr, nullptr); }},
      {"script", "create", [&] {
         return dbdesk_core_script_object(c.c_str(), "demo", "table", "dbo", "items", "create");
       }},
      {"script", "alter", [&] {
         return dbdesk_core_script_object(c.c_str(), "demo", "procedure", "dbo", "add_item", "alter");
       }},
      {"grid-load", "keyed table",
       [&] { return dbdesk_core_editgrid_load(c.c_str(), "demo", "dbo", "products", 10); }},
      {"grid-apply", "dry run", [&] {
         return dbdesk_core_editgrid_apply(c.c_str(), "demo", "dbo", "products",
                                           "[{\"op\":\"delete\",\"pk\":{\"id\":3}}]", 1);
       }},
      {"row-set", "sessions", [&] { return dbdesk_core_activity(c.c_str(), "sessions"); }},
      {"row-set", "files", [&] { return dbdesk_core_storage(c.c_str(), "demo", "files", nullptr); }},
      {"row-set", "failed view", [&] { return dbdesk_core_admin(c.c_str(), "logins", nullptr, nullptr); }},
      {"backup", "failed backup",
       [&] { return dbdesk_core_storage(c.c_str(), "demo", "backup", "/var/backups/demo.bak"); }},
      {"job-control", "failed start", [&] {
         return dbdesk_core_admin(c.c_str(), "job_control", nullptr,
                                  "{\"job_id\":\"5D5A0C1E-0000-0000-0000-000000000001\",\"action\":\"start\"}");
       }},
  };
  shape_walker walker(book);
  for (const auto &k : cases) {
    Reply r = take(k.call());
    auto problems = walker.walk(r.doc, k.shape);
    EXPECT_TRUE(problems.empty()) << k.shape << " (" << k.what << "): " << problems.front() << "\n" << r.text;
  }
}

}  // namespace
