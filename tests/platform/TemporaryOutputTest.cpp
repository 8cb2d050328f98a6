#include "platform/TemporaryOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using corva::PathKind;
using corva::TemporaryOutput;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

bool writeAll(const TemporaryOutput &out, const std::string &text)
{
    return ::write(out.Descriptor(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::set<std::string> names(const fs::path &folder)
{
    std::set<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder))
        found.insert(entry.path().filename().string());
    return found;
}

// Both ways of making the file: unnamed (where the system has it) and named, which is what
// other systems and file systems get.
class TemporaryOutputTest : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/corva-tempout-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        if (GetParam())
            ::setenv("CORVA_NAMED_TEMPORARY", "1", 1);
        else
            ::unsetenv("CORVA_NAMED_TEMPORARY");
    }
    void TearDown() override
    {
        ::unsetenv("CORVA_NAMED_TEMPORARY");
        fs::remove_all(m_dir);
    }
    fs::path m_dir;
};

TEST_P(TemporaryOutputTest, ReplacesTheTargetOnlyOnCommit)
{
    const fs::path target = m_dir / "out.rm";
    writeFile(target, "earlier");
    {
        TemporaryOutput out(target);
        ASSERT_TRUE(out.IsOpen()) << out.Error();
        ASSERT_TRUE(writeAll(out, "new whole file"));
        EXPECT_EQ(readAll(target), "earlier");
        EXPECT_EQ(!out.TemporaryPath().empty(), GetParam());
        ASSERT_TRUE(out.Commit()) << out.Error();
    }
    EXPECT_EQ(readAll(target), "new whole file");
    EXPECT_EQ(names(m_dir), std::set<std::string>{"out.rm"});
}

TEST_P(TemporaryOutputTest, DiscardLeavesTheTargetAndNothingElse)
{
    const fs::path target = m_dir / "out.rm";
    writeFile(target, "earlier");
    {
        TemporaryOutput out(target);
        ASSERT_TRUE(out.IsOpen());
        ASSERT_TRUE(writeAll(out, "half"));
    } // destroyed without Commit
    EXPECT_EQ(readAll(target), "earlier");
    EXPECT_EQ(names(m_dir), std::set<std::string>{"out.rm"});
}

// The names a fixed temporary name would have hit: a user's file, a link to another file, and
// the source itself. None is written, followed or removed.
TEST_P(TemporaryOutputTest, NeverTouchesFilesItDidNotMake)
{
    const fs::path target = m_dir / "film.rm";
    writeFile(m_dir / "film.rm.part", "a user's file");
    writeFile(m_dir / "victim.txt", "must stay");
    fs::create_symlink(m_dir / "victim.txt", m_dir / "film.rm.tmp");
    for (const bool commit : {false, true}) {
        TemporaryOutput out(target);
        ASSERT_TRUE(out.IsOpen());
        ASSERT_TRUE(writeAll(out, "data"));
        if (commit) {
            ASSERT_TRUE(out.Commit());
        }
    }
    EXPECT_EQ(readAll(m_dir / "film.rm.part"), "a user's file");
    EXPECT_EQ(readAll(m_dir / "victim.txt"), "must stay");
    EXPECT_TRUE(fs::is_symlink(m_dir / "film.rm.tmp"));
    EXPECT_EQ(readAll(target), "data");
    EXPECT_EQ(names(m_dir), (std::set<std::string>{"film.rm", "film.rm.part", "film.rm.tmp", "victim.txt"}));
}

// Two jobs to one output: each writes its own file, and the output is one of them whole.
TEST_P(TemporaryOutputTest, TwoWritersToOneTargetDoNotMix)
{
    const fs::path target = m_dir / "out.rm";
    TemporaryOutput first(target);
    TemporaryOutput second(target);
    ASSERT_TRUE(first.IsOpen() && second.IsOpen());
    const std::string a(100000, 'a');
    const std::string b(50000, 'b');
    ASSERT_TRUE(writeAll(first, a));
    ASSERT_TRUE(writeAll(second, b));
    ASSERT_TRUE(first.Commit());
    EXPECT_EQ(readAll(target), a);
    ASSERT_TRUE(second.Commit());
    EXPECT_EQ(readAll(target), b);
    EXPECT_EQ(names(m_dir), std::set<std::string>{"out.rm"});
}

