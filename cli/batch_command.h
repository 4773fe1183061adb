#pragma once
// teloria-batch as a function: parses the command line, reads the numbers,
// runs the lookup over them with the window's run core and writes the
// window's result file. Returns the exit status.

#include <QStringList>
#include <cstdio>

namespace teloria::cli {

enum ExitStatus : int {
    kAllAnswered = 0,
    kCouldNotRun = 1,    // no request got any answer, or the output could not be written
    kBadUsage = 2,       // bad command line or unreadable input; nothing written
    kSomeFailed = 3,     // some requests got no answer; their rows are written with empty cells
};

struct CommandStreams {
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool errIsTerminal = false; // draw the progress bar on err
};

int runBatchCommand(const QStringList& arguments, const CommandStreams& streams);

} // namespace teloria::cli
