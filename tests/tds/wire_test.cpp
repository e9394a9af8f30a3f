// What db-lib does not show: packet framing as seen by a raw TCP client.
// Replies are cut into packets of the negotiated size with the SPID in every
// header, and a request split over several packets is put back together.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tds_server/server.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct RawPacket {
  std::uint8_t type = 0, status = 0, id = 0;
  std::uint16_t length = 0, spid = 0;
  Bytes payload;
};

class RawClient {
 public:
  explicit RawClient(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  }
  ~RawClient() { ::close(fd_); }
  bool connected() const { return connected_; }

  void send(std::uint8_t type, const Bytes &payload, bool eom = true) {
    Bytes p = {type, static_cast<std::uint8_t>(eom ? 1 : 0), 0, 0, 0, 0, 1, 0};
    const std::size_t n = payload.size() + 8;
    p[2] = static_cast<std::uint8_t>(n >> 8);
    p[3] = static_cast<std::uint8_t>(n);
    p.insert(p.end(), payload.begin(), payload.end());
    ASSERT_EQ(::send(fd_, p.data(), p.size(), MSG_NOSIGNAL), static_cast<ssize_t>(p.size()));
  }

  bool read(RawPacket &p) {
    std::uint8_t h[8];
    if (!read_exact(h, 8)) return false;
    p.type = h[0];
    p.status = h[1];
    p.length = static_cast<std::uint16_t>(h[2] << 8 | h[3]);
    p.spid = static_cast<std::uint16_t>(h[4] << 8 | h[5]);
    p.id = h[6];
    p.payload.assign(p.length - 8u, 0);
    return read_exact(p.payload.data(), p.payload.size());
  }

  // All packets of one reply message.
  std::vector<RawPacket> read_message() {
    std::vector<RawPacket> packets;
    RawPacket p;
    while (read(p)) {
      packets.push_back(p);
      if (p.status & 1) break;
    }
    return packets;
  }

