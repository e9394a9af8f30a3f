// qv-bench: the cost of dbdesk_core_query against what db-lib alone costs to
// fetch the same rows.
//
//   qv-bench [--server PATH] [--library PATH] [--baseline PATH] [--rows N] [--reps N] [--calls N]
//
// Starts qv-tds-server as a separate process (serving pre-encoded streams),
// then measures three workloads, each contender in a fresh child process so
// that its peak RSS is its own:
//   W1  one query of N rows x 10 mixed columns        (default N = 100000)
//   W2  one query of N/10 rows x one 4 KB nvarchar(max)
//   W3  `calls` x (connect, SELECT 1, close)           (default 1000)
// Contenders: "library" (dbdesk_core_query of the library built alongside,
// or --library; reply freed; only while a result fits its 100,000-row cap),
// "stream" (dbdesk_core_query_stream of the same library without a row
// limit, events counted and parsed by nobody; W1 and W2), "baseline" (the
// classic call of another build, with --baseline, to compare before and
// after in one run) and "floor" (the same login and stream through
// dbnextrow, touching dbdata/dbdatlen of every cell, converting nothing). Each prints the median of `reps` runs after one
// warm-up run: client CPU (user + sys of this process), wall time, rows/s,
// reply MB/s and peak RSS, then the ratios against the floor.
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sybdb.h>


namespace {

constexpr char kWideSql[] = "SELECT * FROM bench.dbo.wide";
constexpr char kDocsSql[] = "SELECT doc FROM bench.dbo.docs";
constexpr char kOneSql[] = "SELECT 1";
constexpr char kDatabase[] = "bench";
constexpr int kMaxRowsCap = 100000;  // the library's per-result-set row cap
constexpr long kMaxRows = 10000000;     // W1 rows the bench accepts
constexpr double kCpuTarget = 1.3;
constexpr double kStreamCpuTarget = 1.15;
constexpr double kStreamRssLimitMiB = 24;
constexpr double kCallOverheadTargetMs = 0.1;
constexpr double kRssHeadroomMiB = 16;
constexpr double kMinMeasurableMs = 1;  // below this a CPU-time ratio is noise
constexpr std::size_t kHeldReplies = 16;  // replies read and freed together

struct Options {
  std::string server = QV_TDS_SERVER_PATH;
  std::string library = QV_LIBRARY_PATH;
  std::string baseline;
  long rows = 100000;
  int reps = 7;
  int calls = 1000;
};

struct Workload {
  const char *name;
  const char *sql;
  int calls;  // statements per run
};

// One run of one contender.
struct Sample {
  double cpu_ms = 0;
  double sys_ms = 0;  // the kernel's part of cpu_ms (page faults, sockets)
  double wall_ms = 0;
};

// What a child reports: per-run samples, then totals of the last run.
struct Report {
  std::vector<Sample> samples;
  long long rows = 0;        // rows per run
  long long reply_bytes = 0; // reply bytes per run (library only)
  long max_rss_kib = 0;
  bool ok = false;
};

// User + system and system CPU milliseconds of this process so far.
void cpu_ms_now(double *cpu, double *sys) {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto ms = [](const timeval &t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  *sys = ms(ru.ru_stime);
  *cpu = ms(ru.ru_utime) + *sys;
}

double wall_ms_now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// ---- the floor: db-lib alone ----

int quiet_err(DBPROCESS *, int, int, int, char *, char *) { return INT_CANCEL; }
int quiet_msg(DBPROCESS *, DBINT, int, int, char *, char *, char *, int) { return 0; }

DBPROCESS *floor_open(int port) {
  LOGINREC *login = dblogin();
  DBSETLUSER(login, "sa");
  DBSETLPWD(login, "secret");
  DBSETLAPP(login, "qv-bench");
  DBSETLHOST(login, "quorvex");
  DBSETLCHARSET(login, "UTF-8");
  DBSETLDBNAME(login, kDatabase);
  dbsetlversion(login, DBVERSION_74);
  std::string address = "127.0.0.1:" + std::to_string(port);
  DBPROCESS *session = tdsdbopen(login, address.c_str(), 0);
  dbloginfree(login);
  return session;
}

// Fetches every row, reading each cell's address and length; returns the
// row count, or -1 on failure.
long long floor_fetch(int port, const char *sql, unsigned long long *touch) {
  DBPROCESS *session = floor_open(port);
  if (!session) return -1;
  long long rows = 0;
  if (dbcmd(session, sql) == SUCCEED && dbsqlexec(session) == SUCCEED) {
    while (dbresults(session) == SUCCEED) {
      int ncols = dbnumcols(session);
      while (dbnextrow(session) != NO_MORE_ROWS) {
        for (int c = 1; c <= ncols; ++c)
          *touch += reinterpret_cast<std::uintptr_t>(dbdata(session, c)) + dbdatlen(session, c);
        ++rows;
      }
    }
  } else {
    rows = -1;
  }
  dbclose(session);
  return rows;
}

// ---- the library ----

struct Library {
  using query_fn = char *(*)(const char *, const char *, const char *, int, int);
  using event_fn = int (*)(void *, const char *, std::size_t);
  using stream_fn = char *(*)(const char *, const char *, const char *, int, int, event_fn, void *);
  using free_fn = void (*)(void *);
  query_fn query = nullptr;
  stream_fn query_stream = nullptr;  // absent in builds before the streamed query
  free_fn release = nullptr;
};

// Which call a contender makes.
enum class contender { floor, classic, stream };

// The streamed contender's callback: events are counted, parsed by nobody.
struct event_count {
  long long events = 0;
  long long bytes = 0;
};
int count_event(void *user, const char *, std::size_t len) {
  auto *c = static_cast<event_count *>(user);
  ++c->events;
  c->bytes += static_cast<long long>(len);
  return 0;
}

bool load_library(const std::string &path, Library *lib) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "qv-bench: %s\n", dlerror());
    return false;
  }
  lib->query = reinterpret_cast<Library::query_fn>(dlsym(handle, "dbdesk_core_query"));
  lib->query_stream =
      reinterpret_cast<Library::stream_fn>(dlsym(handle, "dbdesk_core_query_stream"));
  lib->release = reinterpret_cast<Library::free_fn>(dlsym(handle, "dbdesk_core_free"));
  return lib->query && lib->release;
}

