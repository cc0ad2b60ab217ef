// Server.cnv, the game-server list the client shows after an update: a plain
// INI text (section [Server], Count, Name0.., IP0..) scrambled byte by byte.
#pragma once

#include <string>
#include <vector>

namespace tvserver {

// Checks a plain list the way the client will read it and returns its
// scrambled form in cnv. False with the problems in errors (each with its
// line); warnings are for entries the client will not show.
bool EncodeServerList(const std::string& plain, std::string& cnv, std::vector<std::string>& errors,
                      std::vector<std::string>& warnings);

// The plain text the client reads from a Server.cnv (unscrambled in
// 256-byte blocks, as the client does). A warning when a block holds a byte
// that stops the client's unscrambling early.
std::string DecodeServerList(const std::string& cnv, std::vector<std::string>& warnings);

} // namespace tvserver
