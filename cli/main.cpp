// teloria-batch: the window's batch lookup for scripts and cron.
#include "batch_command.h"

#include <QCoreApplication>
#include <curl/curl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Before any worker thread starts a transfer.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    teloria::cli::CommandStreams streams;
    streams.errIsTerminal = isatty(STDERR_FILENO) == 1;
    const int status = teloria::cli::runBatchCommand(QCoreApplication::arguments(), streams);
    curl_global_cleanup();
    return status;
}
