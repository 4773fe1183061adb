#pragma once
// The operating-system calls of the service and of teloria-lookupd, in one
// place: listening sockets, host-name checks and the stop signals. A port to
// another system replaces platform_posix.cpp with its own counterpart.

#include <cstdint>
#include <optional>
#include <string>

namespace teloria::service::platform {

using Socket = std::intptr_t; // a native socket handle
inline constexpr Socket kNoSocket = -1;

struct Listener {
    Socket socket = kNoSocket;
    int port = 0;
};

// A socket bound to host:port (port 0: a free one) and listening with the
// given backlog: SO_REUSEADDR only (a second service cannot take the same
// port), TCP_NODELAY (accepted sockets inherit it), non-blocking.
std::optional<Listener> listenOn(const std::string& host, int port, int backlog, std::string* error);
void closeSocket(Socket socket);

// The numeric address of host when every address the name resolves to is a
// loopback address ("localhost", "127.0.0.2", "::1"); nothing when any of them
// is not, or when the name does not resolve. Text that merely looks like a
// loopback address ("127.example.com") is resolved like any other name.
std::optional<std::string> loopbackAddress(const std::string& host);

// SIGINT and SIGTERM (or the system's equivalents) for a program's main:
// blockStopSignals() before any thread starts, so that every thread inherits
// the blocked mask; waitForStopSignal() then returns the name of the first one
// that arrives ("SIGINT", "SIGTERM").
void blockStopSignals();
std::string waitForStopSignal();

} // namespace teloria::service::platform
