// Pieces shared by the test-support sources; not for tests.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport::internal {

/// A pipe whose two ends close with the object.  Both ends are close-on-exec; a child gets the
/// ends it needs through dup2.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() = default;
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool Open();
    void Close(int end);
};

/// Starts argv[0] with the environment of this process plus extra_env; a descriptor of -1 leaves
/// that stream as it is.  The child starts with no signal blocked and SIGPIPE at its default,
/// and gets SIGTERM when the calling thread ends, so a crashed test leaves no server behind.
/// Returns the process id, or -1 with *error set (also when argv[0] cannot be executed).
int Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra_env,
          int stdin_fd, int stdout_fd, int stderr_fd, std::string* error);

/// Waits for the process: its exit status, -1 when a signal ended it, -2 when it was still
/// running after timeout_ms (it is then killed).
int WaitExit(int pid, int timeout_ms);

}  // namespace testsupport::internal
