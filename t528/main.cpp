#include "frm_t528.h"

int main(int argc, char **argv)
{
    return hv52::runTool(argc, argv, [] { return new frm_T528; });
}
