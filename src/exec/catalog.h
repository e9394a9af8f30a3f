// Catalog reads more than one operation needs.
#pragma once

#include <string>
#include <vector>

#include <sybdb.h>

// A name read from the catalog: a legal name of 128 UTF-16 units takes at
// most 384 bytes of UTF-8.
constexpr std::size_t kCatalogNameBytes = 1023;

// The primary-key columns of schema.table in key order. schema_text and
// table_text are the insides of N'...' literals (quotes already doubled).
// -1 with names empty when the read failed: half a key is a wrong key.
int qv_primary_key_columns(DBPROCESS *session, const std::string &schema_text,
                           const std::string &table_text, std::vector<std::string> *names);
