// Packet framing: the 8-byte TDS header, reading packets off a socket,
// reassembling request messages and cutting replies into packets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"

namespace tds::wire {

enum PacketType : std::uint8_t {
  kSqlBatch = 0x01,
  kRpc = 0x03,
  kReply = 0x04,
  kAttention = 0x06,
  kLogin7 = 0x10,
  kPrelogin = 0x12,
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::uint8_t kStatusEom = 0x01;
constexpr std::size_t kDefaultPacketSize = 4096;

struct Packet {
  std::uint8_t type = 0;
  std::uint8_t status = 0;
  Bytes payload;
  bool eom() const { return (status & kStatusEom) != 0; }
};

// Blocking socket I/O; false on EOF or error. Writes never raise SIGPIPE.
bool read_exact(int fd, void *buf, std::size_t n);
bool write_all(int fd, const void *buf, std::size_t n);

// Reads one packet; false on EOF, error or a malformed length.
bool read_packet(int fd, Packet &out);

// Collects reply bytes and sends them as packets of the negotiated size,
// stamping the connection's SPID and a running packet id into each header.
class MessageWriter {
 public:
  explicit MessageWriter(int fd) : fd_(fd) {}

  void set_spid(std::uint16_t spid) { spid_ = spid; }
  void set_packet_size(std::size_t size) { packet_size_ = size; }

  // Tokens are appended here; call send_full_packets() now and then.
  Bytes &out() { return buf_; }
  // Sends every complete packet's worth of pending bytes (never the tail,
  // which may become the message's last packet).
  void send_full_packets();
  // Sends everything pending without ending the message (before a pause).
  void flush();
  // Sends the rest with EOM; the next bytes start a new message.
  void end_message();

  bool ok() const { return ok_; }
  std::uint64_t packets_sent() const { return packets_sent_; }

 private:
  void send_packet(const std::uint8_t *data, std::size_t n, bool eom);
  void drop_sent(std::size_t n);

  int fd_;
  std::uint16_t spid_ = 0;
  std::size_t packet_size_ = kDefaultPacketSize;
  std::uint8_t packet_id_ = 1;
  Bytes buf_;
  bool ok_ = true;
  std::uint64_t packets_sent_ = 0;
};

}  // namespace tds::wire
