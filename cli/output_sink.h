#pragma once
// Where teloria-batch's rows go: standard output as they come, or -o FILE
// through a temporary file beside it, created before the first request (so a
// target that cannot be written fails at once) and renamed over the target
// only at the end. A device or pipe named by -o is written in place.

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <memory>

namespace teloria {
class ReplacingFile;
}

namespace teloria::cli {

class OutputSink {
public:
    // The standard-output sink.
    explicit OutputSink(std::FILE* out);
    // A file sink; check error() before use.
    explicit OutputSink(const QString& path);
    ~OutputSink(); // a file not committed is dropped; the target stays as it was

    // Non-empty when the sink could not be opened or a write failed.
    QString error() const { return error_; }

    bool write(const QByteArray& bytes);
    bool flush();
    // Standard output: flushes. A file: renames the temporary file over the target.
    bool commit();

private:
    bool fail(const QString& reason);

    std::FILE* stream_ = nullptr;
    QString path_;
    std::unique_ptr<ReplacingFile> file_;
    QString error_;
};

} // namespace teloria::cli
