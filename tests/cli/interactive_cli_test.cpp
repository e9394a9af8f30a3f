// dbdesk query at a terminal without a script, driven through a
// pseudo-terminal: statements collected until GO, results as they arrive,
// history kept, Ctrl-C cancelling the running batch, :quit and Ctrl-D.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "integration/support.h"
#include "run_cli.h"

namespace {

using namespace std::chrono_literals;
using tds::Type;

// dbdesk on the slave side of a pseudo-terminal, which is its controlling
// terminal: what it prints is read from the master, keys are written to it.
class terminal_session {
 public:
  terminal_session(const std::vector<std::string> &args, const std::string &home) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      setenv("DBDESK_PASSWORD", "secret", 1);
      setenv("HOME", home.c_str(), 1);
      setenv("TERM", "dumb", 1);
      std::vector<char *> argv{const_cast<char *>(QV_DBDESK_PATH)};
      for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(QV_DBDESK_PATH, argv.data());
      _exit(127);
    }
  }
  ~terminal_session() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  // Reads until the output since the last call holds `part` (10 s at most).
  bool expect(const std::string &part) {
    for (int i = 0; i < 100; ++i) {
      const auto at = seen_.find(part, from_);
      if (at != std::string::npos) {
        from_ = at + part.size();
        return true;
      }
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, 100) > 0) {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return false;
        seen_.append(buf, static_cast<std::size_t>(n));
      }
    }
    return false;
  }
  void type(const std::string &keys) { [[maybe_unused]] ssize_t n = write(master_, keys.data(), keys.size()); }
  // Keys for the line editor once its prompt is out: a short pause lets it
  // finish taking the terminal over (a Ctrl-D meeting the terminal's own
  // line discipline instead would be lost).
  void type_at_prompt(const std::string &keys) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    type(keys);
  }
  // The exit status once dbdesk has ended (-1 when it did not within 10 s).
  int wait_exit() {
    for (int i = 0; i < 200; ++i) {
      drain();
      int wstatus = 0;
      if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
      }
    }
    return -1;
  }
  const std::string &seen() const { return seen_; }
  // Takes what has been printed, waiting 50 ms at most.
  void drain() {
    pollfd fd{master_, POLLIN, 0};
    char buf[4096];
    ssize_t n = 0;
    if (poll(&fd, 1, 50) > 0 && (n = read(master_, buf, sizeof buf)) > 0)
      seen_.append(buf, static_cast<std::size_t>(n));
    else std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  std::string seen_;
  std::size_t from_ = 0;
};

class DbdeskInteractive : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    tds::ResultSet rs;
    rs.columns = {{"v", Type::NVarChar, 40, 0, 0, true}};
    rs.rows = {{"first"}, {"second"}};
    server.on("SELECT v\nFROM t", {rs});
    server.on("stall", {tds::Delay{130s}, tds::DoneNoCount{}});
    home_ = qvtest::temp_file("history-home-marker", "");
    home_ = home_.substr(0, home_.rfind('/'));
  }
  std::vector<std::string> args() const {
    return {"query", "-S", "127.0.0.1," + std::to_string(server.port()), "--user", "sa"};
  }
  std::string home_;
};

// The batch's lines go to the server once GO is typed (GO 2: twice), the
// rows come back as a table, and the lines are kept in the history file.
TEST_F(DbdeskInteractive, GoRunsTheCollectedLinesAndTheHistoryIsKept) {
  std::remove((home_ + "/.dbdesk_history").c_str());
  {
    terminal_session t(args(), home_);
    ASSERT_TRUE(t.expect("1> ")) << t.seen();
    t.type("SELECT v\r");
    ASSERT_TRUE(t.expect("2> ")) << t.seen();
    t.type("FROM t\r");
    ASSERT_TRUE(t.expect("3> ")) << t.seen();
    EXPECT_TRUE(server.batches().empty());  // nothing is sent before GO
    t.type("go\r");
    ASSERT_TRUE(t.expect("first")) << t.seen();
    ASSERT_TRUE(t.expect("second")) << t.seen();
    ASSERT_TRUE(t.expect("(2 rows)")) << t.seen();
    ASSERT_TRUE(t.expect("1> ")) << t.seen();
    t.type("SELECT v\rFROM t\rGO 2\r");
    ASSERT_TRUE(t.expect("(2 rows)")) << t.seen();
    ASSERT_TRUE(t.expect("(2 rows)")) << t.seen();
    ASSERT_TRUE(t.expect("1> ")) << t.seen();
    t.type_at_prompt(":quit\r");
    EXPECT_EQ(t.wait_exit(), 0) << t.seen();
  }
  std::vector<std::string> batches;
  for (const auto &b : server.batches()) batches.push_back(b.sql);
  EXPECT_EQ(std::count(batches.begin(), batches.end(), "SELECT v\nFROM t"), 3) << ::testing::PrintToString(batches);
  const std::string history = qvtest::file_text(home_ + "/.dbdesk_history");
  // libedit's file: one line an entry, spaces written as \040
  EXPECT_NE(history.find("\nFROM\\040t\n"), std::string::npos) << history;
  EXPECT_NE(history.find("\nGO\\0402\n"), std::string::npos) << history;

  // The history is read back: the next session starts with it, and Ctrl-D leaves.
  terminal_session again(args(), home_);
  ASSERT_TRUE(again.expect("1> ")) << again.seen();
  again.type_at_prompt("\x04");
  EXPECT_EQ(again.wait_exit(), 0) << again.seen();
}

// Ctrl-C while a batch runs cancels it (the server is told) and the prompt
// comes back; at the prompt it does not end dbdesk.
TEST_F(DbdeskInteractive, CtrlCCancelsTheRunningBatchAndThePromptReturns) {
  terminal_session t(args(), home_);
  ASSERT_TRUE(t.expect("1> ")) << t.seen();
  t.type("stall\rGO\r");
  for (int i = 0; i < 200 && server.batches().empty(); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_FALSE(server.batches().empty());
  std::this_thread::sleep_for(200ms);
  t.type("\x03");
  ASSERT_TRUE(t.expect("cancelled by the caller")) << t.seen();
  ASSERT_TRUE(t.expect("1> ")) << t.seen();
  EXPECT_GE(server.attentions(), 1);
  t.type("\x03");  // at the prompt
  std::this_thread::sleep_for(200ms);
  t.type("SELECT v\rFROM t\rGO\r");
  ASSERT_TRUE(t.expect("(2 rows)")) << t.seen();
  ASSERT_TRUE(t.expect("1> ")) << t.seen();  // keys typed before the prompt would meet a cooked terminal
  t.type_at_prompt("\x04");
  EXPECT_EQ(t.wait_exit(), 0) << t.seen();
}

}  // namespace
