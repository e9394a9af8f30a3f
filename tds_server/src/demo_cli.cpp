#include "demo_cli.h"

#include <regex>
#include <string>

namespace tds::demo {

namespace {

void register_kill(Server &server) {
  server.on("KILL 77", {DoneNoCount{}});
  static const std::regex kill_re("^KILL ([0-9]+)$");
  server.on_match([](const std::string &sql) { return std::regex_match(sql, kill_re); },
                  [](const std::string &sql) {
                    std::smatch m;
                    std::regex_match(sql, m, kill_re);
                    return Reply{BatchAbort{error(6106, "Process ID " + m[1].str() +
                                                            " is not an active process ID.")}};
                  });
}

ResultSet accounts(std::vector<Row> rows) {
  ResultSet rs;
  rs.columns = {{"id", Type::BigInt, 0, 0, 0, false},
                {"owner", Type::NVarChar, 50, 0, 0, true},
                {"balance", Type::Decimal, 0, 38, 10, true}};
  rs.rows = std::move(rows);
  return rs;
}

void register_accounts(Server &server) {
  const Row big{"9007199254740993", "Ada", "12345678901234567890.1234567891"};
  server.on("SELECT id, owner, balance FROM demo.dbo.accounts",
            {accounts({big, {"42", "Brian", "-0.5000000000"}, {"9223372036854775807", "Grace", std::nullopt}})});
  server.on("SELECT id, owner, balance FROM demo.dbo.accounts WHERE id = 9007199254740993", {accounts({big})});
}

}  // namespace

void register_cli_demo(Server &server) {
  register_kill(server);
  register_accounts(server);
}

}  // namespace tds::demo
