#include "ui/modxp.h"

int main(int argc, char* argv[])
{
    return modXP::Main(argc, argv);
}
