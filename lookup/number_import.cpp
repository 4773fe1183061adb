#include "lookup/number_import.h"

#include "text/text_codec.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <minizip/unzip.h>

#include <cmath>

namespace teloria {

namespace {

// Untrusted files must not take the program's memory: a file larger than
// this is refused, and a table keeps no more columns than this.
constexpr qint64 kMaxFileBytes = 256LL << 20;
constexpr int kMaxColumns = 256;

QString cellLine(QStringView cell)
{
    // One number per line: a break inside a cell would make two.
    QString line = cell.trimmed().toString();
    line.replace(u'\r', u' ');
    line.replace(u'\n', u' ');
    return line;
}

bool hasExtension(const QString& path, const char* ext)
{
    return QFileInfo(path).suffix().compare(QLatin1String(ext), Qt::CaseInsensitive) == 0;
}

// ---- xlsx: a zip of XML parts ----

// The workbook's zip, read with the system's minizip (the same library
// libxlsxwriter writes with, so the two never meet in one process as two
// different copies of it).
class ZipParts {
public:
    explicit ZipParts(const QString& path) : zip_(unzOpen64(QFile::encodeName(path).constData())) {}
    ~ZipParts()
    {
        if (zip_)
            unzClose(zip_);
    }
    ZipParts(const ZipParts&) = delete;
    ZipParts& operator=(const ZipParts&) = delete;

    bool isOpen() const { return zip_ != nullptr; }

    // The whole part, its name compared without case; false when it is
    // missing, larger than the limit, or damaged.
    bool read(const QString& name, QByteArray* bytes)
    {
        bytes->clear();
        if (!zip_ || unzLocateFile(zip_, name.toUtf8().constData(), 2 /* without case */) != UNZ_OK)
            return false;
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
            info.uncompressed_size > quint64(kMaxFileBytes) || unzOpenCurrentFile(zip_) != UNZ_OK)
            return false;
        bytes->reserve(static_cast<qsizetype>(info.uncompressed_size));
        char block[64 * 1024];
        int n = 0;
        // The size in the directory may lie: the limit holds for what comes out.
        while ((n = unzReadCurrentFile(zip_, block, sizeof block)) > 0 && bytes->size() + n <= kMaxFileBytes)
            bytes->append(block, n);
        const bool whole = n == 0;
        return unzCloseCurrentFile(zip_) == UNZ_OK && whole;
    }

private:
    unzFile zip_;
};

// The text of an <si> or <is> element: every <t> inside, phonetic runs left out.
QString inlineText(QXmlStreamReader& xml)
{
    const QString end = xml.name().toString();
    QString text;
    int phonetic = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == u"rPh")
                ++phonetic;
            else if (xml.name() == u"t" && phonetic == 0)
                text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.isEndElement()) {
            if (xml.name() == u"rPh")
                --phonetic;
            else if (xml.name() == end)
                break;
        }
    }
    return text;
}

QStringList sharedStrings(ZipParts& zip)
{
    QStringList strings;
    QByteArray part;
    if (!zip.read(QStringLiteral("xl/sharedStrings.xml"), &part))
        return strings;
    QXmlStreamReader xml(part);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"si")
            strings.append(inlineText(xml));
    }
    return strings;
}

// The path of the first sheet: the workbook's first <sheet>, through the workbook's relations.
QString firstSheetPath(ZipParts& zip)
{
    const QString fallback = QStringLiteral("xl/worksheets/sheet1.xml");
    QString relation;
    QByteArray part;
    if (!zip.read(QStringLiteral("xl/workbook.xml"), &part))
        return fallback;
    {
        QXmlStreamReader xml(part);
        while (!xml.atEnd() && relation.isEmpty()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"sheet") {
                for (const QXmlStreamAttribute& a : xml.attributes())
                    if (a.name() == u"id")
                        relation = a.value().toString();
            }
        }
    }
    if (relation.isEmpty() || !zip.read(QStringLiteral("xl/_rels/workbook.xml.rels"), &part))
        return fallback;
    QXmlStreamReader xml(part);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"Relationship" &&
            xml.attributes().value(QStringLiteral("Id")) == relation) {
            const QString target = xml.attributes().value(QStringLiteral("Target")).toString();
            if (target.startsWith(u'/'))
                return target.mid(1);
            return QStringLiteral("xl/") + target;
        }
    }
    return fallback;
}

// "C12" -> 2 (column C); -1 when the reference names no column.
int columnOf(QStringView ref)
{
    int column = 0;
    int letters = 0;
    for (const QChar c : ref) {
        const char16_t u = c.unicode();
        if (u >= u'A' && u <= u'Z')
            column = column * 26 + (u - u'A' + 1);
        else if (u >= u'a' && u <= u'z')
            column = column * 26 + (u - u'a' + 1);
        else
            break;
        if (++letters > 3)
            return -1;
    }
    return letters == 0 ? -1 : column - 1;
}

// A number cell as a person would write it: 13800138000, not 1.3800138E10.
QString numberText(const QString& value)
{
    if (!value.contains(u'E') && !value.contains(u'e') && !value.endsWith(QLatin1String(".0")))
        return value;
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (ok && std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e17)
        return QString::number(static_cast<qint64>(d));
    return value;
}

} // namespace

QString decodeNumberText(QByteArrayView bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return decodeBytes(bytes.sliced(2), "UTF-16LE");
    if (bytes.startsWith("\xFE\xFF"))
        return decodeBytes(bytes.sliced(2), "UTF-16BE");
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeBytes(bytes, "GB18030");
}

