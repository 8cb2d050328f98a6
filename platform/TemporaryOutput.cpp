#include "platform/TemporaryOutput.h"

#include "platform/SystemError.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <unistd.h>
#endif

namespace corva {

namespace {

// Holds off signals while a name comes into being and is recorded for the handler, so that a
// stop arriving in between cannot leave the file behind.
class SignalsHeld final
{
public:
    SignalsHeld()
    {
#ifndef _WIN32
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &m_old);
#endif
    }
    ~SignalsHeld()
    {
#ifndef _WIN32
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
#endif
    }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

private:
#ifndef _WIN32
    sigset_t m_old{};
#endif
};

// Named temporaries that a signal handler must still remove. Fixed storage: the handler may
// neither allocate nor lock.
constexpr int kSlots = 16;
constexpr std::size_t kPathBytes = 4096;
struct Slot
{
    std::atomic<bool> used{false};
    std::atomic<bool> ready{false};
    char path[kPathBytes];
};
std::array<Slot, kSlots> g_slots;

int claimSlot(const std::filesystem::path &path)
{
    const std::string text = path.string();
    if (text.size() >= kPathBytes)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (g_slots[i].used.compare_exchange_strong(expected, true)) {
            std::memcpy(g_slots[i].path, text.c_str(), text.size() + 1);
            return i;
        }
    }
    return -1;
}

// Only once the name is ours: a name that turned out taken is somebody else's file.
void markReady(int slot)
{
    if (slot >= 0)
        g_slots[slot].ready = true;
}

void releaseSlot(int &slot)
{
    if (slot < 0)
        return;
    g_slots[slot].ready = false;
    g_slots[slot].used = false;
    slot = -1;
}

std::string randomTag()
{
    static thread_local std::mt19937_64 random{std::random_device{}() ^ static_cast<unsigned long long>(
                                                   reinterpret_cast<std::uintptr_t>(&random))};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return text;
}

std::filesystem::path folderOf(const std::filesystem::path &target)
{
    const std::filesystem::path parent = target.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

// Tests (and file systems known to lack unnamed files) can ask for the named way.
bool namedOnly()
{
    const char *value = std::getenv("CORVA_NAMED_TEMPORARY");
    return value && *value && std::strcmp(value, "0") != 0;
}

bool sameFile(int fd, const std::filesystem::path &path)
{
#ifdef _WIN32
    (void)fd;
    (void)path;
    return true;
#else
    struct stat open {};
    struct stat named {};
    return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev
        && open.st_ino == named.st_ino;
#endif
}

} // namespace

TemporaryOutput::TemporaryOutput(std::filesystem::path target) : m_target(std::move(target))
{
    if (TargetRefused())
        return;
#if defined(O_TMPFILE)
    if (!namedOnly()) {
        m_fd = ::open(folderOf(m_target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return;
        // Not every file system has unnamed files; anything else is a real refusal.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            m_error = errno;
            return;
        }
    }
#endif
    CreateNamed();
}

TemporaryOutput::~TemporaryOutput()
{
    Discard();
}

bool TemporaryOutput::CreateNamed()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = m_target;
        candidate += "." + randomTag() + ".part";
        const SignalsHeld held;
        m_slot = claimSlot(candidate);
#ifdef _WIN32
        m_fd = ::_wopen(candidate.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
        // O_EXCL refuses any existing entry, a dangling link included.
        m_fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
        if (m_fd >= 0) {
            markReady(m_slot);
            m_named = std::move(candidate);
            return true;
        }
        m_error = errno;
        releaseSlot(m_slot);
        if (m_error != EEXIST)
            return false;
    }
    return false;
}

// Gives the unnamed file a unique name of its own beside the target.
bool TemporaryOutput::LinkNamed()
{
#if defined(O_TMPFILE)
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = m_target;
        candidate += "." + randomTag() + ".part";
        const SignalsHeld held;
        m_slot = claimSlot(candidate);
        int r = ::linkat(m_fd, "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH);
        if (r != 0 && errno != EEXIST)
            r = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
        if (r == 0) {
            markReady(m_slot);
            m_named = std::move(candidate);
            return true;
        }
        m_error = errno;
        releaseSlot(m_slot);
        if (m_error != EEXIST)
            return false;
    }
#endif
    return false;
}

// A pipe, a device, a socket or a folder at the target is never replaced by a file.
bool TemporaryOutput::TargetRefused()
{
    const PathKind::Kind kind = PathKind::Of(m_target);
    if (!PathKind::IsSpecial(kind) && kind != PathKind::Kind::Folder)
        return false;
    m_refused = kind;
    m_error = 0;
    return true;
}

std::string TemporaryOutput::Reason() const
{
    if (m_refused != PathKind::Kind::Missing)
        return PathKind::NotAFile(m_target, m_refused) + "，不能用输出文件替换它";
    return SystemError::Text(m_error);
}

bool TemporaryOutput::MoveIntoPlace()
{
#ifdef _WIN32
    if (!MoveFileExW(m_named.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        m_error = EACCES;
        return false;
    }
    return true;
#else
#if defined(RENAME_NOREPLACE)
    // Where nothing is at the target, nothing that turns up there in the meantime is replaced.
    if (PathKind::Of(m_target) == PathKind::Kind::Missing) {
        if (::renameat2(AT_FDCWD, m_named.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        const int failed = errno;
        if (failed == EEXIST && TargetRefused())
            return false;
        // Not every file system can refuse to replace; a dangling link is replaced as ever.
        if (failed != EEXIST && failed != EINVAL && failed != ENOSYS) {
            m_error = failed;
            return false;
        }
    }
#endif
    if (::rename(m_named.c_str(), m_target.c_str()) != 0) {
        m_error = errno;
        return false;
    }
    return true;
#endif
}

bool TemporaryOutput::Commit()
{
    if (m_fd < 0)
        return false;
    bool ok = true;
#ifndef _WIN32
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) {
        m_error = errno;
        ok = false;
    }
#endif
    // The target may have become something else while the file was written.
    if (ok && TargetRefused())
        ok = false;
    if (ok && m_named.empty())
        ok = LinkNamed();
#ifdef _WIN32
    if (ok && ::_close(m_fd) != 0) {
        m_error = errno;
        ok = false;
    }
    m_fd = -1;
#endif
    if (ok && !MoveIntoPlace())
        ok = false;
    if (!ok) {
        Discard();
        return false;
    }
    releaseSlot(m_slot);
    m_named.clear();
#ifndef _WIN32
    if (::close(m_fd) != 0) {
        // The file is in place; a failed close after fsync loses nothing.
    }
    m_fd = -1;
#endif
    return true;
}

void TemporaryOutput::Discard()
{
    if (!m_named.empty()) {
        // Removed only while the name is still the file we made.
        if (m_fd < 0 || sameFile(m_fd, m_named)) {
#ifdef _WIN32
            if (m_fd >= 0)
                ::_close(m_fd);
            m_fd = -1;
            ::_wunlink(m_named.c_str());
#else
            ::unlink(m_named.c_str());
#endif
        }
        m_named.clear();
    }
    releaseSlot(m_slot);
    if (m_fd >= 0) {
#ifdef _WIN32
        ::_close(m_fd);
#else
        ::close(m_fd);
#endif
        m_fd = -1;
    }
}

void TemporaryOutput::RemoveOpenFromSignal()
{
    for (Slot &slot : g_slots) {
        if (slot.ready.load()) {
#ifdef _WIN32
            ::_unlink(slot.path);
#else
            ::unlink(slot.path);
#endif
        }
    }
}

} // namespace corva
