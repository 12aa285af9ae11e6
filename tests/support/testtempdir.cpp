// Every test binary works in a temporary folder of its own: from before
// main() until the process ends, TMPDIR points into a fresh folder, which is
// removed at exit. Files the program writes under fixed names (its private
// temporary folder, card files of the bubble view) so never outlive a run
// nor meet those of a test binary running beside it. Child processes a test
// starts inherit the folder.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

class OwnTempDir {
public:
    OwnTempDir()
    {
        const char* outer = std::getenv("TMPDIR");
        if (outer && *outer == '/')
            m_outer = outer;
        std::string pattern = (m_outer.empty() ? std::string("/tmp") : m_outer) + "/qtest-" +
                              program_invocation_short_name + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return;  // the tests then run in the shared folder
        m_path = pattern;
        ::setenv("TMPDIR", m_path.c_str(), 1);
    }

    ~OwnTempDir()
    {
        if (m_path.empty())
            return;
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);  // removes links, never what they point to
        if (m_outer.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", m_outer.c_str(), 1);
    }

    OwnTempDir(const OwnTempDir&) = delete;
    OwnTempDir& operator=(const OwnTempDir&) = delete;

private:
    std::string m_outer;
    std::string m_path;
};

const OwnTempDir ownTempDir;

}  // namespace
