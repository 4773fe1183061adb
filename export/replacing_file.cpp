#include "export/replacing_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace teloria {

ReplacingFile::ReplacingFile(const QString& path)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        file_ = std::make_unique<QFile>(path);
    } else {
        auto owned = std::make_unique<QSaveFile>(path);
        saveFile_ = owned.get();
        file_ = std::move(owned);
    }
    file_->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

ReplacingFile::~ReplacingFile()
{
    if (saveFile_ && saveFile_->isOpen())
        saveFile_->cancelWriting();
}

bool ReplacingFile::isOpen() const
{
    return file_->isOpen();
}

QString ReplacingFile::errorString() const
{
    return file_->errorString();
}

bool ReplacingFile::write(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qint64 written = file_->write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

bool ReplacingFile::commit()
{
    if (saveFile_)
        return saveFile_->commit();
    file_->close();
    return file_->error() == QFileDevice::NoError;
}

Result<void> replaceFile(const QString& path, QByteArrayView bytes)
{
    ReplacingFile file(path);
    if (!file.isOpen() || !file.write(bytes) || !file.commit())
        return Error{ErrorKind::Io, file.errorString().toStdString()};
    return {};
}

} // namespace teloria
