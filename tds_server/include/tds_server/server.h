// A TDS 7.4 server double on 127.0.0.1 for tests, benchmarks and demos.
//
// Real FreeTDS db-lib clients log into it over real TCP. It answers SQL
// batches with scripted replies and records every PRELOGIN, login and batch
// it receives, so tests can assert on the exact T-SQL a client sent.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <variant>
#include <vector>

namespace tds {

// Server-side column types. Each is encoded with the TDS type a SQL Server
// would use for it (nullable columns use the nullable wire forms).
enum class Type {
  TinyInt, SmallInt, Int, BigInt, Bit, Real, Float,
  Decimal, Numeric,            // precision, scale
  Money, SmallMoney,
  DateTime, SmallDateTime, Date,
  Time, DateTime2, DateTimeOffset,  // scale (0..7)
  Char, VarChar, NChar, NVarChar,   // length in characters (VarChar/NVarChar: 0 = max, sent as PLP)
  Binary, VarBinary,                // length in bytes (VarBinary: 0 = max, PLP)
  UniqueIdentifier,
  Text, NText, Image, Xml,
  SqlVariant,                       // "0x.." values are sql_variant(varbinary), others sql_variant(int)
  Udt,                              // a CLR type (sent as hierarchyid); values in hex, sent as PLP
};

struct Column {
  std::string name;
  Type type = Type::Int;
  int length = 0;     // characters or bytes, see Type; 0 means (max) for VarChar/NVarChar/VarBinary
  int precision = 0;  // Decimal/Numeric
  int scale = 0;      // Decimal/Numeric; Time/DateTime2/DateTimeOffset (default 7 when -1)
  bool nullable = true;
};

// A cell, in literal text form; std::nullopt is NULL.
//  integers / bit: "123", "-5", "1"; real/float: "3.5"; decimal/money: "-12345678.91";
//  datetime/smalldatetime/datetime2: "2024-02-29 13:45:30.997"; date: "2024-02-29";
//  time: "13:45:30.1234560"; datetimeoffset: "2024-02-29 13:45:30.1234560 +05:30"
//  (the local time, offset in minutes sent as the client expects);
//  character types: UTF-8 text (encoded as the wire type requires);
//  binary types: "0x01AB" (hex); uniqueidentifier: "6F9619FF-8B86-D011-B42D-00C04FC964FF".
using Value = std::optional<std::string>;
using Row = std::vector<Value>;

// Reply items, sent in order as one TDS reply message. Every DONE the server
// writes carries DONE_MORE except the reply's last one; if the items end
// without a DONE the server appends a final DONE.
// ROW tokens encoded once and sent as they are (benchmarks: the server's own
// encoding then costs nothing per request). `bytes` holds `rows` rows and is
// sent `repeat` times.
struct EncodedRows {
  std::vector<std::uint8_t> bytes;
  std::size_t rows = 0;
  std::size_t repeat = 1;
  bool utf8 = false;  // collation the char columns were encoded for
};

struct ResultSet {           // COLMETADATA, ROWs, DONE(COUNT = rows)
  std::vector<Column> columns;
  std::vector<Row> rows;
  // When set, rows are produced on the fly instead of taken from `rows`:
  // generate(i, row) fills row i of generated_rows (for large streams);
  // `row` arrives holding one NULL cell per column.
  std::function<void(std::size_t, Row &)> generate;
  std::size_t generated_rows = 0;
  bool use_nbcrow = false;   // send rows as NBCROW
  // When set (and encoded for the session's collation), these bytes replace
  // `rows` and `generate`.
  std::shared_ptr<const EncodedRows> encoded;
  bool final_done = true;    // false: no DONE after the rows (an ERROR may follow, as in SELECT 1/0)
  // When set, only this many bytes of the set's encoding (COLMETADATA, then
  // the rows; see layout_of) are sent, then the socket is closed: a
  // connection lost mid-stream. `encoded` is not used then.
  std::optional<std::size_t> cut_after;
};
struct RowCount { std::uint64_t count = 0; };   // DONE(COUNT) of INSERT/UPDATE/DELETE
struct DoneNoCount {};                          // DONE without count (SET, PRINT-only statements)
struct Message {                                // INFO (severity <= 10) or ERROR token
  int number = 0;
  int severity = 0;
  int state = 1;
  std::string text;
  int line = 1;
  std::string proc;
};
struct StatementError {   // ERROR, then DONE(ERROR|MORE): the batch goes on
  Message msg;
};
struct BatchAbort {       // ERROR, then final DONE(ERROR): nothing after it is sent
  Message msg;
};
struct Delay { std::chrono::milliseconds ms{0}; };  // flush, then wait (ends early on ATTENTION)
struct Drop {};                                     // flush, then close the socket mid-reply
// Bytes written into the reply as they are: garbage, or tokens cut short.
// `ends_reply`: the reply message ends right after them: no DONE and no
// later item follows.
struct Raw {
  std::vector<std::uint8_t> bytes;
  bool ends_reply = false;
};
using Item = std::variant<ResultSet, RowCount, DoneNoCount, Message, StatementError,
                          BatchAbort, Delay, Drop, Raw>;
using Reply = std::vector<Item>;

// Encodes every row of rs (from `rows` or `generate`) once; throws
// std::invalid_argument on a value that does not fit its column.
std::shared_ptr<const EncodedRows> encode_rows(const ResultSet &rs, bool utf8,
                                               std::size_t repeat = 1);

// Where things lie in a result set's encoding as sent (COLMETADATA first,
// then the rows; the DONE not counted), for cutting it with `cut_after`.
struct ResultSetLayout {
  std::size_t colmetadata_end = 0;             // bytes of COLMETADATA
  std::vector<std::size_t> row_ends;           // offset just past each row
  std::vector<std::size_t> plp_chunk_starts;   // offset of each PLP chunk's first data byte
};
// Throws std::invalid_argument as encode_rows does.
ResultSetLayout layout_of(const ResultSet &rs, bool utf8);

// A misbehaviour of the server while a client logs in, for every connection
// that starts its login while it is set.
enum class ConnectionFault {
  None,
  DropAtPrelogin,      // close the socket on receiving PRELOGIN
  DropAtLogin,         // close the socket on receiving LOGIN7
  GarbagePrelogin,     // answer PRELOGIN with bytes that are no PRELOGIN answer, then close
  TruncatedPrelogin,   // answer PRELOGIN with the first half of its answer, then close
  GarbageLogin,        // answer LOGIN7 with an unknown token, then close
  TruncatedLogin,      // answer LOGIN7 with its answer cut inside a token, then close
  StallAtPrelogin,     // answer PRELOGIN only after the stall (the client may hang up first)
};

// Convenience for PRINT (INFO number 0, severity 0).
Message print(std::string text, int line = 1);
Message info(int number, std::string text, int severity = 10, int state = 1, int line = 1);
Message error(int number, std::string text, int severity = 16, int state = 1, int line = 1);

struct PreloginRecord {
  int encryption = -1;  // what the client offered (0 OFF, 1 ON, 2 NOT_SUP, 3 REQ)
};

struct LoginRecord {
  int spid = 0;
  std::uint32_t tds_version = 0;  // e.g. 0x74000004
  std::string user, password, app_name, host_name, server_name, library, language, database;
  std::uint32_t packet_size = 0;
  int prelogin_encryption = -1;
  bool succeeded = false;
};

struct BatchRecord {
  int spid = 0;
  std::string sql;  // decoded from UTF-16LE, exactly as sent
};

class Server {
 public:
  // Handlers are tried in registration order before the built-ins; the first
  // that matches answers the batch.
  using Predicate = std::function<bool(const std::string &sql)>;
  using Responder = std::function<Reply(const std::string &sql)>;