 private:
  bool read_exact(std::uint8_t *buf, std::size_t n) {
    while (n > 0) {
      const ssize_t got = ::recv(fd_, buf, n, 0);
      if (got <= 0) return false;
      buf += got;
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }
  int fd_ = -1;
  bool connected_ = false;
};

void put_u16(Bytes &b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put_u32(Bytes &b, std::uint32_t v) {
  put_u16(b, static_cast<std::uint16_t>(v));
  put_u16(b, static_cast<std::uint16_t>(v >> 16));
}
Bytes utf16(const std::string &ascii) {
  Bytes b;
  for (char c : ascii) put_u16(b, static_cast<std::uint8_t>(c));
  return b;
}

// What FreeTDS sends: VERSION, ENCRYPTION (OFF), INSTOPT, THREADID, MARS.
Bytes prelogin_request() {
  Bytes b = {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x21,
             0x00, 0x0C, 0x03, 0x00, 0x2D, 0x00, 0x04, 0x04, 0x00, 0x31, 0x00, 0x01, 0xFF};
  const Bytes data = {9, 0, 0, 0, 0, 0, 0x00};
  b.insert(b.end(), data.begin(), data.end());
  const std::string inst = "MSSQLServer";
  b.insert(b.end(), inst.begin(), inst.end());
  b.push_back(0);
  const Bytes tail = {1, 0, 0, 0, 0};
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

Bytes login7(std::uint32_t packet_size, const std::string &user, const std::string &password) {
  Bytes pw = utf16(password);
  for (auto &c : pw) c = static_cast<std::uint8_t>(((c << 4) | (c >> 4)) ^ 0xA5);
  const std::vector<Bytes> fields = {utf16("rawhost"), utf16(user), pw, utf16("rawapp"), utf16("127.0.0.1"),
                                     {}, utf16("raw-lib"), utf16("us_english"), {}};
  Bytes fixed(94, 0);
  Bytes data;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t offset = 94 + data.size();
    fixed[36 + 4 * i] = static_cast<std::uint8_t>(offset);
    fixed[37 + 4 * i] = static_cast<std::uint8_t>(offset >> 8);
    fixed[38 + 4 * i] = static_cast<std::uint8_t>(fields[i].size() / 2);
    data.insert(data.end(), fields[i].begin(), fields[i].end());
  }
  Bytes head;
  put_u32(head, static_cast<std::uint32_t>(94 + data.size()));
  put_u32(head, 0x74000004);
  put_u32(head, packet_size);
  std::copy(head.begin(), head.end(), fixed.begin());
  fixed.insert(fixed.end(), data.begin(), data.end());
  return fixed;
}

Bytes batch_payload(const std::string &sql) {
  Bytes b;
  put_u32(b, 22);
  put_u32(b, 18);
  put_u16(b, 2);
  for (int i = 0; i < 8; ++i) b.push_back(0);
  put_u32(b, 1);
  const Bytes text = utf16(sql);
  b.insert(b.end(), text.begin(), text.end());
  return b;
}

TEST(Wire, PreloginAnswerIsOnePacketDecliningEncryption) {
  tds::Server server;
  server.set_first_spid(300);
  server.start();
  RawClient client(server.port());
  ASSERT_TRUE(client.connected());
  client.send(0x12, prelogin_request());
  const auto reply = client.read_message();
  ASSERT_EQ(reply.size(), 1u);
  const RawPacket &p = reply[0];
  EXPECT_EQ(p.type, 0x04);
  EXPECT_EQ(p.spid, 300);
  const Bytes expected = {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x21,
                          0x00, 0x01, 0x03, 0x00, 0x22, 0x00, 0x00, 0x04, 0x00, 0x22, 0x00, 0x01, 0xFF,
                          0x10, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x02, 0x00, 0x00};
  EXPECT_EQ(p.payload, expected);
  ASSERT_EQ(server.prelogins().size(), 1u);
  EXPECT_EQ(server.prelogins()[0].encryption, 0);
}

TEST(Wire, RepliesUseTheNegotiatedPacketSizeAndRequestsAreReassembled) {
  tds::Server server;
  server.add_user("raw", "pw");
  tds::ResultSet rs;
  rs.columns = {{"s", tds::Type::NVarChar, 100}};
  for (int i = 0; i < 40; ++i) rs.rows.push_back({std::string(60, static_cast<char>('a' + i % 26))});
  const std::string sql = "select " + std::string(700, 'q');
  server.on(sql, {rs});
  server.start();
  RawClient client(server.port());
  ASSERT_TRUE(client.connected());
  client.send(0x12, prelogin_request());
  client.read_message();
  client.send(0x10, login7(512, "raw", "pw"));
  const auto login_reply = client.read_message();
  ASSERT_FALSE(login_reply.empty());
  ASSERT_TRUE(server.logins().at(0).succeeded);
  EXPECT_EQ(server.logins()[0].packet_size, 512u);
  EXPECT_EQ(server.logins()[0].library, "raw-lib");

  // The batch arrives in two packets; only the second ends the message.
  const Bytes payload = batch_payload(sql);
  const std::size_t half = payload.size() / 2;
  client.send(0x01, Bytes(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(half)), false);
  client.send(0x01, Bytes(payload.begin() + static_cast<std::ptrdiff_t>(half), payload.end()));
  const auto reply = client.read_message();
  ASSERT_GT(reply.size(), 5u);
  for (std::size_t i = 0; i < reply.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reply[i].type, 0x04);
    EXPECT_EQ(reply[i].spid, 51);
    EXPECT_EQ(reply[i].id, static_cast<std::uint8_t>(i + 1));
    const bool last = i + 1 == reply.size();
    EXPECT_EQ(reply[i].status, last ? 1 : 0);
    if (!last) {
      EXPECT_EQ(reply[i].length, 512);
    }
  }
  // The message ends with a final DONE counting 40 rows.
  Bytes all;
  for (const auto &p : reply) all.insert(all.end(), p.payload.begin(), p.payload.end());
  const Bytes done = {0xFD, 0x10, 0x00, 0xC1, 0x00, 40, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_GE(all.size(), done.size());
  EXPECT_EQ(Bytes(all.end() - static_cast<std::ptrdiff_t>(done.size()), all.end()), done);
  ASSERT_EQ(server.batches().size(), 1u);
  EXPECT_EQ(server.batches()[0].sql, sql);
}

}  // namespace
