#include "cli/data_rows.h"

#include "export/replacing_file.h"

#include <ostream>

namespace teloria::cli {

bool writeRows(const std::string& path, const data::PrefixRows& rows, std::ostream& err)
{
    std::vector<std::string> lost;
    const auto bytes = data::prefixRowBytes(path, rows, &lost);
    if (!bytes) {
        err << "teloria-data: " << path << ": " << bytes.error().reason << '\n';
        return false;
    }
    for (const std::string& line : lost)
        err << "teloria-data: warning: " << path << ": " << line << '\n';
    const auto written = replaceFile(QString::fromStdString(path),
                                     QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())));
    if (!written) {
        err << "teloria-data: " << path << ": " << written.error().reason << '\n';
        return false;
    }
    return true;
}

} // namespace teloria::cli
