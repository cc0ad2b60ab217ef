// Names a server may send that the client refuses to create: each would
// leave the working directory, reach the version record by another spelling,
// name a device or a stream, or is no plain file name on Windows. One list
// for every level that checks the refusal: the containment rule, the
// progress window, and the whole program on each backend.
#pragma once

#include <string>
#include <vector>

namespace tvtest {

inline const std::vector<std::string>& RefusedNames() {
    static const std::vector<std::string> names = {
        // Out of the working directory.
        "..\\x", "maps\\..\\..\\evil", "..", "../x", "\\x", "\\\\server\\share\\x",
        "\\tmp\\tv-refused-name", "/tmp/tv-refused-name", "C:x", "C:\\Windows\\x",
        // The version record by another spelling, and odd components.
        ".\\File.ver", "a\\..\\File.ver", "a\\.\\b", "a\\\\b", "a\\", ".", "", "a/b",
        // What Windows trims or reads otherwise.
        "name.", "name ", "dir.\\x", "...\\x", "file:stream",
        // Devices, with or without an extension, at any depth.
        "CON", "con.gz", "a\\NUL.txt", "nul.txt", "PRN", "Aux.dat", "COM1", "lpt9.log",
        // Characters no Windows file name holds.
        "a?b", "a*b", "a\tb", "a|b", "a<b>", "say\"hi\""};
    return names;
}

} // namespace tvtest
