#include "service/connection_table.h"

#include <algorithm>
#include <vector>

namespace teloria::service {
namespace {
// How long the accepting thread waits at most for a connection being closed
// to make room before it refuses the new one.
constexpr std::chrono::milliseconds kRoomWait{200};
} // namespace

ConnectionTable::ConnectionTable(unsigned cap, std::chrono::seconds headDeadline)
    : cap_(std::max(1u, cap)), headDeadline_(headDeadline)
{
}

std::size_t ConnectionTable::open() const
{
    std::lock_guard lock(mutex_);
    return waitingForHead_.size() + busy_.size();
}

void ConnectionTable::drop(Entry* entry)
{
    if (entry->closing)
        --beingClosed_;
    if (const auto open = bySocket_.find(entry->socket); open != bySocket_.end() && open->second == entry)
        bySocket_.erase(open);
    (entry->waiting ? waitingForHead_ : busy_).erase(entry->self);
}

// The daemon sees the end of input and closes it.
void ConnectionTable::closeToMakeRoom(Entry& entry)
{
    platform::shutdownConnection(entry.socket);
    entry.closing = true;
    ++beingClosed_;
    if (entry.waiting) {
        busy_.splice(busy_.end(), waitingForHead_, entry.self);
        entry.waiting = false;
    }
}

// A new connection waits for its first request from its accept, before a
// daemon thread takes it up: a full table may close it already then.
bool ConnectionTable::enter(platform::Socket socket, bool endWatched)
{
    std::unique_lock lock(mutex_);
    // A socket number the daemon gave up without a word (out of memory) is
    // free again: its old entry holds no connection.
    if (const auto stale = bySocket_.find(socket); stale != bySocket_.end() && !stale->second->takenUp)
        drop(stale->second);
    const auto openNow = [this] { return waitingForHead_.size() + busy_.size(); };
    if (openNow() >= cap_) {
        if (beingClosed_ == 0 && !waitingForHead_.empty())
            closeToMakeRoom(waitingForHead_.front());
        if (beingClosed_ == 0)
            return false;
        changed_.wait_for(lock, kRoomWait, [&] { return openNow() < cap_ || stopping_; });
        if (openNow() >= cap_)
            return false;
    }
    Entry& entry = waitingForHead_.emplace_back();
    entry.socket = socket;
    entry.waitingSince = Clock::now(); // taken under the lock: the list stays in order
    entry.endSeen = !endWatched;
    entry.self = std::prev(waitingForHead_.end());
    // A connection the daemon has closed may still be in the table under this
    // number until its close is reported: the number now means the new one.
    bySocket_[socket] = &entry;
    return true;
}

void ConnectionTable::withdraw(platform::Socket socket)
{
    {
        std::lock_guard lock(mutex_);
        const auto entry = bySocket_.find(socket);
        if (entry == bySocket_.end() || entry->second->takenUp)
            return;
        drop(entry->second);
    }
    changed_.notify_all();
}

void ConnectionTable::stopWaitingForRoom()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

int ConnectionTable::closePastHeadDeadline()
{
    constexpr int kLongest = 1000;
    if (headDeadline_.count() == 0)
        return kLongest;
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    while (!waitingForHead_.empty() && now - waitingForHead_.front().waitingSince >= headDeadline_)
        closeToMakeRoom(waitingForHead_.front());
    if (waitingForHead_.empty())
        return kLongest;
    const auto due = std::chrono::ceil<std::chrono::milliseconds>(waitingForHead_.front().waitingSince + headDeadline_ - now);
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(due.count(), 1, kLongest));
}

