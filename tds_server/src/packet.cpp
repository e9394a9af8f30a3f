#include "packet.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tds::wire {

bool read_exact(int fd, void *buf, std::size_t n) {
  auto *p = static_cast<std::uint8_t *>(buf);
  while (n > 0) {
    const ssize_t got = ::recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool write_all(int fd, const void *buf, std::size_t n) {
  const auto *p = static_cast<const std::uint8_t *>(buf);
  while (n > 0) {
    const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool read_packet(int fd, Packet &out) {
  std::uint8_t header[kHeaderSize];
  if (!read_exact(fd, header, sizeof header)) return false;
  const std::size_t length = get_u16be(header + 2);
  if (length < kHeaderSize) return false;
  out.type = header[0];
  out.status = header[1];
  out.payload.resize(length - kHeaderSize);
  return out.payload.empty() || read_exact(fd, out.payload.data(), out.payload.size());
}

void MessageWriter::send_packet(const std::uint8_t *data, std::size_t n, bool eom) {
  if (!ok_) return;
  Bytes packet;
  packet.reserve(kHeaderSize + n);
  put_u8(packet, kReply);
  put_u8(packet, eom ? kStatusEom : 0);
  put_u16be(packet, static_cast<std::uint16_t>(kHeaderSize + n));
  put_u16be(packet, spid_);
  put_u8(packet, packet_id_++);
  put_u8(packet, 0);
  put_bytes(packet, data, n);
  ok_ = write_all(fd_, packet.data(), packet.size());
  ++packets_sent_;
}

void MessageWriter::drop_sent(std::size_t n) {
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
}

void MessageWriter::send_full_packets() {
  const std::size_t cap = packet_size_ - kHeaderSize;
  std::size_t sent = 0;
  while (buf_.size() - sent > cap) {
    send_packet(buf_.data() + sent, cap, false);
    sent += cap;
  }
  if (sent > 0) drop_sent(sent);
}

void MessageWriter::flush() {
  send_full_packets();
  if (!buf_.empty()) send_packet(buf_.data(), buf_.size(), false);
  buf_.clear();
}

void MessageWriter::end_message() {
  send_full_packets();
  send_packet(buf_.data(), buf_.size(), true);
  buf_.clear();
  packet_id_ = 1;
}

}  // namespace tds::wire
