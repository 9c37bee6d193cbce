#include "cli/front_end.h"

int main(int argc, char** argv)
{
    return FrontEnd::RunFrontEnd(argc, argv);
}
