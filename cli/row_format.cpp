#include "cli/row_format.h"

#include <QStringList>

#include <array>
#include <charconv>

namespace teloria::cli {

namespace {

constexpr std::array<const char*, 9> kFieldNames = {"id",   "number", "location", "card",  "province",
                                                     "city", "area_code", "zip",   "source"};

// A tsv cell: tab, line breaks and the backslash written as \t \n \r \\.
void appendTsvCell(QByteArray& out, const QString& cell)
{
    const QByteArray utf8 = cell.toUtf8();
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

RowFormat::RowFormat(OutputFormat format, std::vector<Field> fields, FileEncoding csvEncoding, bool header)
    : format_(format), fields_(std::move(fields)), encoding_(csvEncoding), header_(header)
{
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
    const QByteArrayView idText(idBuffer, idEnd - idBuffer);
    switch (format_) {
    case OutputFormat::Csv:
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (i > 0)
                out.append(',');
            if (fields_[i] == Field::Id)
                out.append(idText);
            else
                appendCsvCell(out, cell(fields_[i], number, cells));
        }
        out.append("\r\n");
        return;
    case OutputFormat::Tsv:
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (i > 0)
                out.append('\t');
            if (fields_[i] == Field::Id)
                out.append(idText);
            else
                appendTsvCell(out, cell(fields_[i], number, cells));
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
            if (fields_[i] == Field::Id)
                out.append(idText);
            else
                appendJsonString(out, cell(fields_[i], number, cells));
        }
        out.append("}\n");
        return;
    }
}

} // namespace teloria::cli
