#pragma once
// The baseline the window's run is measured against: one plain libcurl GET on
// a fresh handle, the body kept, nothing decoded.

#include <curl/curl.h>

#include <string>

namespace bench {

inline std::size_t keepBody(char* data, std::size_t size, std::size_t n, void* body)
{
    static_cast<std::string*>(body)->append(data, size * n);
    return size * n;
}

// False when the transfer failed; body gets what arrived.
inline bool bareGet(const std::string& url, std::string& body)
{
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    const bool ok = curl_easy_perform(h) == CURLE_OK;
    curl_easy_cleanup(h);
    return ok;
}

} // namespace bench
