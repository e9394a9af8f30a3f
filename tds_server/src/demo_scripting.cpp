// The sample catalog's answers for the scripting demo.
#include "demo_script.h"

namespace tds::demo {

void register_scripting_demo(Server &) {}

}  // namespace tds::demo
