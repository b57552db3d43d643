#include "cli/win32_command_system.h"

int main()
{
    return ostrim::RunConsoleProgram();
}
