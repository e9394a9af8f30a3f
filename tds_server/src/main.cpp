// qv-tds-server: the server double as a standalone process, for manual
// checks and benchmarks.
//
//   qv-tds-server [--port N] [--user NAME:PASSWORD]... [--bench-rows N]
//
// Prints "listening on 127.0.0.1:<port>" once ready, serves until SIGINT or
// SIGTERM, then stops cleanly.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "bench_script.h"
#include "demo_cli.h"
#include "demo_script.h"
#include "tds_server/server.h"

namespace {

struct Options {
  std::uint16_t port = 0;
  std::vector<std::pair<std::string, std::string>> users;
  long long bench_rows = -1;
};

void usage() {
  std::cerr << "usage: qv-tds-server [--port N] [--user NAME:PASSWORD]... [--bench-rows N]\n";
  std::exit(2);
}

Options parse_options(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) usage();
    const std::string value = argv[++i];
    if (arg == "--port") {
      o.port = static_cast<std::uint16_t>(std::stoi(value));
    } else if (arg == "--user") {
      const auto colon = value.find(':');
      if (colon == std::string::npos) usage();
      o.users.emplace_back(value.substr(0, colon), value.substr(colon + 1));
    } else if (arg == "--bench-rows") {
      o.bench_rows = std::stoll(value);
    } else {
      usage();
    }
  }
  return o;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  try {
    options = parse_options(argc, argv);
  } catch (const std::exception &) {
    usage();
  }
  // Block the stop signals before any thread starts, so only sigwait sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  tds::Server server;
  for (const auto &[user, password] : options.users) server.add_user(user, password);
  tds::demo::register_demo(server);
  tds::demo::register_cli_demo(server);
  if (options.bench_rows >= 0) tds::bench::register_bench(server, static_cast<std::size_t>(options.bench_rows));
  try {
    server.start(options.port);
  } catch (const std::exception &e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::cout << "listening on 127.0.0.1:" << server.port() << std::endl;

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.stop();
  return 0;
}
