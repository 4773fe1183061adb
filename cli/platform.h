#pragma once
// The few operating-system calls teloria-batch makes on its input; a port to
// another system needs only this file's counterpart.

#include <QString>
#include <cstdint>

namespace teloria::cli::platform {

// A file descriptor for reading path, or -1 and the reason.
int openForReading(const QString& path, QString* error);
void closeInput(int fd);
// Reads what is there, up to size bytes, waiting only when nothing is: the
// byte count, 0 at end of input, -1 on error (reason in *error).
std::int64_t readSome(int fd, char* buffer, std::int64_t size, QString* error);
// True when a read would not block (data or end of input waiting).
bool inputWaiting(int fd);
// The size of a regular file behind fd; -1 for a pipe, terminal or device.
std::int64_t regularFileSize(int fd);
bool isTerminal(int fd);
// Asks the allocator to keep freed memory for reuse rather than hand it back
// to the system at once: the batch frees and takes again the same blocks for
// every 64 KiB of input, and each block handed back costs page faults.
void keepFreedMemory();

} // namespace teloria::cli::platform
