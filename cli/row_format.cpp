#include "cli/row_format.h"

#include "data/number_kind.h"
#include "text/text_codec.h"

#include <QStringList>

#include <array>
#include <algorithm>
#include <charconv>
#include <cstring>

namespace teloria::cli {

namespace {

// A row's pieces are short (a comma, an id, a number, the answer's cells): as
// two overlapping moves of a fixed size each, not a call into the C library.
template <std::size_t Size>
bool copyPair(char* to, const char* from, std::size_t n)
{
    if (n < Size)
        return false;
    char head[Size], tail[Size];
    std::memcpy(head, from, Size);
    std::memcpy(tail, from + n - Size, Size);
    std::memcpy(to, head, Size);
    std::memcpy(to + n - Size, tail, Size);
    return true;
}

char* copyPiece(char* to, const char* from, std::size_t n)
{
    if (n > 32)
        std::memcpy(to, from, n);
    else if (!copyPair<16>(to, from, n) && !copyPair<8>(to, from, n) && !copyPair<4>(to, from, n)
             && !copyPair<2>(to, from, n) && n == 1)
        *to = *from;
    return to + n;
}

constexpr std::array<const char*, 10> kFieldNames = {"id",   "number",    "location", "card",   "province",
                                                      "city", "area_code", "zip",      "source", "kind"};

// A tsv cell: tab, line breaks and the backslash written as \t \n \r and a doubled backslash
// (GBK keeps every ASCII byte as it is, so the escapes hold in both encodings).
void appendTsvCell(QByteArray& out, const QString& cell, FileEncoding encoding)
{
    const QByteArray utf8 = encoding == FileEncoding::Gbk ? encodeGbk(cell) : cell.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\t': out.append("\\t"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\\': out.append("\\\\"); break;
        default: out.append(c);
        }
    }
}

void appendJsonString(QByteArray& out, const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    const QByteArray utf8 = text.toUtf8();
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out.append("\\u00");
                out.append(hex[c >> 4]);
                out.append(hex[c & 0xF]);
            } else {
                out.append(ch);
            }
        }
    }
    out.append('"');
}

// The kind column: one shared text per kind, so that a row refers to it.
const QString& kindCell(const QString& number, const QString& card)
{
    static const std::array<QString, 5> kinds = {QStringLiteral("mobile"), QStringLiteral("iot"),
                                                 QStringLiteral("landline"), QStringLiteral("service"),
                                                 QStringLiteral("not a number")};
    const std::string_view kind = data::numberKind(number.toStdString(), card.toStdString());
    for (const QString& k : kinds)
        if (k == QLatin1StringView(kind.data(), static_cast<qsizetype>(kind.size())))
            return k;
    return kinds.back();
}

} // namespace

std::optional<OutputFormat> formatByName(const QString& name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("csv"))
        return OutputFormat::Csv;
    if (n == QLatin1String("tsv"))
        return OutputFormat::Tsv;
    if (n == QLatin1String("jsonl"))
        return OutputFormat::Jsonl;
    return std::nullopt;
}

QString fieldName(Field field)
{
    return QString::fromLatin1(kFieldNames[static_cast<std::size_t>(field)]);
}

std::optional<std::vector<Field>> fieldsByNames(const QString& list, QString* bad)
{
    std::vector<Field> fields;
    for (const QString& part : list.split(u',')) {
        const QString name = part.trimmed().toLower();
        bool found = false;
        for (std::size_t i = 0; i < kFieldNames.size(); ++i) {
            if (name == QLatin1String(kFieldNames[i])) {
                fields.push_back(static_cast<Field>(i));
                found = true;
                break;
            }
        }
        if (!found) {
            *bad = part;
            return std::nullopt;
        }
    }
    return fields;
}

RowFormat::RowFormat(OutputFormat format, std::vector<Field> fields, FileEncoding encoding, bool header)
    : format_(format), fields_(std::move(fields)), encoding_(encoding), header_(header)
{
    for (const Field f : fields_) {
        if (f == Field::Id || f == Field::Number)
            cutFields_.push_back(f);
    }
    idCuts_ = static_cast<std::size_t>(std::count(cutFields_.begin(), cutFields_.end(), Field::Id));
    numberCuts_ = cutFields_.size() - idCuts_;
}

QByteArray RowFormat::header() const
{
    if (format_ != OutputFormat::Tsv || !header_)
        return {};
    QByteArray out;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0)
            out.append('\t');
        out.append(kFieldNames[static_cast<std::size_t>(fields_[i])]);
    }
    out.append('\n');
    return out;
}

const QString& RowFormat::cell(Field field, const QString& number, const RowCells& cells) const
{
    switch (field) {
    case Field::Id: break; // written as a number by the caller
    case Field::Number: return number;
    case Field::Location: return cells.location;
    case Field::Card: return cells.card;
    case Field::Province: return cells.province;
    case Field::City: return cells.city;
    case Field::AreaCode: return cells.areaCode;
    case Field::Zip: return cells.zip;
    case Field::Source: return cells.source;
    case Field::Kind: return kindCell(number, cells.card);
    }
    return number;
}

