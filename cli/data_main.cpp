// teloria-data: tools for the location data files.
#include "cli/data_command.h"

#include <curl/curl.h>

#include <iostream>

int main(int argc, char** argv)
{
    // update and learn fetch with libcurl, learn from worker threads.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = teloria::cli::runDataCommand(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
    curl_global_cleanup();
    return status;
}
