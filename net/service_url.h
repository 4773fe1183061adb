#pragma once
#include <QString>
#include <optional>

namespace teloria {

inline constexpr char kLookupPath[] = "/sim_search138.asp?mobile=";
inline constexpr char kDefaultServiceHost[] = "127.0.0.1";
inline constexpr int kDefaultServicePort = 8138;

// Checks a service base URL given by the user ("http://127.0.0.1:8138",
// trailing slash allowed): http or https, a host, no query or fragment.
// Returns the normalised base without the trailing slash, or nothing plus a
// reason in *error.
std::optional<QString> parseServiceBase(const QString& text, QString* error = nullptr);

// The lookup URL for one number: base + path + the number as typed, every
// byte of its UTF-8 form outside the unreserved set (letters, digits, '-',
// '.', '_', '~') percent-encoded, so the server receives exactly what was
// typed: nothing in it can end the request line or read as query syntax.
QString lookupUrl(const QString& base, const QString& number);

} // namespace teloria
