#pragma once

#include "temporary_folder.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/sysmacros.h>

// A sysfs of the test's own in which the given terminal is the active console, named ttyS0.
class ConsoleDeclared
{
public:
    explicit ConsoleDeclared(const std::string &devicePath)
    {
        struct stat status = {};
        ::stat(devicePath.c_str(), &status);
        const std::filesystem::path sys = path();
        std::filesystem::create_directories(sys / "console");
        std::filesystem::create_directories(sys / "ttyS0");
        std::ofstream(sys / "console" / "active") << "ttyS0\n";
        std::ofstream(sys / "ttyS0" / "dev")
            << major(status.st_rdev) << ':' << minor(status.st_rdev) << '\n';
    }
    const std::filesystem::path &path() const { return m_dir.path(); }

private:
    TemporaryFolder m_dir;
};
