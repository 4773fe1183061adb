#include "local_resolver.h"

#include "http_resolver.h"

#include "service/location_resolver.h"
#include "service/lookup_server.h"
#include "service/number_normalizer.h"

namespace teloria::cli {

LocalResolver::LocalResolver() : locations_(std::make_shared<const service::LocationResolver>()) {}

LocalResolver::~LocalResolver() = default;

const RowCells& LocalResolver::cellsOf(const service::Answer& answer)
{
    auto [it, added] = cells_.try_emplace(&answer);
    if (added)
        it->second = cellsOfAnswer(QString::fromStdString(answer.location), QString::fromStdString(answer.cardType));
    return it->second;
}

void LocalResolver::resolve(const QStringList& numbers, std::vector<Resolution>& out)
{
    static const std::size_t maxBytes = service::ServerOptions{}.maxNumberBytes;
    out.assign(static_cast<std::size_t>(numbers.size()), Resolution{});
    std::string typed;
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        Resolution& r = out[static_cast<std::size_t>(i)]; // never failed here: reason stays empty
        const QString& number = numbers.at(i);
        typed.clear();
        for (const QChar c : number) { // numbers are ASCII nearly always: no conversion then
            if (c.unicode() >= 0x80) {
                typed = number.toStdString();
                break;
            }
            typed.push_back(static_cast<char>(c.unicode()));
        }
        const auto clean = typed.size() <= maxBytes ? service::cleanNumber(typed) : std::nullopt;
        r.cells = clean ? &cellsOf(locations_->resolve(*clean)) : &kNoCells;
        r.outcome = clean ? Outcome::Answered : Outcome::NotANumber;
    }
}

} // namespace teloria::cli
