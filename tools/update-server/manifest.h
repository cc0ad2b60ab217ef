// The operator's description of the content: manifest.txt in the content
// directory (its format is documented in docs/server.md and in --help).
// Reading it checks its syntax; CheckManifest finds what the client would
// refuse or never be sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvserver {

struct ContentFile {
    int group = 0;
    std::uint32_t version = 0;
    std::string name; // as the client receives it
    std::string path; // resolved, inside the content directory
    int line = 0;     // in manifest.txt, for messages
};

struct Manifest {
    std::string path; // of manifest.txt, for messages
    std::uint32_t version[2] = {0, 0};
    // Download servers handed out in turn, network byte order; empty: none.
    std::vector<std::uint32_t> redirects;
    std::vector<ContentFile> files;
};

// Reads and parses contentDir/manifest.txt. Returns false with a message in
// error ("PATH:LINE: why") at the first line it cannot read.
bool LoadManifest(const std::string& contentDir, Manifest& manifest, std::string& error);

// Everything about the listed files that would make a publish unsound, one
// message per problem: a version above the server's pair for its group (never
// delivered), a name the client refuses or that stands for a file and a
// directory at once, the same name twice (as the client stores it), more
// files in a group than the list header can count.
std::vector<std::string> CheckManifest(const Manifest& manifest);

// The name the client stores a file under, folded for comparison: the
// client's substitutions applied and letters in one case, as Windows compares
// them.
std::string StoredNameKey(const std::string& name);

} // namespace tvserver
