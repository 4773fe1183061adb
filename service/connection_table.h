#pragma once
// The server's open connections, from their accept to their close: each one
// waits for its next request head (from its accept or its last answer on),
// or is busy with a request, or is being closed.
//
// When the table is full, the connection that has waited longest for a
// request head is closed to make room for a new one, so idle clients never
// lock out the rest; one busy with a request is never chosen. From its accept
// or its last answer a connection has the head deadline to send a whole
// request head, however many bytes of it trickle in meanwhile.
//
// The accepting thread enters and withdraws connections and keeps the
// deadlines; the daemon's threads report what each connection does.

#include "platform/platform.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace teloria::service {

class ConnectionTable {
public:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        platform::Socket socket = platform::kNoSocket;
        Clock::time_point waitingSince;
        bool waiting = true;
        bool closing = false;
        bool takenUp = false;     // a daemon thread has it: the daemon alone closes it now
        bool endSeen = false;     // the peer's end of input came (always looked for when not watched)
        bool endPassedOn = false; // the peer's end of input was pointed out to the daemon
        std::list<Entry>::iterator self;
    };

    // cap: open connections at most; headDeadline 0: none.
    ConnectionTable(unsigned cap, std::chrono::seconds headDeadline);
    ConnectionTable(const ConnectionTable&) = delete;
    ConnectionTable& operator=(const ConnectionTable&) = delete;

    // The accepting thread, before the connection is handed to the daemon:
    // false when every open connection is busy with a request and the new one
    // is to be refused. endWatched: endsOfInput() will tell of its peer's end;
    // otherwise it is looked for after every answer.
    bool enter(platform::Socket socket, bool endWatched = false);
    // The daemon would not take a connection entered.
    void withdraw(platform::Socket socket);
    // Closes the connections past their head deadline; the milliseconds until
    // the next one is due (at most a second).
    int closePastHeadDeadline();
    // The peers of these sockets ended their input: shown to the daemon on a
    // connection waiting for a head with nothing else left to read, and after
    // the answer on a busy one.
    void endsOfInput(const std::vector<platform::Socket>& sockets);
    // Once a second at most: shows the daemon the peer's end of input on the
    // connections where it came and nothing else is left to read by now.
    void passOnEndsOfInput();
    // Wakes an enter() waiting for room: the server is stopping.
    void stopWaitingForRoom();

    // The daemon's threads. takenUp gives the entry of a connection entered
    // (null for one that was not), which the other calls take.
    Entry* takenUp(platform::Socket socket);
    void requestArrived(Entry* entry);
    void answered(Entry* entry);
    void closed(Entry* entry);

    // When the server stops: every connection is told its input has ended,
    // so the daemon answers the requests it was sent by then and closes it.
    // Waits for that until the deadline at most.
    void closeAfterAnswering(Clock::time_point deadline);

    std::size_t open() const;

private:
    void drop(Entry* entry);          // with mutex_ held
    void closeToMakeRoom(Entry& entry); // with mutex_ held
    void passOnEndOfInput(Entry& entry); // with mutex_ held

    const unsigned cap_;
    const std::chrono::seconds headDeadline_;
    mutable std::mutex mutex_;
    std::condition_variable changed_; // one closed, took a request in or answered it
    std::list<Entry> waitingForHead_; // oldest first
    std::list<Entry> busy_;           // and those being closed
    std::unordered_map<platform::Socket, Entry*> bySocket_; // every open one (the newest, for a number in use twice)
    std::size_t beingClosed_ = 0;
    bool stopping_ = false;
    Clock::time_point endsLookedFor_;
};

} // namespace teloria::service
