// The text of --help: every subcommand, option, file format and signal.
#pragma once

namespace tvserver {

const char* HelpText();

} // namespace tvserver
