#pragma once
// The start-up module: the program's entry. Reads the command line, chooses
// the lookup service, shows Form1 and runs the event loop until it is closed.

namespace modXP {

int Main(int argc, char* argv[]);

} // namespace modXP
