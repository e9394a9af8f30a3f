#include "demo_script.h"

#include <cstdio>
#include <regex>
#include <string>

namespace tds::demo {

void register_demo(Server &server) {
  server.add_database("demo");
  server.add_database("bench");

  ResultSet dbs;
  dbs.columns = {{"name", Type::NVarChar, 128, 0, 0, false}, {"database_id", Type::Int, 0, 0, 0, false}};
  dbs.rows = {{"master", "1"}, {"tempdb", "2"}, {"msdb", "4"}, {"demo", "5"}};
  server.on("SELECT name, database_id FROM sys.databases", {dbs});

  // PRINT 'text' answers with the text as a message, like the real statement.
  static const std::regex print_re("^PRINT '(.*)'$");
  server.on_match([](const std::string &sql) { return std::regex_match(sql, print_re); },
                  [](const std::string &sql) {
                    std::smatch m;
                    std::regex_match(sql, m, print_re);
                    std::string text = m[1].str();  // '' inside a T-SQL literal is one quote
                    for (auto at = text.find("''"); at != std::string::npos; at = text.find("''", at + 1)) {
                      text.erase(at, 1);
                    }
                    return Reply{print(text), DoneNoCount{}};
                  });

  ResultSet count;
  count.columns = {{"n", Type::Int, 0, 0, 0, true}};
  count.rows = {{"3"}};
  server.on("SELECT COUNT(*) AS n FROM demo.dbo.items", {count});

  ResultSet one;
  one.columns = {{"n", Type::Int, 0, 0, 0, false}};
  one.rows = {{"1"}};
  server.on("SELECT 1 AS n", {one});

  // A statement the server works on for 30 seconds (the Stop demo).
  server.on("WAITFOR DELAY '00:00:30'", {Delay{std::chrono::milliseconds(30000)}, RowCount{0}});

  register_tree_demo(server);
  register_scripting_demo(server);
  register_editgrid_demo(server);
  register_admin_demo(server);
}

ResultSet wide_result(std::size_t rows) {
  ResultSet rs;
  rs.columns = {
      {"id", Type::Int, 0, 0, 0, false},
      {"big", Type::BigInt, 0, 0, 0, true},
      {"label", Type::NVarChar, 50, 0, 0, true},
      {"code", Type::VarChar, 20, 0, 0, true},
      {"amount", Type::Decimal, 0, 18, 4, true},
      {"ratio", Type::Float, 0, 0, 0, true},
      {"created", Type::DateTime, 0, 0, 0, true},
      {"flag", Type::Bit, 0, 0, 0, true},
      {"blob", Type::VarBinary, 16, 0, 0, true},
      {"maybe", Type::Int, 0, 0, 0, true},
  };
  rs.generated_rows = rows;
  rs.generate = [](std::size_t i, Row &row) {
    char buf[64];
    row[0] = std::to_string(i + 1);
    row[1] = std::to_string(static_cast<long long>(i) * 1'000'003LL);
    row[2] = "item " + std::to_string(i) + " \xC3\xA9t\xC3\xA9";
    row[3] = "C" + std::to_string(i % 100000);
    std::snprintf(buf, sizeof buf, "%zu.%04zu", i, (i * 37) % 10000);
    row[4] = buf;
    row[5] = std::to_string(static_cast<double>(i) / 7.0);
    std::snprintf(buf, sizeof buf, "2024-%02zu-%02zu %02zu:%02zu:%02zu.%03zu", i % 12 + 1, i % 28 + 1,
                  i % 24, i % 60, (i / 60) % 60, (i % 333) * 3);
    row[6] = buf;
    row[7] = i % 2 ? "1" : "0";
    std::snprintf(buf, sizeof buf, "0x%08zX%08zX", i, ~i & 0xFFFFFFFFu);
    row[8] = buf;
    if (i % 5 != 0) row[9] = std::to_string(i % 1000);
  };
  return rs;
}

void register_bench(Server &server, std::size_t rows) {
  server.on("SELECT * FROM bench.dbo.wide", {wide_result(rows)});
}

}  // namespace tds::demo
