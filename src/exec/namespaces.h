// The library's layers as namespaces, and what each one sees: a layer's
// code names the layers below it without qualification, never the ones
// above. Internal header.
//
//   qv::common  per-thread capture, names and texts, JSON, the connection
//               document, the script splitter
//   qv::exec    sessions, the cursor and its helpers, rendering, the
//               catalog reads, the operation frame
//   qv::ops     the operations, one namespace each beneath it
#pragma once

#include "exec/namespaces.h"

namespace qv::common {}

namespace qv::exec {
using namespace qv::common;
}

namespace qv::ops {
using namespace qv::common;
using namespace qv::exec;
}
