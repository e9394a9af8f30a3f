// RapidJSON configuration shared by every file that reads or writes JSON.
// Include this instead of RapidJSON's headers directly. Internal header.
#pragma once

#define RAPIDJSON_HAS_STDSTRING 1
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
