#include "connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <type_traits>

#include "builtins.h"
#include "columns.h"
#include "login.h"
#include "login_faults.h"
#include "result_sets.h"
#include "tokens.h"

namespace tds::detail {

using namespace wire;

namespace {

constexpr std::uint32_t kMinPacketSize = 512;
constexpr std::uint32_t kMaxPacketSize = 32767;

std::uint32_t negotiate_packet_size(std::uint32_t requested) {
  return requested >= kMinPacketSize && requested <= kMaxPacketSize ? requested
                                                                     : kDefaultPacketSize;
}

// Where the SQL text starts: after ALL_HEADERS, whose first DWORD is its
// total length (including itself).
std::size_t sql_text_offset(const Bytes &payload) {
  if (payload.size() < 4) return 0;
  const std::uint32_t total = get_u32(payload.data());
  return total >= 4 && total <= payload.size() ? total : 0;
}

LoginRecord login_record(const Login7 &l, int spid, int prelogin_encryption) {
  LoginRecord r;
  r.spid = spid;
  r.tds_version = l.tds_version;
  r.user = l.user;
  r.password = l.password;
  r.app_name = l.app_name;
  r.host_name = l.host_name;
  r.server_name = l.server_name;
  r.library = l.library;
  r.language = l.language;
  r.database = l.database;
  r.packet_size = l.packet_size;
  r.prelogin_encryption = prelogin_encryption;
  return r;
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

Connection::Connection(int fd, int spid, ServerState &state)
    : fd_(fd), spid_(spid), state_(state), writer_(fd) {
  writer_.set_spid(static_cast<std::uint16_t>(spid));
}

void Connection::run() {
  if (!handshake()) return;
  Packet message;
  while (!closed_ && writer_.ok() && read_message(message)) {
    switch (message.type) {
      case kSqlBatch: serve_batch(message.payload); break;
      case kAttention:
        state_.record_attention();
        acknowledge_attention();
        break;
      default:
        send_reply({BatchAbort{error(50000, "tds_server: unsupported request type " +
                                                std::to_string(message.type))}},
                   std::nullopt);
        break;
    }
  }
}

// ---- requests ----

bool Connection::read_raw_packet(Packet &p) {
  if (!stashed_.empty()) {
    p = std::move(stashed_.front());
    stashed_.pop_front();
    return true;
  }
  return read_packet(fd_, p);
}

bool Connection::read_message(Packet &message) {
  if (!read_raw_packet(message)) return false;
  Packet more;
  while (!message.eom()) {
    if (!read_raw_packet(more)) return false;
    message.payload.insert(message.payload.end(), more.payload.begin(), more.payload.end());
    message.status = more.status;
  }
  return true;
}

bool Connection::handshake() {
  const ServerState::LoginFault fault = state_.connection_fault();
  Packet message;
  if (!read_message(message)) return false;
  int encryption = -1;
  if (message.type == kPrelogin) {
    const auto offered = parse_prelogin_encryption(message.payload);
    if (!offered) return false;
    encryption = *offered;
    state_.record_prelogin(PreloginRecord{encryption});
    if (!answer_prelogin(fault)) return false;
    // A client that insists on TLS hangs up here: the connection just ends.
    if (!read_message(message)) return false;
  }
  return message.type == kLogin7 && answer_login(message, encryption, fault.fault);
}

bool Connection::answer_prelogin(const ServerState::LoginFault &fault) {
  switch (fault.fault) {
    case ConnectionFault::DropAtPrelogin: return false;
    case ConnectionFault::StallAtPrelogin:
      wait(fault.stall);
      if (closed_) return false;
      break;
    default: break;
  }
  Bytes &out = writer_.out();
  out = fault.fault == ConnectionFault::GarbagePrelogin ? garbage_prelogin_reply() : prelogin_reply();
  if (fault.fault == ConnectionFault::TruncatedPrelogin) cut_in_half(out);
  writer_.end_message();
  // A garbled answer is the last thing the client gets.
  return writer_.ok() && !garbles_prelogin(fault.fault);
}

bool Connection::answer_login(const Packet &message, int prelogin_encryption, ConnectionFault fault) {
  const auto login = parse_login7(message.payload);
  if (!login) return false;
  if (const auto delay = state_.login_delay(); delay.count() > 0) {
    wait(delay);
    if (closed_) return false;
  }
  const bool password_ok = state_.password_matches(login->user, login->password);
  const auto database =
      login->database.empty() ? std::optional<std::string>("master") : state_.find_database(login->database);
  LoginRecord record = login_record(*login, spid_, prelogin_encryption);
  record.succeeded = password_ok && database.has_value() && !faults_login(fault);
  state_.record_login(std::move(record));

  Bytes &out = writer_.out();
  if (fault == ConnectionFault::DropAtLogin) return false;
  if (fault == ConnectionFault::GarbageLogin) {
    out = garbage_login_reply();
    writer_.end_message();
    return false;
  }
  const Message login_failed = error(18456, "Login failed for user '" + login->user + "'.", 14);
  if (!password_ok || !database) {
    if (password_ok) {
      put_message(out, error(4060, "Cannot open database \"" + login->database +
                                       "\" requested by the login. The login failed.", 11));
    }
    put_message(out, login_failed);
    put_done(out, kDoneError, 0, 0);
    writer_.end_message();
    return false;
  }
  database_ = *database;
  const std::uint32_t packet_size = negotiate_packet_size(login->packet_size);
  put_env_text(out, kEnvDatabase, database_, "master");
  put_message(out, info(5701, "Changed database context to '" + database_ + "'.", 0, 2));
  put_env_text(out, kEnvLanguage, "us_english", "");
  put_message(out, info(5703, "Changed language setting to us_english.", 0, 1));
  put_env_collation(out, state_.utf8_collation());
  put_loginack(out);
  put_env_text(out, kEnvPacketSize, std::to_string(packet_size), std::to_string(kDefaultPacketSize));
  put_done(out, kDoneFinal, 0, 0);
  if (fault == ConnectionFault::TruncatedLogin) {
    cut_in_half(out);
    writer_.end_message();
    return false;
  }
  writer_.end_message();
  writer_.set_packet_size(packet_size);
  return writer_.ok();
}

void Connection::serve_batch(const Bytes &payload) {
  const std::size_t at = sql_text_offset(payload);
  std::string sql = utf16le_to_utf8(payload.data() + at, payload.size() - at);
  state_.record_batch(BatchRecord{spid_, sql});
  std::shared_ptr<const Reply> scripted;
  try {
    scripted = state_.scripted_reply(sql);
  } catch (const std::exception &e) {
    scripted = std::make_shared<const Reply>(
        Reply{BatchAbort{error(50000, std::string("tds_server: handler failed: ") + e.what())}});
  }
  if (scripted) {
    send_reply(*scripted, std::nullopt);
    return;
  }
  BuiltinAnswer answer = builtin_answer(sql, database_, state_);
  send_reply(answer.reply, answer.new_database);
}

void Connection::acknowledge_attention() {
  put_done(writer_.out(), kDoneAttn, 0, 0);
  writer_.end_message();
}

// ---- replies ----

Connection::Outcome Connection::send_reply(const Reply &reply,
                                           const std::optional<std::string> &new_database) {
  attention_ = false;
  held_done_.reset();
  reply_ended_ = false;
  polled_at_packets_ = ~std::uint64_t{0};
  if (new_database) {
    put_env_text(writer_.out(), kEnvDatabase, *new_database, database_);
    database_ = *new_database;
  }
  for (const Item &item : reply) {
    const Outcome outcome = send_item(item);
    if (outcome == Outcome::Closed) return outcome;
    if (outcome == Outcome::Attention) {
      finish_with_attention();
      return outcome;
    }
    if (reply_ended_) break;
  }
  finish_reply();
  return Outcome::Done;
}

Connection::Outcome Connection::send_item(const Item &item) {
  if (interrupted()) return closed_ ? Outcome::Closed : Outcome::Attention;
  Bytes &out = writer_.out();
  return std::visit(
      Overloaded{
          [&](const ResultSet &rs) { return send_result_set(rs); },
          [&](const RowCount &rc) {
            begin_token();
            held_done_ = HeldDone{kDoneCount, 0, rc.count};
            return Outcome::Done;
          },
          [&](const DoneNoCount &) {
            begin_token();
            held_done_ = HeldDone{};
            return Outcome::Done;
          },
          [&](const Message &m) {
            begin_token();
            put_message(out, m);
            return Outcome::Done;
          },
          [&](const StatementError &e) {
            begin_token();
            put_message(out, e.msg);
            held_done_ = HeldDone{kDoneError, 0, 0};
            return Outcome::Done;
          },
          [&](const BatchAbort &a) {
            send_abort(a.msg);
            return Outcome::Done;
          },
          [&](const Delay &d) { return send_delay(d); },
          [&](const Drop &) {
            begin_token();
            return drop_connection();
          },
          [&](const Raw &r) {
            begin_token();
            put_bytes(out, r.bytes.data(), r.bytes.size());
            if (r.ends_reply) reply_ended_ = true;
            return Outcome::Done;
          },
      },
      item);
}

Connection::Outcome Connection::send_result_set(const ResultSet &rs) {
  begin_token();
  const bool utf8 = state_.utf8_collation();
  if (rs.cut_after) return send_cut_result_set(rs, utf8);
  put_colmetadata(writer_.out(), rs.columns, utf8);
  if (rs.encoded && rs.encoded->utf8 == utf8) return send_encoded_rows(rs);
  const std::size_t rows = rs.generate ? rs.generated_rows : rs.rows.size();
  Row scratch;
  for (std::size_t i = 0; i < rows; ++i) {
    if (interrupted()) return closed_ ? Outcome::Closed : Outcome::Attention;
    const Row *row = &scratch;
    if (rs.generate) {
      scratch.assign(rs.columns.size(), std::nullopt);
      try {
        rs.generate(i, scratch);
      } catch (const std::exception &e) {
        send_abort(error(50000, std::string("tds_server: row generator failed: ") + e.what()));
        return Outcome::Done;
      }
    } else {
      row = &rs.rows[i];
    }
    if (!send_row(rs, *row, utf8)) return Outcome::Done;
    writer_.send_full_packets();
  }
  if (rs.final_done) held_done_ = HeldDone{kDoneCount, kCurCmdSelect, rows};
  return Outcome::Done;
}

Connection::Outcome Connection::send_cut_result_set(const ResultSet &rs, bool utf8) {
  Bytes set;
  try {
    set = encode_result_set(rs, utf8);
  } catch (const std::exception &e) {
    send_abort(error(50000, std::string("tds_server: bad row value: ") + e.what()));
    return Outcome::Done;
  }
  set.resize(std::min(*rs.cut_after, set.size()));
  Bytes &out = writer_.out();
  out.insert(out.end(), set.begin(), set.end());
  return drop_connection();
}

Connection::Outcome Connection::drop_connection() {
  writer_.flush();
  ::shutdown(fd_, SHUT_RDWR);
  closed_ = true;
  return Outcome::Closed;
}

Connection::Outcome Connection::send_encoded_rows(const ResultSet &rs) {
  constexpr std::size_t kChunk = 32 * 1024;
  const EncodedRows &e = *rs.encoded;
  Bytes &out = writer_.out();
  for (std::size_t r = 0; r < e.repeat; ++r) {
    for (std::size_t at = 0; at < e.bytes.size(); at += kChunk) {
      if (interrupted()) return closed_ ? Outcome::Closed : Outcome::Attention;
      const std::size_t n = std::min(kChunk, e.bytes.size() - at);
      out.insert(out.end(), e.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 e.bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
      writer_.send_full_packets();
    }
  }
  if (rs.final_done) held_done_ = HeldDone{kDoneCount, kCurCmdSelect, e.rows * e.repeat};
  return Outcome::Done;
}

bool Connection::send_row(const ResultSet &rs, const Row &row, bool utf8) {
  Bytes &out = writer_.out();
  const std::size_t mark = out.size();
  try {
    put_row(out, rs.columns, row, rs.use_nbcrow, utf8);
    return true;
  } catch (const std::exception &e) {
    out.resize(mark);
    send_abort(error(50000, std::string("tds_server: bad row value: ") + e.what()));
    return false;
  }
}

Connection::Outcome Connection::send_delay(const Delay &d) {
  begin_token();
  writer_.flush();
  wait(d.ms);
  if (closed_ || !writer_.ok()) return Outcome::Closed;
  return attention_ ? Outcome::Attention : Outcome::Done;
}

void Connection::send_abort(const Message &m) {
  begin_token();
  put_message(writer_.out(), m);
  put_done(writer_.out(), kDoneError, 0, 0);
  reply_ended_ = true;
}

void Connection::begin_token() {
  if (!held_done_) return;
  put_done(writer_.out(), held_done_->status | kDoneMore, held_done_->cur_cmd, held_done_->count);
  held_done_.reset();
}

void Connection::finish_reply() {
  if (!reply_ended_) {
    const HeldDone last = held_done_.value_or(HeldDone{});
    put_done(writer_.out(), last.status, last.cur_cmd, last.count);
    held_done_.reset();
  }
  writer_.end_message();
}

void Connection::finish_with_attention() {
  // Whatever is buffered holds whole tokens; the client skips to the ATTN DONE.
  held_done_.reset();
  acknowledge_attention();
}

// ---- reading during a reply ----

void Connection::wait(std::chrono::milliseconds ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + ms;
  while (!attention_ && !closed_ && writer_.ok()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    poll_input(static_cast<int>(std::min<std::int64_t>(left.count() + 1, 60'000)));
  }
}

bool Connection::interrupted() {
  if (!writer_.ok()) closed_ = true;
  if (attention_ || closed_) return true;
  // Poll once per packet sent: between packets the client has nothing new
  // to react to, and a syscall per row would slow large streams.
  if (writer_.packets_sent() == polled_at_packets_) return false;
  polled_at_packets_ = writer_.packets_sent();
  return poll_input(0);
}

bool Connection::poll_input(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeout_ms);
  if (ready <= 0) return false;  // nothing yet (or EINTR: the caller polls again)
  Packet packet;
  if (!read_packet(fd_, packet)) {
    closed_ = true;
    return true;
  }
  if (packet.type == kAttention) {
    attention_ = true;
    state_.record_attention();
    return true;
  }
  stashed_.push_back(std::move(packet));
  return false;
}

}  // namespace tds::detail
