// One client connection: PRELOGIN, LOGIN7, then SQL batches until the client
// hangs up, a reply drops the connection, or the server stops (which shuts
// the socket down under us).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "packet.h"
#include "server_state.h"

namespace tds::detail {

class Connection {
 public:
  Connection(int fd, int spid, ServerState &state);
  // Serves the client; returns when the connection is over. Does not close
  // the socket (its owner does).
  void run();

 private:
  enum class Outcome { Done, Attention, Closed };

  // Requests.
  bool read_message(wire::Packet &message);
  bool read_raw_packet(wire::Packet &p);
  bool handshake();
  bool answer_prelogin(const ServerState::LoginFault &fault);
  bool answer_login(const wire::Packet &message, int prelogin_encryption, ConnectionFault fault);
  void serve_batch(const wire::Bytes &payload);
  void acknowledge_attention();

  // Replies.
  Outcome send_reply(const Reply &reply, const std::optional<std::string> &new_database);
  Outcome send_item(const Item &item);
  Outcome send_result_set(const ResultSet &rs);
  Outcome send_encoded_rows(const ResultSet &rs);
  Outcome send_cut_result_set(const ResultSet &rs, bool utf8);
  Outcome drop_connection();  // flush, then close the socket
  bool send_row(const ResultSet &rs, const Row &row, bool utf8);
  Outcome send_delay(const Delay &d);
  void send_abort(const Message &m);
  void begin_token();  // writes a held-back DONE with MORE before the next token
  void finish_reply();
  void finish_with_attention();

  // Reading while a reply is in progress.
  bool interrupted();            // cheap check at token boundaries
  bool poll_input(int timeout_ms);
  // Waits ms, ending early on ATTENTION or when the client hangs up.
  void wait(std::chrono::milliseconds ms);

  int fd_;
  int spid_;
  ServerState &state_;
  wire::MessageWriter writer_;
  std::string database_ = "master";
  std::deque<wire::Packet> stashed_;  // request packets read during a reply
  bool attention_ = false;
  bool closed_ = false;
  std::uint64_t polled_at_packets_ = ~std::uint64_t{0};

  struct HeldDone {
    std::uint16_t status = 0;
    std::uint16_t cur_cmd = 0;
    std::uint64_t count = 0;
  };
  std::optional<HeldDone> held_done_;
  bool reply_ended_ = false;  // a final DONE is written
};

}  // namespace tds::detail
