#pragma once
// A scratch folder removed with the object, as a std::filesystem path.

#include <QTemporaryDir>

#include <filesystem>

namespace teloria::testing {

struct TempFolder {
    QTemporaryDir dir;
    const std::filesystem::path path{dir.path().toStdString()};
};

} // namespace teloria::testing
