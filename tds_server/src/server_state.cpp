#include "server_state.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace tds::detail {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

constexpr const char *kDefaultVersion =
    "Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64) \n"
    "\tqvtest server double, TDS 7.4 over loopback\n"
    "\tScripted replies only; no storage engine behind it\n"
    "\tLinux (x86_64) <X64>";

}  // namespace

struct ServerState::Handler {
  enum class Kind { Exact, Regex, Predicate } kind;
  std::string exact;
  std::regex pattern;
  Server::Predicate pred;
  Server::Responder responder;
  Reply reply;

  bool matches(const std::string &sql) const {
    switch (kind) {
      case Kind::Exact: return sql == exact;
      case Kind::Regex: return std::regex_search(sql, pattern);
      case Kind::Predicate: return pred(sql);
    }
    return false;
  }
};

ServerState::ServerState() : version_text_(kDefaultVersion) {
  users_["sa"] = "secret";
  for (const char *db : {"master", "tempdb", "msdb"}) databases_[db] = db;
}

void ServerState::add_user(const std::string &user, const std::string &password) {
  std::lock_guard lock(mu_);
  users_[user] = password;
}

bool ServerState::password_matches(const std::string &user, const std::string &password) const {
  std::lock_guard lock(mu_);
  const auto it = users_.find(user);
  return it != users_.end() && it->second == password;
}

void ServerState::add_database(const std::string &name) {
  std::lock_guard lock(mu_);
  databases_[lower(name)] = name;
}

std::optional<std::string> ServerState::find_database(const std::string &name) const {
  std::lock_guard lock(mu_);
  const auto it = databases_.find(lower(name));
  if (it == databases_.end()) return std::nullopt;
  return it->second;
}

void ServerState::set_version_text(const std::string &text) {
  std::lock_guard lock(mu_);
  version_text_ = text;
}

std::string ServerState::version_text() const {
  std::lock_guard lock(mu_);
  return version_text_;
}

void ServerState::set_first_spid(int spid) {
  std::lock_guard lock(mu_);
  next_spid_ = spid;
}

int ServerState::take_spid() {
  std::lock_guard lock(mu_);
  return next_spid_++;
}

void ServerState::set_connection_fault(LoginFault f) {
  std::lock_guard lock(mu_);
  connection_fault_ = f;
}

ServerState::LoginFault ServerState::connection_fault() const {
  std::lock_guard lock(mu_);
  return connection_fault_;
}

void ServerState::add_exact(const std::string &sql, Reply reply) {
  auto h = std::make_shared<Handler>(Handler{Handler::Kind::Exact, sql, {}, {}, {}, std::move(reply)});
  std::lock_guard lock(mu_);
  handlers_.push_back(std::move(h));
}

void ServerState::add_regex(const std::string &pattern, Reply reply) {
  auto h = std::make_shared<Handler>(
      Handler{Handler::Kind::Regex, {}, std::regex(pattern), {}, {}, std::move(reply)});
  std::lock_guard lock(mu_);
  handlers_.push_back(std::move(h));
}

void ServerState::add_match(Server::Predicate pred, Server::Responder responder) {
  auto h = std::make_shared<Handler>(
      Handler{Handler::Kind::Predicate, {}, {}, std::move(pred), std::move(responder), {}});
  std::lock_guard lock(mu_);
  handlers_.push_back(std::move(h));
}

void ServerState::clear_handlers() {
  std::lock_guard lock(mu_);
  handlers_.clear();
}

std::shared_ptr<const Reply> ServerState::scripted_reply(const std::string &sql) const {
  std::vector<std::shared_ptr<const Handler>> handlers;
  {
    std::lock_guard lock(mu_);
    handlers = handlers_;
  }
  // Matching and responders run unlocked: a responder may call back into
  // the server (records, configuration).
  for (const auto &h : handlers) {
    if (!h->matches(sql)) continue;
    if (h->responder) return std::make_shared<const Reply>(h->responder(sql));
    return std::shared_ptr<const Reply>(h, &h->reply);  // lives as long as the handler
  }
  return nullptr;
}

void ServerState::record_prelogin(PreloginRecord r) {
  std::lock_guard lock(mu_);
  prelogins_.push_back(r);
}

void ServerState::record_login(LoginRecord r) {
  std::lock_guard lock(mu_);
  logins_.push_back(std::move(r));
}

void ServerState::record_batch(BatchRecord r) {
  std::lock_guard lock(mu_);
  batches_.push_back(std::move(r));
}

void ServerState::record_attention() {
  std::lock_guard lock(mu_);
  ++attentions_;
}

std::vector<PreloginRecord> ServerState::prelogins() const {
  std::lock_guard lock(mu_);
  return prelogins_;
}

std::vector<LoginRecord> ServerState::logins() const {
  std::lock_guard lock(mu_);
  return logins_;
}

std::vector<BatchRecord> ServerState::batches() const {
  std::lock_guard lock(mu_);
  return batches_;
}

std::vector<std::string> ServerState::batches_of(int spid) const {
  std::lock_guard lock(mu_);
  std::vector<std::string> out;
  for (const auto &b : batches_) {
    if (b.spid == spid) out.push_back(b.sql);
  }
  return out;
}

int ServerState::attentions() const {
  std::lock_guard lock(mu_);
  return attentions_;
}

void ServerState::clear_records() {
  std::lock_guard lock(mu_);
  prelogins_.clear();
  logins_.clear();
  batches_.clear();
  attentions_ = 0;
}

}  // namespace tds::detail
