// COLMETADATA and ROW/NBCROW encoding: each server-side column type mapped to
// the TYPE_INFO and value layout SQL Server uses for it.
#pragma once

#include <vector>

#include "bytes.h"
#include "tds_server/server.h"

namespace tds::wire {

// `utf8`: char/varchar/text columns use the UTF-8 collation, else Latin1.
void put_colmetadata(Bytes &b, const std::vector<Column> &columns, bool utf8);

// Appends one ROW (or NBCROW) token. Throws std::invalid_argument when a
// value does not fit its column (unreadable text, NULL in a NOT NULL column
// of a fixed-length type outside NBCROW, wrong cell count); the bytes
// already appended are then the caller's to discard. When plp_chunk_starts
// is given, the offset in b of each PLP chunk's first data byte is added.
void put_row(Bytes &b, const std::vector<Column> &columns, const Row &row, bool nbc, bool utf8,
             std::vector<std::size_t> *plp_chunk_starts = nullptr);

}  // namespace tds::wire