// With epoll the library (0.9.75) takes a read shorter than its buffer for
// "nothing more to read" and waits for the next readiness edge. A client's
// FIN that came with its last bytes makes no edge of its own, so the
// half-closed connection would wait for the idle time-out. When only the end
// of input is left in the socket, shutting down its reading side makes that
// edge: the daemon reads the end, answers what it holds and closes.
void ConnectionTable::passOnEndOfInput(Entry& entry)
{
    if (!entry.endPassedOn && !entry.closing && platform::onlyEndOfInputWaits(entry.socket)) {
        entry.endPassedOn = true;
        platform::shutdownReading(entry.socket);
    }
}

// Only a few connections end at once: their sockets are looked at under the lock.
void ConnectionTable::endsOfInput(const std::vector<platform::Socket>& sockets)
{
    if (sockets.empty())
        return;
    std::lock_guard lock(mutex_);
    for (const platform::Socket socket : sockets) {
        const auto open = bySocket_.find(socket);
        if (open == bySocket_.end())
            continue;
        Entry& entry = *open->second;
        entry.endSeen = true;
        if (entry.waiting)
            passOnEndOfInput(entry);
    }
}

// A part of a head and the FIN may have come together, with no answer to look
// after: the daemon had the part still to read when the end was told. The
// sockets are looked at without the lock, so that the daemon's threads are
// not held up by many such; those found at their end are looked at again
// under it, still in the table, before anything is done.
void ConnectionTable::passOnEndsOfInput()
{
    constexpr auto kEvery = std::chrono::seconds(1);
    std::vector<std::pair<const Entry*, platform::Socket>> waiting;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        if (now - endsLookedFor_ < kEvery)
            return;
        endsLookedFor_ = now;
        waiting.reserve(waitingForHead_.size());
        for (const Entry& entry : waitingForHead_) {
            if (entry.endSeen && !entry.endPassedOn)
                waiting.emplace_back(&entry, entry.socket);
        }
    }
    // A socket closed meanwhile and its number taken again is only peeked at.
    std::vector<const Entry*> ended;
    for (const auto& [entry, socket] : waiting) {
        if (platform::onlyEndOfInputWaits(socket))
            ended.push_back(entry);
    }
    if (ended.empty())
        return;
    std::sort(ended.begin(), ended.end());
    std::lock_guard lock(mutex_);
    for (Entry& entry : waitingForHead_) {
        if (std::binary_search(ended.begin(), ended.end(), &entry))
            passOnEndOfInput(entry);
    }
}

ConnectionTable::Entry* ConnectionTable::takenUp(platform::Socket socket)
{
    std::lock_guard lock(mutex_);
    const auto taken = bySocket_.find(socket);
    if (taken == bySocket_.end() || taken->second->takenUp)
        return nullptr;
    taken->second->takenUp = true;
    return taken->second;
}

void ConnectionTable::requestArrived(Entry* entry)
{
    {
        std::lock_guard lock(mutex_);
        if (!entry->waiting)
            return;
        busy_.splice(busy_.end(), waitingForHead_, entry->self);
        entry->waiting = false;
    }
    changed_.notify_all();
}

// On the daemon's thread of this connection, which alone closes it. Its
// socket is looked at only when its peer's end came, or is not watched for.
void ConnectionTable::answered(Entry* entry)
{
    {
        std::lock_guard lock(mutex_);
        if (entry->waiting || entry->closing)
            return;
        waitingForHead_.splice(waitingForHead_.end(), busy_, entry->self);
        entry->waiting = true;
        entry->waitingSince = Clock::now();
        if (entry->endSeen)
            passOnEndOfInput(*entry);
    }
    changed_.notify_all();
}

void ConnectionTable::closed(Entry* entry)
{
    {
        std::lock_guard lock(mutex_);
        drop(entry);
    }
    changed_.notify_all();
}

void ConnectionTable::closeAfterAnswering(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    for (const auto* connections : {&waitingForHead_, &busy_}) {
        for (const Entry& entry : *connections)
            platform::shutdownReading(entry.socket);
    }
    changed_.wait_until(lock, deadline, [this] { return waitingForHead_.empty() && busy_.empty(); });
}

} // namespace teloria::service
