// RapidJSON configuration shared by every file that reads or writes JSON.
// Include this instead of RapidJSON's headers directly, and use the types
// below instead of RapidJSON's defaults. Internal header.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#define RAPIDJSON_HAS_STDSTRING 1
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace qv::common {

// RapidJSON's C allocator, except that running out of memory throws
// std::bad_alloc: RapidJSON writes through whatever its allocator returns
// without a check, so a plain NULL would crash it. On a failed Realloc the
// old block stays with its owner, which frees it as usual.
struct qv_json_allocator {
  static const bool kNeedFree = true;
  void *Malloc(std::size_t size) {
    if (!size) return nullptr;
    return checked(std::malloc(size));
  }
  void *Realloc(void *old, std::size_t, std::size_t size) {
    if (!size) {
      std::free(old);
      return nullptr;
    }
    return checked(std::realloc(old, size));
  }
  static void Free(void *p) { std::free(p); }

 private:
  static void *checked(void *p) {
    if (!p) throw std::bad_alloc();
    return p;
  }
};

// Every RapidJSON object of the library allocates through qv_json_allocator:
// the DOM's memory pool, the parsers' and the writers' stacks.
using qv_json_pool = rapidjson::MemoryPoolAllocator<qv_json_allocator>;
using qv_json_document =
    rapidjson::GenericDocument<rapidjson::UTF8<>, qv_json_pool, qv_json_allocator>;
using qv_json_value = qv_json_document::ValueType;
using qv_json_reader =
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, qv_json_allocator>;
template <class Output>
using qv_json_writer =
    rapidjson::Writer<Output, rapidjson::UTF8<>, rapidjson::UTF8<>, qv_json_allocator>;

}  // namespace qv::common
