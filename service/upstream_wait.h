#pragma once
// A lookup that waits for the upstream's answer with its connection
// suspended, so that it holds no server thread. Shared between the server's
// handler and the upstream's callback, which may come before the handler has
// suspended the connection, after it, or after the server has gone.

#include <functional>
#include <mutex>

namespace teloria::service {

class UpstreamWait {
public:
    // The handler's side, once the upstream has been asked (asked false: it
    // was not, the lookup is answered now): suspends the connection unless
    // the answer has come already. True when it is suspended.
    bool suspendUnlessAnswered(bool asked, const std::function<void()>& suspend)
    {
        std::lock_guard lock(mutex_);
        if (asked && state_ == State::Asking) {
            suspend();
            state_ = State::Suspended;
            return true;
        }
        state_ = State::Ready;
        return false;
    }

    // The upstream's side, or the server's when it stops: once only, a
    // suspended connection is resumed; the handler is then called again and
    // answers with what is known.
    void finish(const std::function<void()>& resume)
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Suspended)
            resume();
        state_ = State::Ready;
    }

private:
    enum class State { Asking, Suspended, Ready };
    std::mutex mutex_;
    State state_ = State::Asking;
};

} // namespace teloria::service
