#pragma once

#include <filesystem>

namespace corva {

// A file that takes the place of `target` only once it is complete. Until then it has no name
// where the system allows (Linux's O_TMPFILE: even a killed process leaves nothing), or a name
// of its own beside the target, created exclusively, so it can never be a user's file, a
// source, or a link to somewhere else. Only what this object created is ever removed.
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
    // errno of the last failure.
    int Error() const { return m_error; }
    const std::filesystem::path &Target() const { return m_target; }
    // Where the file is while it has a name (empty while unnamed).
    const std::filesystem::path &TemporaryPath() const { return m_named; }

    // Puts the complete file in the target's place (replacing what was there) and closes it.
    // False with Error() set; the file is then discarded.
    bool Commit();
    // Closes and removes the file; nothing at the target changes.
    void Discard();

    // For signal handlers: removes every named temporary of this process still open.
    // Async-signal-safe.
    static void RemoveOpenFromSignal();

private:
    bool CreateNamed();
    bool LinkNamed();

    std::filesystem::path m_target;
    std::filesystem::path m_named;
    int m_fd = -1;
    int m_error = 0;
    int m_slot = -1; // entry in the signal handler's list while named
};

} // namespace corva
