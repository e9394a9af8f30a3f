// Turning a module's CREATE script into its ALTER script. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>

namespace qv::ops::scripting {

// Overwrites the first upper-case CREATE of a module script with ALTER when
// it starts a word and the module does not already alter itself (CREATE OR
// ALTER).
void alter_first_create(std::string &script);

}  // namespace qv::ops::scripting
