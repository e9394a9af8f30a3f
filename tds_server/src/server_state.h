// What all connections of one server share: configuration, scripted
// handlers and the records tests read back. Every member is thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tds_server/server.h"

namespace tds::detail {

class ServerState {
 public:
  ServerState();

  void add_user(const std::string &user, const std::string &password);
  bool password_matches(const std::string &user, const std::string &password) const;
  void add_database(const std::string &name);
  // The database's name as configured (names compare case-insensitively).
  std::optional<std::string> find_database(const std::string &name) const;
  void set_version_text(const std::string &text);
  std::string version_text() const;
  void set_first_spid(int spid);
  int take_spid();
  void set_utf8_collation(bool utf8) { utf8_collation_ = utf8; }
  bool utf8_collation() const { return utf8_collation_; }
  void set_login_delay(std::chrono::milliseconds d) { login_delay_ms_ = d.count(); }
  std::chrono::milliseconds login_delay() const { return std::chrono::milliseconds(login_delay_ms_.load()); }

  struct LoginFault {
    ConnectionFault fault = ConnectionFault::None;
    std::chrono::milliseconds stall{0};
  };
  void set_connection_fault(LoginFault f);
  LoginFault connection_fault() const;

  void add_exact(const std::string &sql, Reply reply);
  void add_regex(const std::string &pattern, Reply reply);
  void add_match(Server::Predicate pred, Server::Responder responder);
  void clear_handlers();
  // The first registered handler that matches answers; null if none does.
  // A fixed reply is shared with its handler, not copied.
  std::shared_ptr<const Reply> scripted_reply(const std::string &sql) const;

  void record_prelogin(PreloginRecord r);
  void record_login(LoginRecord r);
  void record_batch(BatchRecord r);
  void record_attention();
  std::vector<PreloginRecord> prelogins() const;
  std::vector<LoginRecord> logins() const;
  std::vector<BatchRecord> batches() const;
  std::vector<std::string> batches_of(int spid) const;
  int attentions() const;
  void clear_records();

 private:
  struct Handler;

  mutable std::mutex mu_;
  std::map<std::string, std::string> users_;
  std::map<std::string, std::string> databases_;  // lower-case key -> configured name
  std::string version_text_;
  int next_spid_ = 51;
  LoginFault connection_fault_;
  std::vector<std::shared_ptr<const Handler>> handlers_;
  std::vector<PreloginRecord> prelogins_;
  std::vector<LoginRecord> logins_;
  std::vector<BatchRecord> batches_;
  int attentions_ = 0;
  std::atomic<bool> utf8_collation_{false};
  std::atomic<long long> login_delay_ms_{0};
};

}  // namespace tds::detail
