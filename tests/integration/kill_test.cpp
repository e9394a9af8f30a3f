// Ending a session by its id.
#include "support.h"

namespace {

class Kill : public ServerTest {
 protected:
  Reply kill(int spid) { return take(dbdesk_core_kill_spid(conn().c_str(), spid)); }
};

TEST_F(Kill, IdsOutsideTheRangeAreRefusedWithoutConnecting) {
  for (int spid : {0, -1, 32768}) {
    Reply r = kill(spid);
    EXPECT_EQ(std::string(r["error"].GetString()), "spid out of range: " + std::to_string(spid));
  }
  EXPECT_TRUE(server.logins().empty());
}

TEST_F(Kill, SuccessfulKillRunsInMaster) {
  server.on(statement("query.kill", {"32767"}), {tds::DoneNoCount{}});
  Reply r = kill(32767);
  EXPECT_EQ(keys_of(r.doc), "ok,spid,elapsed_ms,error");
  EXPECT_TRUE(r["ok"].GetBool()) << r.text;
  EXPECT_EQ(r["spid"].GetInt(), 32767);
  EXPECT_TRUE(r["error"].IsNull());
  auto b = sent();
  EXPECT_EQ(b, session_batches("[master]", {statement("query.kill", {"32767"})}));
}

TEST_F(Kill, RefusedKillCarriesTheServersMessage) {
  server.on(statement("query.kill", {"1"}),
            {tds::BatchAbort{
                tds::error(6106, "Process ID 1 is not an active process ID.", 16, 1, 1)}});
  Reply r = kill(1);
  EXPECT_FALSE(r["ok"].GetBool());
  EXPECT_EQ(r["spid"].GetInt(), 1);
  EXPECT_STREQ(r["error"].GetString(),
               "Process ID 1 is not an active process ID. (msg 6106, severity 16, state 1, line 1)");
}

}  // namespace
