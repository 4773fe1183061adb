#include "cli/output_sink.h"

#include "export/replacing_file.h"

#include <QFileInfo>

namespace teloria::cli {

OutputSink::OutputSink(std::FILE* out) : stream_(out) {}

OutputSink::OutputSink(const QString& path) : path_(path)
{
    const QFileInfo target(path);
    if (target.isDir()) {
        fail(QStringLiteral("it is a directory"));
        return;
    }
    if (!QFileInfo(target.absolutePath()).isDir()) {
        fail(QStringLiteral("no directory %1").arg(target.absolutePath()));
        return;
    }
    if (target.isSymLink() && !target.exists()) {
        fail(QStringLiteral("it is a symbolic link to %1, which does not exist").arg(target.symLinkTarget()));
        return;
    }
    if (target.exists() && !target.isWritable()) {
        fail(QStringLiteral("it is not writable"));
        return;
    }
    file_ = std::make_unique<ReplacingFile>(path);
    if (!file_->isOpen())
        fail(file_->errorString());
}

OutputSink::~OutputSink() = default; // a file not committed is dropped

bool OutputSink::fail(const QString& reason)
{
    if (error_.isEmpty())
        error_ = reason;
    return false;
}

bool OutputSink::write(const QByteArray& bytes)
{
    if (!error_.isEmpty())
        return false;
    if (stream_) {
        if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream_) !=
            static_cast<std::size_t>(bytes.size()))
            return fail(QStringLiteral("write error"));
        return true;
    }
    if (!file_->write(bytes))
        return fail(file_->errorString());
    return true;
}

bool OutputSink::flush()
{
    if (!error_.isEmpty())
        return false;
    if (stream_ && std::fflush(stream_) != 0)
        return fail(QStringLiteral("write error"));
    return true;
}

bool OutputSink::commit()
{
    if (!flush())
        return false;
    if (stream_)
        return true;
    if (!file_->commit())
        return fail(file_->errorString());
    return true;
}

} // namespace teloria::cli
