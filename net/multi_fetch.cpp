#include "net/multi_fetch.h"

#include "net/fetch_hop.h"

#include <curl/curl.h>

#include <algorithm>
#include <optional>

namespace teloria {

namespace {

struct EasyCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

} // namespace

// One transfer place: its easy handle (made on first use, kept) and the URL
// it works on. The hop comes after the handle, so it lets go of the handle
// before the handle is cleaned up.
struct MultiFetch::Slot {
    std::unique_ptr<CURL, EasyCleanup> curl;
    FetchHop hop;
    std::optional<RedirectChain> chain; // set while a URL is in flight here
    qsizetype index = -1;
    bool added = false; // the handle is on the multi handle
};

// One call of fetch(): the next URL to ask, what is in flight, and whether
// asking goes on. Every handle it added is off the multi handle again when
// it ends, however it ends.
class MultiFetch::Run {
public:
    Run(MultiFetch& owner, const QStringList& urls, const MultiFetch::OnAnswer& onAnswer)
        : owner_(owner), multi_(static_cast<CURLM*>(owner.multi_)), urls_(urls), onAnswer_(onAnswer)
    {
    }
    ~Run()
    {
        for (int i = 0; i < owner_.slotCount_; ++i) {
            Slot& slot = owner_.slots_[i];
            if (slot.added)
                curl_multi_remove_handle(multi_, slot.curl.get());
            slot.added = false;
            slot.chain.reset();
        }
    }

    void go()
    {
        for (int i = 0; i < owner_.slotCount_; ++i)
            startNext(owner_.slots_[i]);
        while (inFlight_ > 0) {
            int running = 0;
            const CURLMcode performed = curl_multi_perform(multi_, &running);
            if (performed != CURLM_OK) {
                failAll(curl_multi_strerror(performed));
                continue;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                CURL* curl = message->easy_handle;
                const CURLcode code = message->data.result; // the message ends with the removal
                Slot* slot = nullptr;
                curl_easy_getinfo(curl, CURLINFO_PRIVATE, reinterpret_cast<char**>(&slot));
                curl_multi_remove_handle(multi_, curl);
                if (!slot)
                    continue;
                slot->added = false;
                if (std::optional<FetchResult> answer = slot->chain->endHop(slot->hop, code)) {
                    answered(*slot, std::move(*answer));
                    startNext(*slot);
                } else if (!launch(*slot)) { // the next hop of the same URL
                    startNext(*slot);
                }
            }
            if (inFlight_ == 0)
                break;
            const FetchCanceller* canceller = owner_.options_.canceller;
            if (canceller && canceller->cancelled()) {
                failAll(nullptr);
                continue;
            }
            const CURLMcode polled = curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
            if (polled != CURLM_OK)
                failAll(curl_multi_strerror(polled));
        }
    }

private:
    // Starts the next URL of the list on a free slot; false when none is left
    // to ask, or every one left failed before it was sent.
    bool startNext(Slot& slot)
    {
        while (asking_ && next_ < urls_.size()) {
            slot.index = next_++;
            slot.chain.emplace(urls_.at(slot.index), owner_.options_);
            owner_.peakInFlight_ = std::max(owner_.peakInFlight_, ++inFlight_);
            if (launch(slot))
                return true;
        }
        return false;
    }

    // Puts the slot's next hop on the multi handle; false when it failed
    // before it was sent, and the URL has been answered.
    bool launch(Slot& slot)
    {
        if (!slot.curl)
            slot.curl.reset(curl_easy_init());
        if (!slot.curl) {
            answered(slot, fetchFailure(FetchError::OutOfMemory, "no libcurl handle"));
            return false;
        }
        if (std::optional<FetchResult> failed = slot.chain->beginHop(slot.hop, slot.curl.get())) {
            answered(slot, std::move(*failed));
            return false;
        }
        curl_easy_setopt(slot.curl.get(), CURLOPT_PRIVATE, &slot);
        if (curl_multi_add_handle(multi_, slot.curl.get()) != CURLM_OK) {
            answered(slot, fetchFailureOf(slot, CURLE_OUT_OF_MEMORY));
            return false;
        }
        slot.added = true;
        return true;
    }

    // Ends every transfer in flight as failed (the multi handle broke, or the
    // fetch was cancelled: text nullptr) and moves on to the next URLs.
    void failAll(const char* text)
    {
        for (int i = 0; i < owner_.slotCount_; ++i) {
            Slot& slot = owner_.slots_[i];
            if (!slot.added)
                continue;
            curl_multi_remove_handle(multi_, slot.curl.get());
            slot.added = false;
            answered(slot, text ? fetchFailureOf(slot, CURLE_RECV_ERROR, text)
                                : fetchFailureOf(slot, CURLE_ABORTED_BY_CALLBACK));
        }
        for (int i = 0; i < owner_.slotCount_; ++i)
            if (!owner_.slots_[i].chain)
                startNext(owner_.slots_[i]);
    }

    FetchResult fetchFailureOf(Slot& slot, CURLcode code, const char* text = nullptr)
    {
        FetchResult result = slot.hop.finish(code, nullptr);
        if (text)
            result.errorText = QString::fromUtf8(text);
        return result;
    }

    void answered(Slot& slot, FetchResult&& result)
    {
        slot.chain.reset();
        --inFlight_;
        // Once told to stop, asking does not start again.
        if (!onAnswer_(slot.index, std::move(result)))
            asking_ = false;
    }

    MultiFetch& owner_;
    CURLM* multi_;
    const QStringList& urls_;
    const MultiFetch::OnAnswer& onAnswer_;
    qsizetype next_ = 0;
    int inFlight_ = 0;
    bool asking_ = true;
};

MultiFetch::MultiFetch(int transfers, FetchOptions options)
    : options_(std::move(options)), slotCount_(std::max(transfers, 1)), slots_(new Slot[std::size_t(slotCount_)])
{
    CURLM* multi = curl_multi_init();
    if (multi) {
        // One connection per transfer, as many kept open as there are slots:
        // no HTTP/2 stream waits behind another's on a shared connection.
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_NOTHING));
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, long(slotCount_));
    }
    multi_ = multi;
}

MultiFetch::~MultiFetch()
{
    slots_.reset(); // the easy handles, each after its hop
    curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void MultiFetch::fetch(const QStringList& urls, const OnAnswer& onAnswer)
{
    if (!multi_) {
        for (qsizetype i = 0; i < urls.size(); ++i) {
            peakInFlight_ = std::max(peakInFlight_, 1);
            if (!onAnswer(i, fetchFailure(FetchError::OutOfMemory, "no libcurl multi handle")))
                return;
        }
        return;
    }
    FetchCanceller* canceller = options_.canceller;
    const bool attached = canceller && canceller->attach(multi_); // cancel() wakes the poll
    Run run(*this, urls, onAnswer);
    struct Detach {
        FetchCanceller* canceller;
        void* multi;
        ~Detach() { if (canceller) canceller->detach(multi); }
    } detach{attached ? canceller : nullptr, multi_};
    run.go();
}

} // namespace teloria
