// A protocol-level client for the server tests: reads the version reply,
// sends a version request and parses everything that follows, optionally
// slowly, so tests can see exactly what one connection was sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tvtest {

struct ReceivedFile {
    std::string name;
    std::uint32_t version = 0;
    std::string body;
};

struct Exchange {
    bool connected = false;
    bool gotReply = false;
    std::uint32_t serverVersion[2] = {0, 0};
    std::uint32_t redirectAddr = 0; // network byte order, as the reply has it
    bool gotList = false;
    std::uint16_t groupFiles[2] = {0, 0};
    std::int32_t total = 0;
    std::vector<ReceivedFile> files;
    bool complete = false; // every announced file arrived, then an orderly close
};

int ConnectTo(const std::string& addr, unsigned port);

// One exchange on a fresh connection; readPauseMs > 0 reads in small pieces
// with a pause between them (a small receive buffer makes the server wait).
// midway, when given, runs after the first file has arrived, while the rest
// waits unread.
Exchange Fetch(unsigned port, std::uint32_t v0, std::uint32_t v1, int readPauseMs = 0,
               const std::string& addr = "127.0.0.1",
               const std::function<void()>& midway = nullptr);

} // namespace tvtest