// The replies of one timed run are checked, measured and freed after the
// clock has stopped: reading them is the caller's work, not the library's.
long long check_replies(const Library &lib, std::vector<char *> &replies, long long *reply_bytes) {
  long long ok = 1;
  for (char *reply : replies) {
    if (!reply || !std::strstr(reply, "\"ok\":true")) ok = -1;
    if (reply) *reply_bytes += static_cast<long long>(std::strlen(reply));
    lib.release(reply);
  }
  replies.clear();
  return ok;
}

// ---- one contender in a child process ----

// One streamed query: its events counted, its summary checked and freed.
bool stream_once(const Library &lib, const std::string &conn, const char *sql, long long *bytes) {
  event_count counted;
  char *summary = lib.query_stream(conn.c_str(), kDatabase, sql, 0, 0, count_event, &counted);
  bool ok = summary && std::strstr(summary, "\"ok\":true");
  lib.release(summary);
  *bytes += counted.bytes;
  return ok;
}

Report run_contender(contender who, const std::string &library_path, const Workload &w, int port,
                     int reps, long expected_rows) {
  Report r;
  const bool library = who != contender::floor;
  Library lib;
  if (library && !load_library(library_path, &lib)) return r;
  if (who == contender::stream && !lib.query_stream) return r;
  std::string conn = "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
                     ",\"user\":\"sa\",\"password\":\"secret\",\"database\":\"bench\"}";
  if (!library) {
    dbinit();
    dberrhandle(quiet_err);
    dbmsghandle(quiet_msg);
  }
  unsigned long long touch = 0;
  std::vector<char *> replies;
  replies.reserve(kHeldReplies);
  r.ok = true;
  for (int rep = 0; rep <= reps && r.ok; ++rep) {  // rep 0 warms up
    long long rows = 0, bytes = 0;
    double cpu0, sys0, cpu1, sys1, wall0 = wall_ms_now();
    cpu_ms_now(&cpu0, &sys0);
    for (int call = 0; call < w.calls && r.ok; ++call) {
      if (who == contender::stream) {
        if (!stream_once(lib, conn, w.sql, &bytes)) r.ok = false;
        rows += expected_rows / w.calls;
        continue;
      }
      if (library) {
        replies.push_back(lib.query(conn.c_str(), kDatabase, w.sql, kMaxRowsCap, 0));
        rows += expected_rows / w.calls;
        // Many small replies are not all kept: their reading costs next to
        // nothing, their memory would count in the peak RSS.
        if (replies.size() == kHeldReplies && check_replies(lib, replies, &bytes) < 0) r.ok = false;
        continue;
      }
      long long n = floor_fetch(port, w.sql, &touch);
      if (n < 0) r.ok = false;
      rows += n;
    }
    cpu_ms_now(&cpu1, &sys1);
    double wall1 = wall_ms_now();
    if (library && check_replies(lib, replies, &bytes) < 0) r.ok = false;
    if (rep > 0) r.samples.push_back({cpu1 - cpu0, sys1 - sys0, wall1 - wall0});
    r.rows = rows;
    r.reply_bytes = bytes;
  }
  if (!library && r.rows != expected_rows) r.ok = false;
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  r.max_rss_kib = ru.ru_maxrss;
  if (touch == 1) std::fputs("", stderr);  // keeps the reads
  return r;
}

