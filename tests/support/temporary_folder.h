#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// A folder of the test's own under the system's temporary folder, with the folders given made in
// it, removed with what it holds.
class TemporaryFolder
{
public:
    explicit TemporaryFolder(const std::vector<std::string> &folders = {})
    {
        std::string name = (std::filesystem::temp_directory_path() / "ostrim-test-XXXXXX").string();
        if (!::mkdtemp(name.data()))
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + name);
        m_path = name;
        for (const std::string &folder : folders)
            std::filesystem::create_directories(m_path / folder);
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};
