#include "demo_cli.h"

#include <chrono>
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

ResultSet months(std::vector<Row> rows) {
  ResultSet rs;
  rs.columns = {{"month", Type::NVarChar, 7, 0, 0, false}, {"revenue", Type::Decimal, 0, 12, 2, false}};
  rs.rows = std::move(rows);
  return rs;
}

// A report the server works on for a while: its first quarter and a progress
// message come at once, the rest after a pause, so a streamed query shows
// them arriving while it runs.
void register_report(Server &server) {
  server.on("EXEC demo.dbo.monthly_report",
            {months({{"2026-01", "1200.50"}, {"2026-02", "980.00"}, {"2026-03", "1432.25"}}),
             print("50 percent processed."), Delay{std::chrono::milliseconds(1500)},
             months({{"2026-04", "1510.00"}, {"2026-05", "1377.80"}, {"2026-06", "1620.10"}}),
             print("100 percent processed."), DoneNoCount{}});
}

// A table of 200,000 numbered rows for a streamed export.
void register_numbers(Server &server) {
  ResultSet rs;
  rs.columns = {{"n", Type::Int, 0, 0, 0, false}, {"square", Type::BigInt, 0, 0, 0, false}};
  rs.generated_rows = 200000;
  rs.generate = [](std::size_t i, Row &row) {
    row[0] = std::to_string(i + 1);
    row[1] = std::to_string(static_cast<long long>(i + 1) * static_cast<long long>(i + 1));
  };
  server.on("SELECT n, square FROM demo.dbo.numbers", {rs});
}

}  // namespace

void register_cli_demo(Server &server) {
  register_kill(server);
  register_accounts(server);
  register_report(server);
  register_numbers(server);
}

}  // namespace tds::demo