TEST_P(TemporaryOutputTest, MissingFolderIsAnErrorNotAFile)
{
    TemporaryOutput out(m_dir / "gone" / "out.rm");
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.Error(), ENOENT);
    EXPECT_FALSE(out.Commit());
    EXPECT_TRUE(names(m_dir).empty());
}

// What a signal handler calls removes the named file; an unnamed one never had a name.
TEST_P(TemporaryOutputTest, SignalCleanupLeavesNothing)
{
    const fs::path target = m_dir / "out.rm";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGTERM, [](int) {
            TemporaryOutput::RemoveOpenFromSignal();
            ::_exit(3);
        });
        TemporaryOutput out(target);
        if (!out.IsOpen() || !writeAll(out, "partial"))
            ::_exit(1);
        ::raise(SIGTERM);
        ::_exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_TRUE(names(m_dir).empty());
}

bool makeSocket(const fs::path &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path.string();
    if (name.size() >= sizeof address.sun_path)
        return false;
    std::copy(name.begin(), name.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}

// A pipe, a socket or a link to a pipe at the target is refused before anything is made, with
// the reason naming the path and what is there; nothing is left beside it.
TEST_P(TemporaryOutputTest, RefusesATargetThatIsNotARegularFile)
{
    ASSERT_EQ(::mkfifo((m_dir / "pipe.rm").c_str(), 0600), 0);
    ASSERT_TRUE(makeSocket(m_dir / "sock.rm"));
    fs::create_symlink(m_dir / "pipe.rm", m_dir / "link.rm");
    const struct
    {
        const char *name;
        PathKind::Kind kind;
        const char *words;
    } rows[] = {{"pipe.rm", PathKind::Kind::Pipe, "pipe.rm”是管道（FIFO），不是普通文件"},
                {"sock.rm", PathKind::Kind::Socket, "sock.rm”是套接字，不是普通文件"},
                {"link.rm", PathKind::Kind::Pipe, "link.rm”是管道（FIFO），不是普通文件"}};
    for (const auto &row : rows) {
        TemporaryOutput out(m_dir / row.name);
        EXPECT_FALSE(out.IsOpen()) << row.name;
        EXPECT_EQ(out.RefusedKind(), row.kind) << row.name;
        EXPECT_NE(out.Reason().find(row.words), std::string::npos) << out.Reason();
        EXPECT_FALSE(out.Commit()) << row.name;
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(m_dir / "pipe.rm")));
    EXPECT_TRUE(fs::is_socket(fs::symlink_status(m_dir / "sock.rm")));
    EXPECT_TRUE(fs::is_symlink(m_dir / "link.rm"));
    EXPECT_EQ(names(m_dir), (std::set<std::string>{"link.rm", "pipe.rm", "sock.rm"}));
    EXPECT_EQ(PathKind::Of("/dev/null"), PathKind::Kind::Device);
}

// A target that turns into a pipe while the file is written (from nothing, or from a regular
// file) is not replaced at the commit either.
TEST_P(TemporaryOutputTest, RefusesATargetThatBecameAPipeMeanwhile)
{
    for (const bool existed : {false, true}) {
        const fs::path target = m_dir / (existed ? "was-a-file.rm" : "was-nothing.rm");
        if (existed)
            writeFile(target, "earlier");
        TemporaryOutput out(target);
        ASSERT_TRUE(out.IsOpen()) << out.Error();
        ASSERT_TRUE(writeAll(out, "new whole file"));
        if (existed)
            fs::remove(target);
        ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
        EXPECT_FALSE(out.Commit());
        EXPECT_EQ(out.RefusedKind(), PathKind::Kind::Pipe);
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(target)));
    }
    EXPECT_EQ(names(m_dir), (std::set<std::string>{"was-a-file.rm", "was-nothing.rm"}));
}

INSTANTIATE_TEST_SUITE_P(Ways, TemporaryOutputTest, ::testing::Values(false, true),
                         [](const auto &row) { return std::string(row.param ? "Named" : "Unnamed"); });

// Only an unnamed file survives nothing of a KILL, which no handler sees.
TEST(TemporaryOutputKill, UnnamedLeavesNothingBehind)
{
    char pattern[] = "/tmp/corva-tempout-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    ::unsetenv("CORVA_NAMED_TEMPORARY");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TemporaryOutput out(dir / "out.rm");
        if (out.IsOpen() && writeAll(out, std::string(1 << 20, 'x')))
            ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(names(dir).empty());
    fs::remove_all(dir);
}

} // namespace
