// Names in generated scripts: which names are legal, and their string
// literals.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/names.h"
#include "common/text.h"

// True when name is well-formed UTF-8 of at most kMaxNameUnits UTF-16 code
// units without control characters.
bool legal_name(const char *name);

// The inside of a string literal for name: every quote doubled. The name
// must be legal. Queries put it between N' and ' so that it compares with
// the catalog's nvarchar names without a trip through the code page.
std::string literal_text(const char *name);
