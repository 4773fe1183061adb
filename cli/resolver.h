#pragma once
// What teloria-batch asks of a way to look numbers up: the typed number in,
// the row's cells out. The HTTP path (a lookup service) and the in-process
// path (the prefix store) are two implementations; the streaming, ordering
// and writing around them are shared.

#include "data/prefix7.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace teloria::cli {

// The cells a row can show beside its id and the number as typed.
struct RowCells {
    QString location, card, province, city, areaCode, zip, source;
};

enum class Outcome {
    Answered,   // the lookup gave an answer (which may be "未知")
    NotANumber, // the line is not a phone number (blank, letters ...): empty cells
    Failed,     // the request failed; the cells hold whatever the page held
    NotAsked,   // given up on before this number: empty cells
};

// The cells of a row without an answer.
inline const RowCells kNoCells{};

struct Resolution {
    const RowCells* cells = &kNoCells; // owned by the resolver, valid until its next resolve()
    Outcome outcome = Outcome::Answered;
    QString reason; // why it failed, one line ("HTTP 404", "Connection refused" ...)
    bool unreachable = false; // failed without any answer from the service
};

class Resolver {
public:
    virtual ~Resolver() = default;
    // Looks up every number of a block, in order: out[i] belongs to numbers[i].
    virtual void resolve(const QStringList& numbers, std::vector<Resolution>& out) = 0;
    // Why the resolver stopped asking; empty while it asks.
    virtual QString gaveUpReason() const { return {}; }
    // The in-process path answers an 11-digit mobile number from its 7-digit
    // prefix alone: mobileKey names the answer (the same key, the same cells,
    // as long as the resolver lives), cellsOfKey gives its cells. A resolver
    // that asks a service does neither.
    virtual bool answersMobilesInProcess() const { return false; }
    virtual void prefetchMobile(data::Prefix7 /*prefix*/) {}
    virtual std::uint32_t mobileKey(data::Prefix7 /*prefix*/) { return 0; }
    virtual const RowCells& cellsOfKey(std::uint32_t /*key*/) { return kNoCells; }
};

} // namespace teloria::cli