void write_all(int fd, const void *p, std::size_t n) {
  const char *c = static_cast<const char *>(p);
  while (n > 0) {
    ssize_t k = write(fd, c, n);
    if (k <= 0) return;
    c += k;
    n -= static_cast<std::size_t>(k);
  }
}

bool read_all(int fd, void *p, std::size_t n) {
  char *c = static_cast<char *>(p);
  while (n > 0) {
    ssize_t k = read(fd, c, n);
    if (k <= 0) return false;
    c += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

// Runs one contender in a fresh process and collects its report.
Report measure(contender who, const std::string &library_path, const Workload &w, int port,
               int reps, long expected_rows) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Report r = run_contender(who, library_path, w, port, reps, expected_rows);
    std::size_t n = r.samples.size();
    write_all(fds[1], &r.ok, sizeof r.ok);
    write_all(fds[1], &r.rows, sizeof r.rows);
    write_all(fds[1], &r.reply_bytes, sizeof r.reply_bytes);
    write_all(fds[1], &r.max_rss_kib, sizeof r.max_rss_kib);
    write_all(fds[1], &n, sizeof n);
    write_all(fds[1], r.samples.data(), n * sizeof(Sample));
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  Report r;
  std::size_t n = 0;
  bool got = read_all(fds[0], &r.ok, sizeof r.ok) && read_all(fds[0], &r.rows, sizeof r.rows) &&
             read_all(fds[0], &r.reply_bytes, sizeof r.reply_bytes) &&
             read_all(fds[0], &r.max_rss_kib, sizeof r.max_rss_kib) &&
             read_all(fds[0], &n, sizeof n);
  if (got) {
    r.samples.resize(n);
    got = read_all(fds[0], r.samples.data(), n * sizeof(Sample));
  }
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  if (!got) r.ok = false;
  return r;
}

// ---- the server process ----

struct ServerProcess {
  pid_t pid = -1;
  int port = 0;
  ~ServerProcess() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

bool start_server(const Options &o, ServerProcess *s) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::string rows = std::to_string(o.rows);
  s->pid = fork();
  if (s->pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execl(o.server.c_str(), o.server.c_str(), "--bench-rows", rows.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  FILE *out = fdopen(fds[0], "r");
  char line[256] = {};
  bool ok = out && std::fgets(line, sizeof line, out) &&
            std::sscanf(line, "listening on 127.0.0.1:%d", &s->port) == 1;
  if (out) std::fclose(out);
  return ok;
}

// ---- reporting ----

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

struct Summary {
  double cpu_ms, sys_ms, wall_ms;
};

Summary summarize(const Report &r) {
  std::vector<double> cpu, sys, wall;
  for (const Sample &s : r.samples) {
    cpu.push_back(s.cpu_ms);
    sys.push_back(s.sys_ms);
    wall.push_back(s.wall_ms);
  }
  return {median(cpu), median(sys), median(wall)};
}

void print_line(const char *who, const Report &r, const Summary &s) {
  double rows_per_s = s.wall_ms > 0 ? r.rows / (s.wall_ms / 1e3) : 0;
  double mb_per_s = s.wall_ms > 0 ? r.reply_bytes / 1e6 / (s.wall_ms / 1e3) : 0;
  std::printf("  %-8s cpu %8.2f ms (sys %7.2f)  wall %8.2f ms  %9.0f rows/s  %6.1f MB/s  rss %6.1f MiB\n",
              who, s.cpu_ms, s.sys_ms, s.wall_ms, rows_per_s, mb_per_s, r.max_rss_kib / 1024.0);
}

const char *verdict(bool met) { return met ? "met" : "MISSED"; }

// The ratios of one library contender against the floor, and its targets.
void print_verdict(const char *who, const Workload &w, const Report &r, const Summary &l,
                   const Summary &f) {
  double ratio = f.cpu_ms > 0 ? l.cpu_ms / f.cpu_ms : 0;
  double floor_user = f.cpu_ms - f.sys_ms;
  double reply_mib = r.reply_bytes / w.calls / 1048576.0;
  std::printf("  %-8s cpu %.2fx the floor", who, ratio);
  if (floor_user >= kMinMeasurableMs) std::printf(" (user %.2fx)", (l.cpu_ms - l.sys_ms) / floor_user);
  std::printf(", wall %.2fx", f.wall_ms > 0 ? l.wall_ms / f.wall_ms : 0);
  if (w.calls > 1) {
    double over = (l.cpu_ms - f.cpu_ms) / w.calls;
    std::printf("; %.3f ms cpu per call above it (target <= %.1f: %s)", over,
                kCallOverheadTargetMs, verdict(over <= kCallOverheadTargetMs));
  } else {
    std::printf(" (target <= %.1f: %s)", kCpuTarget, verdict(ratio <= kCpuTarget));
  }
  double rss_limit = reply_mib + kRssHeadroomMiB;
  std::printf("; reply %.2f MiB, peak rss %.1f MiB (limit %.1f: %s)\n", reply_mib,
              r.max_rss_kib / 1024.0, rss_limit, verdict(r.max_rss_kib / 1024.0 <= rss_limit));
}

// The streamed contender holds one chunk, whatever the result's size.
void print_stream_verdict(const Report &r, const Summary &s, const Summary &f) {
  double ratio = f.cpu_ms > 0 ? s.cpu_ms / f.cpu_ms : 0;
  std::printf("  %-8s cpu %.2fx the floor (target <= %.2f: %s); events %.2f MiB, peak rss %.1f "
              "MiB (limit %.0f: %s)\n",
              "stream", ratio, kStreamCpuTarget, verdict(ratio <= kStreamCpuTarget),
              r.reply_bytes / 1048576.0, r.max_rss_kib / 1024.0, kStreamRssLimitMiB,
              verdict(r.max_rss_kib / 1024.0 <= kStreamRssLimitMiB));
}

bool run_workload(const Workload &w, const Options &o, int port, long expected_rows) {
  std::printf("%s: %s  (%d call%s per run, median of %d)\n", w.name, w.sql, w.calls,
              w.calls == 1 ? "" : "s", o.reps);
  Report fl = measure(contender::floor, "", w, port, o.reps, expected_rows);
  Report base;
  if (!o.baseline.empty())
    base = measure(contender::classic, o.baseline, w, port, o.reps, expected_rows);
  // The classic reply holds at most kMaxRowsCap rows a result set.
  const bool classic = expected_rows / w.calls <= kMaxRowsCap;
  Report lib = classic ? measure(contender::classic, o.library, w, port, o.reps, expected_rows)
                       : Report{};
  const bool streamed = w.calls == 1;
  Report st = streamed ? measure(contender::stream, o.library, w, port, o.reps, expected_rows)
                       : Report{};
  if (!fl.ok || (classic && !lib.ok) || (streamed && !st.ok) ||
      (!o.baseline.empty() && classic && !base.ok)) {
    std::printf("  FAILED (floor %s, library %s, stream %s)\n", fl.ok ? "ok" : "failed",
                lib.ok ? "ok" : "failed", st.ok ? "ok" : "failed");
    return false;
  }
  Summary f = summarize(fl), b{};
  print_line("floor", fl, f);
  if (!o.baseline.empty() && classic) print_line("baseline", base, b = summarize(base));
  if (classic) print_line("library", lib, summarize(lib));
  if (streamed) print_line("stream", st, summarize(st));
  if (!o.baseline.empty() && classic) print_verdict("baseline", w, base, b, f);
  if (classic) print_verdict("library", w, lib, summarize(lib), f);
  if (streamed) print_stream_verdict(st, summarize(st), f);
  std::printf("\n");
  return true;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: qv-bench [--server PATH] [--library PATH] [--baseline PATH] [--rows N] "
               "[--reps N] [--calls N]\n");
  std::exit(2);
}

Options parse_options(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) usage();
    std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--server") o.server = value;
    else if (arg == "--library") o.library = value;
    else if (arg == "--baseline") o.baseline = value;
    else if (arg == "--rows") o.rows = std::atol(value.c_str());
    else if (arg == "--reps") o.reps = std::atoi(value.c_str());
    else if (arg == "--calls") o.calls = std::atoi(value.c_str());
    else usage();
  }
  if (o.rows < 10 || o.rows > kMaxRows || o.reps < 1 || o.calls < 1) usage();
  return o;
}

}  // namespace

int main(int argc, char **argv) {
  Options o = parse_options(argc, argv);
  ServerProcess server;
  if (!start_server(o, &server)) {
    std::fprintf(stderr, "qv-bench: cannot start %s\n", o.server.c_str());
    return 1;
  }
  std::printf("qv-bench: library %s\n          server %s on port %d\n", o.library.c_str(),
              o.server.c_str(), server.port);
  if (!o.baseline.empty()) std::printf("          baseline %s\n", o.baseline.c_str());
  std::printf("\n");
  const Workload w1{"W1", kWideSql, 1}, w2{"W2", kDocsSql, 1}, w3{"W3", kOneSql, o.calls};
  bool ok = run_workload(w1, o, server.port, o.rows) &&
            run_workload(w2, o, server.port, o.rows / 10) &&
            run_workload(w3, o, server.port, o.calls);
  return ok ? 0 : 1;
}
