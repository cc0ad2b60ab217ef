// The content a reference server offers: read from manifest.txt in a content
// directory. Lines (blank lines and lines starting with '#' are ignored):
//
//   version V0 V1              the server's version pair (required, once)
//   redirect A.B.C.D           a download server to send clients to (optional)
//   file GROUP VERSION NAME PATH
//
// GROUP is 0 or 1; VERSION an unsigned 32-bit number; NAME the name as the
// client receives it (a relative path with backslashes); PATH the plain file,
// relative to the content directory. A field that holds blanks is written in
// double quotes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvserver {

struct ContentFile {
    int group = 0;
    std::uint32_t version = 0;
    std::string name;
    std::string path;                // resolved, inside the content directory
    std::vector<unsigned char> body; // the gzip member sent for it
};

struct Manifest {
    std::uint32_t version[2] = {0, 0};
    std::uint32_t redirectAddr = 0; // network byte order, 0: none
    std::vector<ContentFile> files;
};

// Loads and checks the manifest of contentDir and encodes every file.
// Returns false with a message in error.
bool LoadManifest(const std::string& contentDir, Manifest& manifest, std::string& error);

// The files a client holding version[] is sent, in sending order: group 0
// then group 1, each by version value (manifest order among equals).
std::vector<const ContentFile*> SelectFiles(const Manifest& manifest,
                                            const std::uint32_t version[2]);

} // namespace tvserver
