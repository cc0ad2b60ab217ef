// Platform layer, shared code: what each backend supplies to common/app.cpp.
// The application's name and command line are the backend's to find (the
// executable's name, the command line the system hands over); each backend
// defines the two in its app.cpp, made on first use.
#pragma once

#include <string>

namespace tvplatform {

// The name without directory and extension, as UTF-8. NOTE: kept for the
// life of the process: message boxes a worker shows while the process ends
// read it as their caption.
std::string& ApplicationName();
// The command line after the program name ("" when there is none).
std::string& ApplicationCommandLine();

} // namespace tvplatform