// A row of the csv file is its cells, each as the one csv line writer writes
// a single cell, joined by commas: that writer quotes cell by cell and its
// encodings map character by character.
void RowFormat::appendCsvCell(QByteArray& out, const QString& cell) const
{
    // ASCII with nothing to quote is the same bytes in every encoding.
    bool plain = true;
    for (const QChar c : cell) {
        const char16_t u = c.unicode();
        if (u >= 0x80 || u == u',' || u == u'"' || u == u'\r' || u == u'\n') {
            plain = false;
            break;
        }
    }
    if (plain) {
        const qsizetype at = out.size();
        out.resize(at + cell.size());
        char* to = out.data() + at;
        for (const QChar c : cell)
            *to++ = static_cast<char>(c.unicode());
        return;
    }
    RecentCell& slot = recent_[(reinterpret_cast<quintptr>(cell.constData()) >> 4) % recent_.size()];
    if (slot.cell.constData() == cell.constData() && slot.cell.size() == cell.size()) {
        out.append(slot.bytes);
        return;
    }
    auto it = csvCells_.constFind(cell);
    if (it == csvCells_.cend()) {
        if (csvCells_.size() >= 4096)
            csvCells_.clear();
        it = csvCells_.insert(cell, csvLine(QStringList{cell}, encoding_));
    }
    slot = RecentCell{cell, *it};
    out.append(*it);
}

void RowFormat::append(QByteArray& out, qint64 id, const QString& number, const RowCells& cells) const
{
    char idBuffer[24];
    const auto idEnd = std::to_chars(idBuffer, idBuffer + sizeof idBuffer, id).ptr;
    appendRow(out, QByteArrayView(idBuffer, idEnd - idBuffer), number, cells, nullptr);
}

void RowFormat::learnKey(std::uint32_t key, const RowCells& cells) const
{
    if (key >= tails_.size()) {
        tails_.resize(std::max<std::size_t>(key + 1, tails_.size() * 2));
        tailCuts_.resize(tails_.size() * cutFields_.size());
    }
    // Tails serve 11-digit mobile lines only; the number is cut out, but the
    // kind column is worked out from one such number.
    static const QString kMobileLine = QStringLiteral("13800000000");
    std::vector<qsizetype> cuts;
    const qsizetype at = tailBytes_.size();
    appendRow(tailBytes_, {}, kMobileLine, cells, &cuts);
    for (std::size_t i = 0; i < cuts.size(); ++i)
        tailCuts_[key * cutFields_.size() + i] = static_cast<std::uint32_t>(cuts[i] - at);
    tails_[key] = RowTail{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(tailBytes_.size() - at)};
}

// Ids nearly always count up by one: the last id's digits, kept at the end
// of a buffer, are carried up in place; any other id (or one after a number
// that is not positive, whose text has a sign) is written afresh.
std::string_view RowFormat::idDigits(qint64 id) const
{
    constexpr std::size_t end = sizeof idText_;
    if (lastId_ > 0 && id == lastId_ + 1) {
        std::size_t d = end;
        while (d > idFrom_ && idText_[d - 1] == '9')
            idText_[--d] = '0';
        if (d == idFrom_)
            idText_[--idFrom_] = '1';
        else
            ++idText_[d - 1];
    } else {
        char digits[24];
        const auto length = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, id).ptr - digits);
        idFrom_ = end - length;
        std::memcpy(idText_ + idFrom_, digits, length);
    }
    lastId_ = id;
    return {idText_ + idFrom_, end - idFrom_};
}

void RowFormat::appendDigits(QByteArray& out, qint64 id, std::string_view digits, std::uint32_t key) const
{
    const RowTail tail = tails_[key];
    const std::uint32_t* cuts = tailCuts_.data() + key * cutFields_.size();
    const std::string_view idText = idDigits(id);
    const qsizetype at = out.size();
    out.resize(at + tail.size + static_cast<qsizetype>(idCuts_ * idText.size() + numberCuts_ * digits.size()));
    char* to = out.data() + at;
    const char* from = tailBytes_.constData() + tail.at;
    std::uint32_t done = 0;
    for (std::size_t i = 0; i < cutFields_.size(); ++i) {
        to = copyPiece(to, from + done, cuts[i] - done);
        done = cuts[i];
        const std::string_view piece = cutFields_[i] == Field::Id ? idText : digits;
        to = copyPiece(to, piece.data(), piece.size());
    }
    copyPiece(to, from + done, tail.size - done);
}

// With cuts, the ids and numbers are left out and where each goes is noted:
// a number of digits needs no quoting or escaping in any format.
void RowFormat::appendRow(QByteArray& out, QByteArrayView idText, const QString& number, const RowCells& cells,
                          std::vector<qsizetype>* cuts) const
{
    const auto dynamic = [&](Field f, const auto& write) {
        if (cuts && (f == Field::Id || f == Field::Number)) {
            const bool quoted = format_ == OutputFormat::Jsonl && f == Field::Number;
            if (quoted)
                out.append('"');
            cuts->push_back(out.size());
            if (quoted)
                out.append('"');
            return;
        }
        if (f == Field::Id)
            out.append(idText);
        else
            write(cell(f, number, cells));
    };
    switch (format_) {
    case OutputFormat::Csv:
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (i > 0)
                out.append(',');
            dynamic(fields_[i], [&](const QString& c) { appendCsvCell(out, c); });
        }
        out.append("\r\n");
        return;
    case OutputFormat::Tsv:
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (i > 0)
                out.append('\t');
            dynamic(fields_[i], [&](const QString& c) { appendTsvCell(out, c, encoding_); });
        }
        out.append('\n');
        return;
    case OutputFormat::Jsonl:
        out.append('{');
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (i > 0)
                out.append(',');
            out.append('"');
            out.append(kFieldNames[static_cast<std::size_t>(fields_[i])]);
            out.append("\":");
            dynamic(fields_[i], [&](const QString& c) { appendJsonString(out, c); });
        }
        out.append("}\n");
        return;
    }
}

} // namespace teloria::cli
