// The public face of the server double: configuration and records live in
// ServerState, sockets and threads in Listener.
#include "tds_server/server.h"

#include "columns.h"
#include "listener.h"
#include "result_sets.h"
#include "server_state.h"

namespace tds {

Message print(std::string text, int line) {
  return Message{0, 0, 1, std::move(text), line, {}};
}

Message info(int number, std::string text, int severity, int state, int line) {
  return Message{number, severity, state, std::move(text), line, {}};
}

Message error(int number, std::string text, int severity, int state, int line) {
  return Message{number, severity, state, std::move(text), line, {}};
}

std::shared_ptr<const EncodedRows> encode_rows(const ResultSet &rs, bool utf8, std::size_t repeat) {
  auto e = std::make_shared<EncodedRows>();
  e->utf8 = utf8;
  e->repeat = repeat;
  e->rows = rs.generate ? rs.generated_rows : rs.rows.size();
  wire::each_row(rs, [&](const Row &row) {
    wire::put_row(e->bytes, rs.columns, row, rs.use_nbcrow, utf8);
  });
  return e;
}

struct Server::Impl {
  detail::ServerState state;
  detail::Listener listener{state};
};

Server::Server() : impl_(std::make_unique<Impl>()) {}
Server::~Server() { stop(); }

void Server::add_user(const std::string &user, const std::string &password) {
  impl_->state.add_user(user, password);
}
void Server::add_database(const std::string &name) { impl_->state.add_database(name); }
void Server::set_version_text(const std::string &text) { impl_->state.set_version_text(text); }
void Server::set_first_spid(int spid) { impl_->state.set_first_spid(spid); }
void Server::set_login_delay(std::chrono::milliseconds delay) { impl_->state.set_login_delay(delay); }
void Server::set_connection_fault(ConnectionFault fault, std::chrono::milliseconds stall) {
  impl_->state.set_connection_fault({fault, stall});
}
void Server::set_utf8_collation(bool utf8) { impl_->state.set_utf8_collation(utf8); }

void Server::on(const std::string &exact_sql, Reply reply) {
  impl_->state.add_exact(exact_sql, std::move(reply));
}
void Server::on_regex(const std::string &pattern, Reply reply) {
  impl_->state.add_regex(pattern, std::move(reply));
}
void Server::on_match(Predicate pred, Responder responder) {
  impl_->state.add_match(std::move(pred), std::move(responder));
}
void Server::clear_handlers() { impl_->state.clear_handlers(); }
std::optional<Reply> Server::scripted_reply(const std::string &sql) const {
  const std::shared_ptr<const Reply> reply = impl_->state.scripted_reply(sql);
  if (!reply) return std::nullopt;
  return *reply;
}

void Server::start(std::uint16_t port) { impl_->listener.start(port); }
void Server::stop() { impl_->listener.stop(); }
std::uint16_t Server::port() const { return impl_->listener.port(); }

std::vector<LoginRecord> Server::logins() const { return impl_->state.logins(); }
std::vector<BatchRecord> Server::batches() const { return impl_->state.batches(); }
std::vector<std::string> Server::batches_of(int spid) const { return impl_->state.batches_of(spid); }
std::vector<PreloginRecord> Server::prelogins() const { return impl_->state.prelogins(); }
int Server::attentions() const { return impl_->state.attentions(); }
void Server::clear_records() { impl_->state.clear_records(); }

int Server::open_connections() const { return impl_->listener.open_connections(); }
bool Server::wait_for_open_connections(int n, std::chrono::milliseconds timeout) const {
  return impl_->listener.wait_for_open_connections(n, timeout);
}

}  // namespace tds
