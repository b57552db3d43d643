#include "cli/win32_command_system.h"

int main(int argc, char *argv[])
{
    return ostrim::RunConsoleProgram(argc, argv);
}
