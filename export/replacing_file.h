#pragma once
// A file written in place of another. A regular file (or a new one) is
// written to a temporary file beside the target and renamed over it only by
// commit(), so a failed or abandoned write leaves the old file as it was. A
// device or a pipe (/dev/null, /dev/full) has nothing to be renamed over: it
// is written in place.

#include "platform/result.h"

#include <QByteArrayView>
#include <QString>
#include <memory>

class QFileDevice;
class QSaveFile;

namespace teloria {

class ReplacingFile {
public:
    explicit ReplacingFile(const QString& path); // opens at once: check isOpen()
    ~ReplacingFile();                            // not committed: the temporary file goes
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool isOpen() const;
    // Why the last step failed, in the system's words.
    QString errorString() const;
    // All of bytes, going on after a short write: the next write then reports
    // why the first one stopped (no space, file too large ...).
    bool write(QByteArrayView bytes);
    bool commit();

private:
    std::unique_ptr<QFileDevice> file_;
    QSaveFile* saveFile_ = nullptr; // the same object as file_, when the target is replaced by renaming
};

// The whole of bytes in place of path, through a ReplacingFile: on failure an
// Io error with the system's words, and the old file as it was.
Result<void> replaceFile(const QString& path, QByteArrayView bytes);

} // namespace teloria
