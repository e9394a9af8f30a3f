// Shows the built library working: loads it, prints its version and the
// replies of a connection test and a two-batch query against a server.
//   qv-demo LIBRARY [PORT]
// Without PORT only the calls that answer without a server are shown.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using version_fn = const char *(*)();
using free_fn = void (*)(void *);
using connect_fn = char *(*)(const char *, int, const char *, const char *, const char *, int,
                             int);
using query_fn = char *(*)(const char *, const char *, const char *, int, int);

template <class F>
F symbol(void *lib, const char *name) {
  void *p = dlsym(lib, name);
  if (!p) {
    std::fprintf(stderr, "missing symbol %s\n", name);
    std::exit(1);
  }
  return reinterpret_cast<F>(p);
}

void show(const char *title, char *reply, free_fn release) {
  std::printf("%s:\n%s\n\n", title, reply ? reply : "(null)");
  release(reply);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LIBRARY [PORT]\n", argv[0]);
    return 2;
  }
  void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  auto version = symbol<version_fn>(lib, "dbdesk_core_version");
  auto release = symbol<free_fn>(lib, "dbdesk_core_free");
  auto connect = symbol<connect_fn>(lib, "dbdesk_core_connect_test");
  auto query = symbol<query_fn>(lib, "dbdesk_core_query");
  std::printf("dbdesk_core_version: %s\n\n", version());
  show("dbdesk_core_query without a script", query("{\"host\":\"h\",\"user\":\"u\"}", nullptr,
                                                   nullptr, 0, 0), release);
  if (argc < 3) return 0;
  int port = std::atoi(argv[2]);
  show("dbdesk_core_connect_test", connect("127.0.0.1", port, "sa", "secret", nullptr, 0, 5),
       release);
  std::string conn = "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
                     ",\"user\":\"sa\",\"password\":\"secret\"}";
  show("dbdesk_core_query (two batches)",
       query(conn.c_str(), nullptr,
             "SELECT name, database_id FROM sys.databases\nGO\nPRINT 'hello from batch 2'", 0, 0),
       release);
  dlclose(lib);
  return 0;
}
