#pragma once
// The operating-system calls of every program, in one place: listening
// sockets, host-name checks and the stop signals (platform_posix.cpp), and the
// reading of teloria-batch's input (input_posix.cpp). A port to another system
// replaces those two files with its own counterparts.

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace teloria::platform {

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

// A connection taken from a listening socket: non-blocking, TCP_NODELAY, with
// the peer's address as the system gives it.
struct Accepted {
    Socket socket = kNoSocket;
    alignas(8) unsigned char address[128] = {};
    unsigned addressSize = 0;
};
// The next connection waiting on a non-blocking listener; none when no
// connection waits (or accepting failed: the reason is then in *error).
std::optional<Accepted> acceptConnection(Socket listener, std::string* error = nullptr);
// Ends both directions of a connection without closing its handle: whoever
// owns the handle sees the end of input at once and closes it.
void shutdownConnection(Socket socket);
// True when the peer has closed its sending side and nothing before that end
// is left to read; false while bytes wait or the peer may still send.
bool onlyEndOfInputWaits(Socket socket);
// Ends the reading side of a connection: whoever waits on it for input is
// woken and reads the end of input.
void shutdownReading(Socket socket);

// Tells which connections' peers have ended their input (their FIN came)
// without a system call per read: a socket is watched once, from its accept,
// and the watch goes with its close.
class EndOfInputWatch {
public:
    EndOfInputWatch();
    ~EndOfInputWatch();
    EndOfInputWatch(const EndOfInputWatch&) = delete;
    EndOfInputWatch& operator=(const EndOfInputWatch&) = delete;
    // False when the socket cannot be watched (then its end is to be looked for).
    bool watch(Socket socket);
    // The sockets whose end came since the last call, each told once; a number
    // closed meanwhile may be among them. Never waits.
    std::vector<Socket> ended();

private:
    friend class ListenerWait;
    int handle_ = -1; // readable when ended() has something to tell
};

// Waits for a listening socket to have a connection waiting, for a time-out,
// for a peer's end of input on a watch, or for wake() from another thread
// (which is remembered until the next wait).
class ListenerWait {
public:
    ListenerWait();
    ~ListenerWait();
    ListenerWait(const ListenerWait&) = delete;
    ListenerWait& operator=(const ListenerWait&) = delete;
    // True when a connection waits; false on time-out, an end on ends, or wake().
    bool wait(Socket listener, int timeoutMs, const EndOfInputWatch* ends = nullptr);
    void wake();

private:
    int pipe_[2] = {-1, -1};
};

// Raises the soft limit of open files towards the hard one, up to wanted;
// returns the soft limit in force afterwards.
unsigned long raiseOpenFileLimit(unsigned long wanted);

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

// Input of teloria-batch.

// A file descriptor for reading path, or -1 and the reason.
int openForReading(const QString& path, QString* error);
void closeInput(int fd);
// Reads what is there, up to size bytes, waiting only when nothing is: the
// byte count, 0 at end of input, -1 on error (reason in *error).
std::int64_t readSome(int fd, char* buffer, std::int64_t size, QString* error);
// True when a read would not block (data or end of input waiting).
bool inputWaiting(int fd);
// The size of a regular file behind fd; -1 for a pipe, terminal or device.
std::int64_t regularFileSize(int fd);
bool isTerminal(int fd);
// Asks the allocator to keep freed memory for reuse rather than hand it back
// to the system at once: the batch frees and takes again the same blocks for
// every 64 KiB of input, and each block handed back costs page faults.
void keepFreedMemory();

} // namespace teloria::platform
