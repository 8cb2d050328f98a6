#pragma once

#include "platform/PathKind.h"

#include <filesystem>
#include <string>

namespace corva {

// A file that takes the place of `target` only once it is complete. Until then it has no name
// where the system allows (Linux's O_TMPFILE: even a killed process leaves nothing), or a name
// of its own beside the target, created exclusively, so it can never be a user's file, a
// source, or a link to somewhere else. Only what this object created is ever removed, and
// only a regular file (or nothing) at the target is ever replaced: a pipe, a device or a
// socket there is refused when the file is made and again when it would take its place.
// Standard C++ and the system's calls only: the container library writes through it too.
class TemporaryOutput final
{
public:
    // Creates the file in the target's folder; check IsOpen().
    explicit TemporaryOutput(std::filesystem::path target);
    ~TemporaryOutput(); // discards unless committed
    TemporaryOutput(const TemporaryOutput &) = delete;
    TemporaryOutput &operator=(const TemporaryOutput &) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // The descriptor to write through; it stays ours (close nothing obtained from it but dups).
    int Descriptor() const { return m_fd; }
    // errno of the last failure (0 when the target itself was refused).
    int Error() const { return m_error; }
    // What was found at the target when it was refused for not being a regular file;
    // Kind::Missing when it was not.
    PathKind::Kind RefusedKind() const { return m_refused; }
    // The last failure in words, UTF-8: the refused target, or the system's reason.
    std::string Reason() const;
    const std::filesystem::path &Target() const { return m_target; }
    // Where the file is while it has a name (empty while unnamed).
    const std::filesystem::path &TemporaryPath() const { return m_named; }

    // Puts the complete file in the target's place (replacing a regular file that was there)
    // and closes it. False with Error() or RefusedKind() set; the file is then discarded.
    bool Commit();
    // Closes and removes the file; nothing at the target changes.
    void Discard();

    // For signal handlers: removes every named temporary of this process still open.
    // Async-signal-safe.
    static void RemoveOpenFromSignal();

private:
    bool CreateNamed();
    bool LinkNamed();
    bool TargetRefused();
    bool MoveIntoPlace();

    std::filesystem::path m_target;
    std::filesystem::path m_named;
    int m_fd = -1;
    int m_error = 0;
    PathKind::Kind m_refused = PathKind::Kind::Missing;
    int m_slot = -1; // entry in the signal handler's list while named
};

} // namespace corva
