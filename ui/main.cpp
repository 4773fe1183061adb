#include "ui/modxp.h"

#include <curl/curl.h>

int main(int argc, char* argv[])
{
    // Before the first page fetch; libcurl stays ready until the process ends.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = modXP::Main(argc, argv);
    curl_global_cleanup();
    return status;
}
