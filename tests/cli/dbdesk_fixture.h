// A test server and dbdesk run against it, logged in as the test server's
// user with the password in the environment.
#pragma once

#include <string>
#include <vector>

#include "integration/support.h"
#include "run_cli.h"

namespace qvtest {

using args_t = std::vector<std::string>;

class DbdeskTest : public ServerTest {
 protected:
  // args followed by the options that reach the test server.
  args_t with_server(args_t args) const {
    for (const char *a : {"--host", "127.0.0.1", "--user", "sa", "--port"}) args.push_back(a);
    args.push_back(std::to_string(server.port()));
    return args;
  }
  cli_result dbdesk(const args_t &args, const std::string &in = "") const {
    return run_cli(with_server(args), in, {{"DBDESK_PASSWORD", "secret"}});
  }
};

}  // namespace qvtest
