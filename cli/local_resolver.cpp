#include "cli/local_resolver.h"

#include "data/data_files.h"
#include "data/learning.h"
#include "data/number_normalizer.h"
#include "data/prefix_store.h"

namespace teloria::cli {

LocalResolver::LocalResolver(const data::DataSettings& settings, std::FILE* err)
{
    data::LoadedStore loaded = data::loadStore(settings);
    if (!settings.program.empty()) {
        for (const data::LoadReport& report : loaded.reports)
            std::fprintf(err, "%s: %s\n", settings.program.c_str(), data::reportLine(report).c_str());
    }
    store_ = std::move(loaded.store);
    learning_ = std::move(loaded.learning);
}

LocalResolver::~LocalResolver() = default;

const RowCells& LocalResolver::cellsOf(const data::Answer& answer)
{
    Recent& slot = recent_[(reinterpret_cast<std::uintptr_t>(&answer) >> 4) % recent_.size()];
    if (slot.answer == &answer)
        return *slot.cells;
    auto [it, added] = cells_.try_emplace(&answer);
    if (added) {
        RowCells& c = it->second;
        c.location = QString::fromStdString(answer.location);
        c.card = QString::fromStdString(answer.cardType);
        c.province = QString::fromStdString(answer.province);
        c.city = QString::fromStdString(answer.city);
        c.areaCode = QString::fromStdString(answer.areaCode);
        c.zip = QString::fromStdString(answer.zip);
        c.source = QString::fromStdString(answer.source);
    }
    slot = Recent{&answer, &it->second};
    return it->second;
}

void LocalResolver::resolve(const QStringList& numbers, std::vector<Resolution>& out)
{
    // The service refuses a longer "mobile" value as no number; so does this path.
    constexpr std::size_t maxBytes = data::kMaxNumberBytes;
    out.assign(static_cast<std::size_t>(numbers.size()), Resolution{}); // never failed here
    // First every number cleaned, its slot in the store hinted; then the lookups.
    clean_.resize(static_cast<std::size_t>(numbers.size()));
    std::string typed;
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        const QString& number = numbers.at(i);
        typed.clear();
        for (const QChar c : number) { // numbers are ASCII nearly always: no conversion then
            if (c.unicode() >= 0x80) {
                typed = number.toStdString();
                break;
            }
            typed.push_back(static_cast<char>(c.unicode()));
        }
        auto& clean = clean_[static_cast<std::size_t>(i)];
        clean = typed.size() <= maxBytes ? data::cleanNumber(typed) : std::nullopt;
        if (learning_ && clean && clean->kind == data::NumberKind::Mobile)
            learning_->prepare(static_cast<std::uint32_t>(std::stoul(clean->digits.substr(0, 7))));
        if (clean)
            store_->prefetch(*clean);
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        Resolution& r = out[i];
        const auto& clean = clean_[i];
        r.cells = clean ? &cellsOf(store_->lookup(*clean)) : &kNoCells;
        r.outcome = clean ? Outcome::Answered : Outcome::NotANumber;
    }
}

} // namespace teloria::cli
