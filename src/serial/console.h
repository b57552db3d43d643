#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace ostrim {

// Device numbers of the terminals the kernel uses as its console now (console=ttyS0 on many
// servers, boards and virtual machines), from <sysClassTty>/console/active and each entry's dev
// file. A console that cannot be read is left out: the list guards, it does not decide what exists.
std::vector<dev_t> ActiveConsoles(const std::filesystem::path &sysClassTty = "/sys/class/tty");

// Whether the node at the path is one of these consoles. Judged by the device the path leads to,
// so a link, a renamed node or a node bound over another path is seen for what it is.
bool IsConsole(const std::string &devicePath, const std::vector<dev_t> &consoles);

} // namespace ostrim