ImportedNumbers numberLines(QStringView text)
{
    ImportedNumbers out;
    out.text.reserve(text.size());
    qsizetype start = 0;
    const qsizetype n = text.size();
    const auto take = [&](qsizetype end) {
        const QStringView line = text.sliced(start, end - start);
        if (line.trimmed().isEmpty())
            return;
        if (out.count > 0)
            out.text.append(u'\n');
        out.text.append(line);
        ++out.count;
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'\n' && c != u'\r')
            continue;
        take(i);
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        take(n);
    out.text.squeeze();
    return out;
}

TableRows parseCsv(QStringView text)
{
    TableRows rows;
    QStringList row;
    QString cell;
    bool quoted = false;
    bool rowHasText = false;
    const qsizetype n = text.size();
    const auto endCell = [&] {
        if (row.size() < kMaxColumns)
            row.append(cell);
        cell.clear();
    };
    const auto endRow = [&] {
        endCell();
        if (rowHasText)
            rows.push_back(row);
        row.clear();
        rowHasText = false;
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < n && text[i + 1] == u'"') {
                    cell.append(u'"');
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cell.append(c);
            }
            continue;
        }
        if (c == u'"' && cell.isEmpty()) {
            quoted = true;
            rowHasText = true;
        } else if (c == u',') {
            endCell();
        } else if (c == u'\n' || c == u'\r') {
            endRow();
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
        } else {
            cell.append(c);
            rowHasText = true;
        }
    }
    if (rowHasText || !cell.isEmpty())
        endRow();
    return rows;
}

TableRows readXlsx(const QString& path, QString* error)
{
    TableRows rows;
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return TableRows{};
    };
    ZipParts zip(path);
    if (!zip.isOpen())
        return fail(QStringLiteral("不是可读的 xlsx 文件"));
    const QStringList strings = sharedStrings(zip);
    QByteArray sheet;
    if (!zip.read(firstSheetPath(zip), &sheet))
        return fail(QStringLiteral("xlsx 文件里没有可读的工作表"));

    QXmlStreamReader xml(sheet);
    QStringList row;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"row") {
            row.clear();
        } else if (xml.isEndElement() && xml.name() == u"row") {
            rows.push_back(row);
        } else if (xml.isStartElement() && xml.name() == u"c") {
            const QXmlStreamAttributes attributes = xml.attributes();
            int column = columnOf(attributes.value(QStringLiteral("r")));
            if (column < 0)
                column = static_cast<int>(row.size());
            const QStringView type = attributes.value(QStringLiteral("t"));
            QString value;
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isEndElement() && xml.name() == u"c")
                    break;
                if (!xml.isStartElement())
                    continue;
                if (xml.name() == u"v") {
                    value = xml.readElementText();
                    if (type == u"s") {
                        bool ok = false;
                        const int at = value.toInt(&ok);
                        value = ok ? strings.value(at) : QString();
                    } else if (type.isEmpty() || type == u"n") {
                        value = numberText(value);
                    }
                } else if (xml.name() == u"is") {
                    value = inlineText(xml);
                }
            }
            if (column < kMaxColumns) {
                while (row.size() <= column)
                    row.append(QString());
                row[column] = value;
            }
        }
    }
    if (xml.hasError())
        return fail(QStringLiteral("xlsx 文件的工作表有误：") + xml.errorString());
    return rows;
}

ImportedNumbers numberColumn(const TableRows& rows, const CellCheck& isNumber)
{
    ImportedNumbers out;
    qsizetype columns = 0;
    for (const QStringList& row : rows)
        columns = std::max(columns, row.size());
    for (qsizetype column = 0; column < columns; ++column) {
        const auto cleans = [&](const QStringList& row) {
            const QString cell = row.value(column).trimmed();
            return !cell.isEmpty() && isNumber(cell);
        };
        const bool header = !rows.empty() && !cleans(rows.front());
        const qsizetype first = header ? 1 : 0;
        const qsizetype dataRows = static_cast<qsizetype>(rows.size()) - first;
        qsizetype numbers = 0;
        for (qsizetype r = first; r < static_cast<qsizetype>(rows.size()); ++r)
            numbers += cleans(rows[r]) ? 1 : 0;
        if (dataRows <= 0 || numbers * 2 <= dataRows)
            continue;
        for (qsizetype r = first; r < static_cast<qsizetype>(rows.size()); ++r) {
            const QString line = cellLine(rows[r].value(column));
            if (line.isEmpty())
                continue;
            if (out.count > 0)
                out.text.append(u'\n');
            out.text.append(line);
            ++out.count;
        }
        return out;
    }
    out.error = QStringLiteral("没有一列大多是手机号码");
    return out;
}

ImportedNumbers importNumbers(const QString& path, const CellCheck& isNumber)
{
    ImportedNumbers out;
    if (hasExtension(path, "xlsx")) {
        QString error;
        const TableRows rows = readXlsx(path, &error);
        if (!error.isEmpty()) {
            out.error = error;
            return out;
        }
        return numberColumn(rows, isNumber);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = file.errorString();
        return out;
    }
    if (file.size() > kMaxFileBytes) {
        out.error = QStringLiteral("文件太大");
        return out;
    }
    QByteArray bytes = file.readAll();
    const QString text = decodeNumberText(bytes);
    bytes = QByteArray();
    if (hasExtension(path, "csv"))
        return numberColumn(parseCsv(text), isNumber);
    return numberLines(text);
}

} // namespace teloria