  Server();
  ~Server();  // stops and joins everything
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Configuration (before or after start; thread-safe).
  void add_user(const std::string &user, const std::string &password);  // default: "sa" / "secret"
  void add_database(const std::string &name);  // master, msdb, tempdb exist by default
  void set_version_text(const std::string &text);  // the SELECT @@version answer
  void set_first_spid(int spid);  // default 51; each connection gets the next id
  // Waits this long before answering each LOGIN7 (default 0); the wait ends
  // early when the client hangs up.
  void set_login_delay(std::chrono::milliseconds delay);
  // Applies to logins that start afterwards; ConnectionFault::None ends it. `stall` is StallAtPrelogin's wait.
  void set_connection_fault(ConnectionFault fault,
                            std::chrono::milliseconds stall = std::chrono::milliseconds(0));
  // char/varchar/text columns (and the session) use Latin1_General_CI_AS by
  // default, so their data travels in Windows-1252 (other characters become
  // '?', as in such a column). true switches to a *_UTF8 collation: UTF-8
  // passes through unchanged. Applies to replies sent afterwards.
  void set_utf8_collation(bool utf8);

  void on(const std::string &exact_sql, Reply reply);
  void on_regex(const std::string &pattern, Reply reply);  // std::regex_search
  void on_match(Predicate pred, Responder responder);
  void clear_handlers();
  // The reply the registered handlers give sql (the first that matches), or
  // std::nullopt when none does; the built-ins are not asked. Lets a
  // handler answer with another server's reply, changed.
  std::optional<Reply> scripted_reply(const std::string &sql) const;

  // Starts listening on 127.0.0.1; port 0 picks an ephemeral port. Throws
  // std::runtime_error when the port cannot be bound.
  void start(std::uint16_t port = 0);
  void stop();  // closes the listener and every connection, joins threads
  std::uint16_t port() const;

  // Records.
  std::vector<LoginRecord> logins() const;
  std::vector<BatchRecord> batches() const;            // all connections, arrival order
  std::vector<std::string> batches_of(int spid) const; // one connection
  std::vector<PreloginRecord> prelogins() const;
  int attentions() const;  // ATTENTION packets received
  void clear_records();

  int open_connections() const;
  // Waits until open_connections() == n; false on time-out.
  bool wait_for_open_connections(int n, std::chrono::milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tds
