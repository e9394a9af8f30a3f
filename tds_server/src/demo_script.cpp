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

}  // namespace tds::demo
