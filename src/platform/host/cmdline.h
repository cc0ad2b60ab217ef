// Host backend: Windows command-line text <-> argument vectors, so that the
// text handed to the program (m_lpCmdLine) and the text handed to
// CreateProcessA split back into the same arguments as on Windows.
#pragma once

#include <string>
#include <vector>

namespace tvhost {

// Splits a whole command line. The first argument (the program) ends at the
// first blank unless quoted and knows no escapes; the others follow the C
// runtime's rules: blanks separate, double quotes group, 2n backslashes before
// a quote give n and the quote toggles, 2n+1 give n and a literal quote, and
// "" inside quotes is a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& cmdLine);
// Quotes each argument so that SplitCommandLine gives it back, joined by one
// space (the arguments after the program name).
std::string JoinArguments(const std::vector<std::string>& args);

} // namespace tvhost
