// The server's fault injection against real db-lib: faults while logging
// in, result sets cut mid-stream, and raw bytes that are no valid token.
#include <chrono>
#include <string>
#include <vector>

#include "dblib_client.h"

namespace tdstest {
namespace {

using namespace std::chrono_literals;
using tds::Column;
using tds::ConnectionFault;
using tds::Type;
using Clock = std::chrono::steady_clock;

class Faults : public ServerTest {};

TEST_F(Faults, ConnectionFaultsFailTheLoginAndEndWithTheFault) {
  struct Case {
    ConnectionFault fault;
    Codes codes;
    bool login_arrived;
  };
  const std::vector<Case> cases = {
      {ConnectionFault::DropAtPrelogin, {"ERR 20017", "ERR 20002"}, false},
      {ConnectionFault::DropAtLogin, {"ERR 20017", "ERR 20002"}, true},
      {ConnectionFault::GarbagePrelogin, {"ERR 20002"}, false},
      {ConnectionFault::TruncatedPrelogin, {"ERR 20002"}, false},
      {ConnectionFault::GarbageLogin, {"ERR 20020", "ERR 20002"}, true},
      // The answer's first tokens arrive whole, then the connection ends.
      {ConnectionFault::TruncatedLogin, {"MSG 5701", "ERR 20017", "MSG 5703", "ERR 20002"}, true},
      {ConnectionFault::StallAtPrelogin, {"ERR 20003", "ERR 20002"}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    server.set_connection_fault(c.fault, 30s);
    server.clear_records();
    Events::get().clear();
    const auto start = Clock::now();
    EXPECT_EQ(open(server.port(), {.login_timeout_s = 1}), nullptr);
    // The stall ends when the client gives up after its login time-out.
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(Events::get().codes(), c.codes);
    EXPECT_EQ(server.prelogins().size(), 1u);
    EXPECT_EQ(server.logins().size(), c.login_arrived ? 1u : 0u);
    EXPECT_TRUE(server.wait_for_open_connections(0, 5s));
  }
  server.set_connection_fault(ConnectionFault::None);
  EXPECT_NE(connect(), nullptr);
}

// A set whose rows are long enough to span several PLP chunks each.
tds::ResultSet two_long_rows() {
  tds::ResultSet rs;
  rs.columns = {Column{"id", Type::Int}, Column{"note", Type::NVarChar, 0}};
  rs.rows = {{"1", std::string(20000, 'a')}, {"2", std::string(20000, 'b')}};
  return rs;
}

TEST_F(Faults, CutResultSetDeliversTheRowsBeforeTheCutThenEof) {
  const tds::ResultSet rs = two_long_rows();
  const tds::ResultSetLayout layout = tds::layout_of(rs, false);
  ASSERT_EQ(layout.row_ends.size(), 2u);
  ASSERT_GE(layout.plp_chunk_starts.size(), 4u);  // several chunks per row
  const std::size_t second_row_chunk = layout.plp_chunk_starts.size() / 2 + 1;
  struct Case {
    const char *where;
    std::size_t cut;
    bool results;  // dbresults succeeds: the column metadata arrived
    int rows;
  };
  const std::vector<Case> cases = {
      {"after COLMETADATA", layout.colmetadata_end, false, 0},
      {"inside the first row's id", layout.colmetadata_end + 3, true, 0},
      {"inside a PLP chunk of the first row", layout.plp_chunk_starts[1] + 100, true, 0},
      {"inside a PLP chunk of the second row", layout.plp_chunk_starts[second_row_chunk] + 100, true, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.where);
    ASSERT_LT(c.cut, layout.row_ends.back());
    tds::ResultSet cut = rs;
    cut.cut_after = c.cut;
    server.clear_handlers();
    server.on("q", {cut});
    DBPROCESS *db = connect();
    ASSERT_NE(db, nullptr);
    Events::get().clear();
    dbcmd(db, "q");
    ASSERT_EQ(dbsqlexec(db), SUCCEED);
    int rows = 0;
    const bool results = dbresults(db) == SUCCEED;
    if (results) {
      while (dbnextrow(db) == REG_ROW) ++rows;
    }
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(Events::get().codes().front(), "ERR 20017");
    EXPECT_TRUE(DBDEAD(db));
  }
}

TEST_F(Faults, RawBytesThatAreNoTokenKillTheSession) {
  struct Case {
    const char *what;
    tds::Raw raw;
    const char *code;  // db-lib's first complaint
  };
  const std::vector<Case> cases = {
      {"an unknown token type", {{0x5A, 1, 2, 3}}, "ERR 20020"},
      // An INFO token announcing 1024 bytes in a message that ends after 5.
      {"a token longer than the message", {{0xAB, 0x00, 0x04, 1, 2, 3, 4, 5}, true}, "ERR 20003"},
      {"a DONE cut short", {{0xFD, 0x00, 0x00}, true}, "ERR 20003"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    server.clear_handlers();
    server.on("q", {c.raw});
    DBPROCESS *db = connect();
    ASSERT_NE(db, nullptr);
    Events::get().clear();
    dbsettime(1);  // the bytes that never come end in a time-out
    const auto start = Clock::now();
    dbcmd(db, "q");
    EXPECT_EQ(dbsqlexec(db), FAIL);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(Events::get().codes().front(), c.code);
    EXPECT_TRUE(DBDEAD(db));
    dbsettime(0);
  }
}

}  // namespace
}  // namespace tdstest
