#include "cli/data_rows.h"

#include "export/replacing_file.h"

#include <ostream>

namespace teloria::cli {

std::unique_ptr<ReplacingFile> openOutput(const std::string& path, std::ostream& err)
{
    auto file = std::make_unique<ReplacingFile>(QString::fromStdString(path));
    if (file->isOpen())
        return file;
    err << "teloria-data: cannot write " << path << ": " << file->errorString().toStdString() << '\n';
    return nullptr;
}

bool writeRows(ReplacingFile& file, const std::string& path, const data::PrefixRows& rows, std::ostream& err)
{
    std::vector<std::string> lost;
    const auto bytes = data::prefixRowBytes(path, rows, &lost);
    if (!bytes) {
        err << "teloria-data: " << path << ": " << bytes.error().reason << '\n';
        return false;
    }
    for (const std::string& line : lost)
        err << "teloria-data: warning: " << path << ": " << line << '\n';
    if (!file.isOpen() || !file.write(QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())))
        || !file.commit()) {
        err << "teloria-data: " << path << ": " << file.errorString().toStdString() << '\n';
        return false;
    }
    return true;
}

} // namespace teloria::cli
