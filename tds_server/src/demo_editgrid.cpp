// The sample catalog's answers for the editgrid demo.
#include "demo_script.h"

namespace tds::demo {

void register_editgrid_demo(Server &) {}

}  // namespace tds::demo
