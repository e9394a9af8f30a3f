#include "dblib_client.h"

#include <cstring>

namespace tdstest {

Events &Events::get() {
  static Events events;
  return events;
}

void Events::clear() {
  std::lock_guard lock(mu_);
  events_.clear();
  err_reply = INT_CANCEL;
}

std::vector<Event> Events::all() const {
  std::lock_guard lock(mu_);
  return events_;
}

std::vector<std::string> Events::codes() const {
  std::vector<std::string> out;
  for (const Event &e : all()) out.push_back((e.kind == Event::Msg ? "MSG " : "ERR ") + std::to_string(e.number));
  return out;
}

void Events::add(Event e) {
  std::lock_guard lock(mu_);
  events_.push_back(std::move(e));
}

namespace {

int record_error(DBPROCESS *, int severity, int dberr, int oserr, char *dberrstr, char *) {
  Event e;
  e.kind = Event::Err;
  e.number = dberr;
  e.severity = severity;
  e.oserr = oserr;
  e.text = dberrstr ? dberrstr : "";
  Events::get().add(e);
  return Events::get().err_reply;
}

int record_message(DBPROCESS *, DBINT msgno, int msgstate, int severity, char *msgtext, char *srvname,
                   char *, int line) {
  Event e;
  e.kind = Event::Msg;
  e.number = msgno;
  e.severity = severity;
  e.state = msgstate;
  e.line = line;
  e.text = msgtext ? msgtext : "";
  e.server = srvname ? srvname : "";
  Events::get().add(e);
  return 0;
}

}  // namespace

void init_dblib() {
  static const bool ready = [] {
    if (dbinit() == FAIL) return false;
    dberrhandle(record_error);
    dbmsghandle(record_message);
    return true;
  }();
  ASSERT_TRUE(ready);
}

DBPROCESS *open(std::uint16_t port, const LoginOptions &o) {
  LOGINREC *login = dblogin();
  DBSETLUSER(login, o.user.c_str());
  DBSETLPWD(login, o.password.c_str());
  DBSETLAPP(login, o.app.c_str());
  DBSETLHOST(login, o.host.c_str());
  DBSETLCHARSET(login, "UTF-8");
  if (o.database) DBSETLDBNAME(login, o.database->c_str());
  dbsetlversion(login, DBVERSION_74);
  dbsetlogintime(o.login_timeout_s);
  const std::string server = "127.0.0.1:" + std::to_string(port);
  DBPROCESS *dbproc = tdsdbopen(login, server.c_str(), 0);
  dbloginfree(login);
  return dbproc;
}

Cell cell_text(DBPROCESS *dbproc, int column) {
  BYTE *data = dbdata(dbproc, column);
  const DBINT len = dbdatlen(dbproc, column);
  if (data == nullptr) return std::nullopt;
  const int type = dbcoltype(dbproc, column);
  if (type == SYBCHAR || type == SYBTEXT) return std::string(reinterpret_cast<char *>(data), len);
  std::vector<char> buf(65536);
  const DBINT n = dbconvert(dbproc, type, data, len, SYBCHAR, reinterpret_cast<BYTE *>(buf.data()), 65535);
  if (n < 0) return std::string("<dbconvert failed>");
  return std::string(buf.data(), n);
}

Rows fetch_rows(DBPROCESS *dbproc) {
  Rows rows;
  const int columns = dbnumcols(dbproc);
  while (dbnextrow(dbproc) == REG_ROW) {
    std::vector<Cell> row;
    for (int c = 1; c <= columns; ++c) row.push_back(cell_text(dbproc, c));
    rows.push_back(std::move(row));
  }
  return rows;
}

Rows query(DBPROCESS *dbproc, const std::string &sql) {
  dbcmd(dbproc, sql.c_str());
  EXPECT_EQ(dbsqlexec(dbproc), SUCCEED) << sql;
  EXPECT_EQ(dbresults(dbproc), SUCCEED) << sql;
  Rows rows = fetch_rows(dbproc);
  EXPECT_EQ(dbresults(dbproc), NO_MORE_RESULTS) << sql;
  return rows;
}

void ServerTest::SetUp() {
  init_dblib();
  dbsettime(0);
  Events::get().clear();
  server.start(0);
}

void ServerTest::TearDown() {
  for (DBPROCESS *p : opened) dbclose(p);
  dbsettime(0);
  server.stop();
}

DBPROCESS *ServerTest::connect(const LoginOptions &options) {
  DBPROCESS *p = open(server.port(), options);
  if (p != nullptr) opened.push_back(p);
  return p;
}

}  // namespace tdstest
