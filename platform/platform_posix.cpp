// The service's operating-system calls on POSIX systems.

#include "platform/platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/epoll.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace teloria::platform {
namespace {

using AddressList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

AddressList resolve(const std::string& host, int port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (host.empty() || ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0)
        found = nullptr;
    return AddressList(found, &freeaddrinfo);
}

bool isLoopback(const sockaddr* address)
{
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    return false;
}

} // namespace

std::optional<Listener> listenOn(const std::string& host, int port, int backlog, std::string* error)
{
    const auto fail = [&](const std::string& why) -> std::optional<Listener> {
        if (error)
            *error = "cannot listen on " + host + ":" + std::to_string(port) + " (" + why + ")";
        return std::nullopt;
    };
    const AddressList addresses = resolve(host, port, AI_PASSIVE);
    if (!addresses)
        return fail("not an address or a name that resolves");
    std::string why = "address in use or not local";
    for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        // SO_REUSEADDR only: SO_REUSEPORT would let a second service bind the
        // same port and take half of its connections.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // Accepted sockets inherit TCP_NODELAY; without it a keep-alive client
        // waits for the delayed ACK (about 40 ms) on every answer.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, backlog) == 0
            && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
            const int boundPort = bound.ss_family == AF_INET6
                                      ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                                      : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
            return Listener{fd, boundPort};
        }
        why = std::strerror(errno);
        ::close(fd);
    }
    return fail(why);
}

void closeSocket(Socket socket)
{
    if (socket != kNoSocket)
        ::close(static_cast<int>(socket));
}

std::optional<Accepted> acceptConnection(Socket listener, std::string* error)
{
    Accepted taken;
    socklen_t size = sizeof taken.address;
    const int fd = ::accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(taken.address), &size,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (error && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
            *error = std::strerror(errno);
        return std::nullopt;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    taken.socket = fd;
    taken.addressSize = size;
    return taken;
}

void shutdownConnection(Socket socket)
{
    if (socket != kNoSocket)
        ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

bool onlyEndOfInputWaits(Socket socket)
{
    char c;
    return socket != kNoSocket && ::recv(static_cast<int>(socket), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void shutdownReading(Socket socket)
{
    if (socket != kNoSocket)
        ::shutdown(static_cast<int>(socket), SHUT_RD);
}

ListenerWait::ListenerWait()
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_[0] = pipe_[1] = -1;
}

ListenerWait::~ListenerWait()
{
    for (const int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

bool ListenerWait::wait(Socket listener, int timeoutMs, const EndOfInputWatch* ends)
{
    pollfd fds[3] = {{static_cast<int>(listener), POLLIN, 0}, {pipe_[0], POLLIN, 0},
                     {ends ? ends->handle_ : -1, POLLIN, 0}};
    if (::poll(fds, 3, timeoutMs) <= 0)
        return false;
    if (fds[1].revents) {
        char drain[64];
        while (::read(pipe_[0], drain, sizeof drain) > 0) {
        }
        return false;
    }
    return (fds[0].revents & POLLIN) != 0;
}

#ifdef __linux__
// Only the peer's end is asked for, edge-triggered: the data a connection
// receives does not wake the watch, and an end is told once.
EndOfInputWatch::EndOfInputWatch() : handle_(::epoll_create1(EPOLL_CLOEXEC)) {}

EndOfInputWatch::~EndOfInputWatch()
{
    if (handle_ >= 0)
        ::close(handle_);
}

bool EndOfInputWatch::watch(Socket socket)
{
    epoll_event event{};
    event.events = EPOLLRDHUP | EPOLLET;
    event.data.fd = static_cast<int>(socket);
    return handle_ >= 0 && socket != kNoSocket
           && ::epoll_ctl(handle_, EPOLL_CTL_ADD, static_cast<int>(socket), &event) == 0;
}

std::vector<Socket> EndOfInputWatch::ended()
{
    std::vector<Socket> sockets;
    epoll_event events[256];
    for (int n = 0; handle_ >= 0 && (n = ::epoll_wait(handle_, events, 256, 0)) > 0;) {
        for (int i = 0; i < n; ++i)
            sockets.push_back(events[i].data.fd);
        if (n < 256)
            break;
    }
    return sockets;
}
#else
EndOfInputWatch::EndOfInputWatch() = default;
EndOfInputWatch::~EndOfInputWatch() = default;
bool EndOfInputWatch::watch(Socket) { return false; }
std::vector<Socket> EndOfInputWatch::ended() { return {}; }
#endif

void ListenerWait::wake()
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(pipe_[1], &c, 1);
}

unsigned long raiseOpenFileLimit(unsigned long wanted)
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return 0;
    if (files.rlim_cur < wanted && files.rlim_cur != RLIM_INFINITY) {
        const rlimit raised{std::min<rlim_t>(wanted, files.rlim_max), files.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            files.rlim_cur = raised.rlim_cur;
    }
    return static_cast<unsigned long>(files.rlim_cur);
}

std::optional<std::string> loopbackAddress(const std::string& host)
{
    const AddressList addresses = resolve(host, 0, 0);
    if (!addresses)
        return std::nullopt;
    for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
        if (!isLoopback(a->ai_addr))
            return std::nullopt;
    }
    char numeric[NI_MAXHOST] = {};
    if (::getnameinfo(addresses->ai_addr, addresses->ai_addrlen, numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST) != 0)
        return std::nullopt;
    return std::string(numeric);
}

namespace {
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

void blockStopSignals()
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string waitForStopSignal()
{
    const sigset_t set = stopSignals();
    int received = 0;
    while (sigwait(&set, &received) != 0) {
    }
    return received == SIGINT ? "SIGINT" : "SIGTERM";
}

} // namespace teloria::platform
