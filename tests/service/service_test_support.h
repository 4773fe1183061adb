#pragma once
// Helpers shared by the service tests: building phone.dat files, talking raw
// HTTP over a socket, and cutting the two fields out of an answer page.

#include "text/field_extract.h"
#include "text/text_codec.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace teloria::service::testing {

// Builds bytes in the phone.dat layout from records and index entries.
struct PhoneDatBuilder {
    struct Entry {
        std::uint32_t prefix;
        std::size_t record;   // index in records
        std::uint8_t cardType;
    };
    std::string version = "2301";
    std::vector<std::string> records; // "province|city|postcode|area code"
    std::vector<Entry> entries;

    static void putLe32(std::string& out, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }

    std::string build() const
    {
        std::string recordArea;
        std::vector<std::uint32_t> offsets;
        for (const auto& r : records) {
            offsets.push_back(static_cast<std::uint32_t>(8 + recordArea.size()));
            recordArea += r;
            recordArea.push_back('\0');
        }
        std::string out = version.substr(0, 4);
        out.resize(4, ' ');
        putLe32(out, static_cast<std::uint32_t>(8 + recordArea.size()));
        out += recordArea;
        for (const auto& e : entries) {
            putLe32(out, e.prefix);
            putLe32(out, offsets.at(e.record));
            out.push_back(static_cast<char>(e.cardType));
        }
        return out;
    }
};

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A small database used across the tests: two provinces, one unknown card type.
inline PhoneDatBuilder sampleDat()
{
    PhoneDatBuilder b;
    b.records = {"测试省|样例市|100000|0101", "北京|北京|100000|010", "甲省|乙市|200000|0202"};
    b.entries = {
        {1380013, 0, 2},  // overrides the built-in 中国移动 / 北京市
        {1700123, 1, 4},
        {1921234, 2, 7},
        {1999999, 2, 99}, // a card-type byte outside 1..8
    };
    return b;
}

// One TCP connection to 127.0.0.1:port with a receive time-out as a guard
// against hangs (a hang then fails the test instead of blocking it).
class RawConnection {
public:
    explicit RawConnection(int port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval guard{30, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &guard, sizeof guard);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        // With nothing listening, a connect from an ephemeral port equal to the
        // target port meets itself (TCP simultaneous open) and would hold the port.
        sockaddr_in local{};
        socklen_t len = sizeof local;
        if (connected_ && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) == 0 && local.sin_port == addr.sin_port)
            connected_ = false;
    }
    ~RawConnection()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }

    // Sends everything; false when the peer stopped taking data (it may
    // answer and close early, which is fine for oversized requests).
    bool send(const std::string& bytes)
    {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }
    // The close in the destructor then resets the connection at once.
    void resetOnClose()
    {
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }

    // Still open, and nothing to read: no answer, no close, no reset.
    bool isOpenAndQuiet()
    {
        char c;
        const auto n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }

    // Everything until the peer closes (or the guard time-out).
    std::string readAll()
    {
        std::string out;
        char buf[8192];
        for (;;) {
            const auto n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

    // The head of a response, up to and with the blank line.
    std::optional<std::string> readHead()
    {
        std::string head;
        char c;
        while (!head.ends_with("\r\n\r\n")) {
            if (::recv(fd_, &c, 1, 0) != 1)
                return std::nullopt;
            head.push_back(c);
        }
        return head;
    }

    // One response: the head up to the blank line, then Content-Length bytes.
    std::optional<std::string> readResponse()
    {
        const auto read = readHead();
        if (!read)
            return std::nullopt;
        const std::string& head = *read;
        std::size_t length = 0;
        if (const auto at = head.find("Content-Length: "); at != std::string::npos)
            length = std::stoul(head.substr(at + 16));
        std::string body(length, '\0');
        std::size_t got = 0;
        while (got < length) {
            const auto n = ::recv(fd_, body.data() + got, length - got, 0);
            if (n <= 0)
                return std::nullopt;
            got += static_cast<std::size_t>(n);
        }
        return head + body;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// The status code of a raw response ("HTTP/1.1 404 Not Found" -> 404), 0 if none.
inline int statusOf(const std::string& response)
{
    if (response.size() < 12 || !response.starts_with("HTTP/1."))
        return 0;
    return std::stoi(response.substr(9, 3));
}

struct Fields {
    QString location;
    QString cardType;
    bool hasMarkers = false;
};

// The two fields as the lookup run cuts them out of a GBK page.
inline Fields fieldsOf(const std::string& body)
{
    const QString page = decodePage(QByteArrayView(body.data(), static_cast<qsizetype>(body.size())),
                                    "text/html; charset=GBK");
    return {extractField(page, kLocationMarker), extractField(page, kCardTypeMarker),
            page.contains(kLocationMarker) || page.contains(kCardTypeMarker)};
}

} // namespace teloria::service::testing
