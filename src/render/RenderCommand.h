#pragma once
// The quenvis-render command: arguments in, files and one line per message
// out.
#include <atomic>
#include <string>
#include <vector>

namespace quenvis {

// Runs the command on Args (without the program name); help goes to stdout,
// messages to ErrFd. Returns the exit status: 0, or 2 after any failure.
// Stop, when it becomes true, abandons the work and leaves no files.
// StdinReadable false (descriptor 0 was closed or write-only when the
// program started) refuses "-" as an input.
int RunRenderCommand(const std::vector<std::string>& Args, int ErrFd,
                     const std::atomic<bool>* Stop = nullptr, bool StdinReadable = true);

}  // namespace quenvis
