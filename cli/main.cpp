// teloria-batch: the window's batch lookup for scripts, cron and pipelines.
#include "cli/batch_command.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <curl/curl.h>
#include <cstdio>

int main(int argc, char** argv)
{
    teloria::platform::keepFreedMemory();
    // Before the first transfer.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    teloria::cli::CommandStreams streams;
    streams.errIsTerminal = teloria::platform::isTerminal(fileno(stderr));
    const int status = teloria::cli::runBatchCommand(QCoreApplication::arguments(), streams);
    curl_global_cleanup();
    return status;
}
