// The result streams qv-tds-server serves for the benchmark (--bench-rows N),
// encoded once at start-up so that serving them costs the server no
// per-request encoding.
#pragma once

#include <cstddef>

#include "tds_server/server.h"

namespace tds::bench {

constexpr char kWideSql[] = "SELECT * FROM bench.dbo.wide";  // N rows of ten mixed columns
constexpr char kDocsSql[] = "SELECT doc FROM bench.dbo.docs";  // N/10 rows of one 4 KB nvarchar(max)
constexpr char kOneSql[] = "SELECT 1";                         // one int
constexpr std::size_t kDocBytes = 4096;

void register_bench(Server &server, std::size_t rows);
// The ten-column result set itself, rows generated on the fly.
ResultSet wide_result(std::size_t rows);
// The one-column result set of 4 KB texts.
ResultSet docs_result(std::size_t rows);

}  // namespace tds::bench
