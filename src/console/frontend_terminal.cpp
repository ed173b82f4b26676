// The terminal front end (ncurses). Placeholder until the terminal drawing
// lands: without it the script front end is used.
#include "console/crt_model.h"

namespace svfit::console::detail {

std::unique_ptr<Frontend> MakeTerminalFrontend(Console&) { return nullptr; }

}  // namespace svfit::console::detail
