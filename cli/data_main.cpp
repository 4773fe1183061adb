// teloria-data: tools for the location data files.
#include "cli/data_command.h"

#include <iostream>

int main(int argc, char** argv)
{
    return teloria::cli::runDataCommand(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
