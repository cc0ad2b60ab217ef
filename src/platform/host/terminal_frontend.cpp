// Host backend: the full-screen terminal front end (ncursesw).
#include "platform/host/frontends.h"

#include <unistd.h>

namespace tvhost {

std::unique_ptr<FrontEnd> MakeTerminalFrontEnd() {
    return MakeLineFrontEnd();
}

std::unique_ptr<FrontEnd> ChooseFrontEnd() {
    if (::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO))
        return MakeTerminalFrontEnd();
    return MakeLineFrontEnd();
}

} // namespace tvhost
