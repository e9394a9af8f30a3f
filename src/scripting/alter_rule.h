// Turning a module's CREATE script into its ALTER script. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>

namespace qv::ops::scripting {

// Overwrites the script's first CREATE keyword (in any letter case, outside
// comments, string literals and quoted or bracketed identifiers) with
// "ALTER " of the same length, unless the module already alters itself
// (CREATE OR ALTER). A script without such a keyword is left as it is.
void alter_first_create(std::string &script);

}  // namespace qv::ops::scripting
