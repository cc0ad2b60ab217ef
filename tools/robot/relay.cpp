// The client's stdout and stderr, passed on to the robot's own. The client
// writes into pipes the robot reads at every step, and always just before it
// prints a message box, so a diagnostic the client wrote before showing a box
// comes before the box's line. The robot's own streams are never handed to
// the client: processes the client starts in turn (Wine starts its desktop
// process from the first window) would hold them open after the run.
#include "robot.h"

namespace robot {

namespace {

constexpr DWORD kPipeBytes = 1 << 16;

void Drain(HANDLE pipe, void (*write)(const std::string&)) {
    for (;;) {
        DWORD available = 0;
        if (pipe == nullptr || !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) ||
            available == 0)
            return;
        std::string bytes(available, '\0');
        DWORD got = 0;
        if (!ReadFile(pipe, bytes.data(), available, &got, nullptr) || got == 0)
            return;
        bytes.resize(got);
        write(bytes);
    }
}

} // namespace

Relay::~Relay() {
    for (HANDLE h : {m_out, m_err})
        if (h != nullptr)
            CloseHandle(h);
}

bool Relay::Open(HANDLE& childOut, HANDLE& childErr) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(&m_out, &childOut, &sa, kPipeBytes))
        return false;
    if (!CreatePipe(&m_err, &childErr, &sa, kPipeBytes))
        return false;
    // Only the write ends go to the client.
    SetHandleInformation(m_out, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_err, HANDLE_FLAG_INHERIT, 0);
    return true;
}

void Relay::Pump() {
    Drain(m_out, WriteOut);
    Drain(m_err, WriteErr);
}

} // namespace robot
