// Files, folders and child processes for the end-to-end tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "support/process_internal.h"
#include "support/tdslite_process.h"

extern char** environ;

namespace testsupport {

std::string BuildPath(std::string_view program) {
    return std::string(TEST_BUILD_DIR) + "/" + std::string(program);
}

std::string SourcePath(std::string_view relative) {
    return std::string(TEST_SOURCE_DIR) + "/" + std::string(relative);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/snp-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::strerror(errno);
        return;
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

namespace internal {

Pipe::~Pipe() {
    Close(0);
    Close(1);
}

bool Pipe::Open() {
    return ::pipe2(fds, O_CLOEXEC) == 0;
}

void Pipe::Close(int end) {
    if (fds[end] >= 0) ::close(fds[end]);
    fds[end] = -1;
}

int Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra_env,
          int stdin_fd, int stdout_fd, int stderr_fd, std::string* error) {
    // Everything the child needs is built before fork: after it, only async-signal-safe calls.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    // The environment: this process's, with the extra variables replacing or adding entries.
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry = *e;
        const std::string name(entry.substr(0, entry.find('=')));
        if (!extra_env.contains(name)) env_strings.emplace_back(entry);
    }
    for (const auto& [name, value] : extra_env) env_strings.push_back(name + "=" + value);
    std::vector<char*> env;
    for (auto& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);

    // An exec failure travels back through a close-on-exec pipe; a successful exec closes it.
    Pipe status;
    if (!status.Open()) {
        if (error) *error = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        if (error) *error = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    if (pid == 0) {
        // A child outlives a test process that crashes only until the kernel delivers this.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        // A clean signal state: nothing blocked, SIGPIPE as by default.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        if ((stdin_fd >= 0 && ::dup2(stdin_fd, 0) < 0) ||
            (stdout_fd >= 0 && ::dup2(stdout_fd, 1) < 0) ||
            (stderr_fd >= 0 && ::dup2(stderr_fd, 2) < 0))
            ::_exit(127);
        ::execve(args[0], args.data(), env.data());
        const int failure = errno;
        [[maybe_unused]] const ssize_t n = ::write(status.fds[1], &failure, sizeof failure);
        ::_exit(127);
    }
    status.Close(1);
    int failure = 0;
    ssize_t n;
    do {
        n = ::read(status.fds[0], &failure, sizeof failure);
    } while (n < 0 && errno == EINTR);
    if (n == sizeof failure) {
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
        if (error) *error = "cannot start " + argv[0] + ": " + std::strerror(failure);
        return -1;
    }
    return pid;
}

int WaitExit(int pid, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -2;
        }
        ::usleep(5000);
    }
}

}  // namespace internal

ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extra_env,
                         std::string_view input) {
    ProcessResult result;
    internal::Pipe in, out, err;
    if (argv.empty() || !in.Open() || !out.Open() || !err.Open()) {
        ADD_FAILURE() << "RunProgram: no program or no pipes";
        return result;
    }
    std::string error;
    const int pid = internal::Spawn(argv, extra_env, in.fds[0], out.fds[1], err.fds[1], &error);
    in.Close(0);
    out.Close(1);
    err.Close(1);
    if (pid < 0) {
        ADD_FAILURE() << error;
        return result;
    }
    ::fcntl(in.fds[1], F_SETFL, O_NONBLOCK);
    if (input.empty()) in.Close(1);
    // A program that exits before reading all its input must not take this process with it:
    // SIGPIPE is held back while feeding it, and discarded afterwards.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigset_t previous_mask;
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous_mask);

    // Feed stdin and drain both outputs together, so no side blocks on a full pipe.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::size_t written = 0;
    char buffer[65536];
    while (out.fds[0] >= 0 || err.fds[0] >= 0) {
        pollfd fds[3];
        int n = 0;
        const int out_at = out.fds[0] >= 0 ? n++ : -1;
        if (out_at >= 0) fds[out_at] = {out.fds[0], POLLIN, 0};
        const int err_at = err.fds[0] >= 0 ? n++ : -1;
        if (err_at >= 0) fds[err_at] = {err.fds[0], POLLIN, 0};
        const int in_at = in.fds[1] >= 0 ? n++ : -1;
        if (in_at >= 0) fds[in_at] = {in.fds[1], POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ADD_FAILURE() << argv[0] << " did not finish within 120 seconds";
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, static_cast<nfds_t>(n), static_cast<int>(left.count())) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto drain = [&](int at, internal::Pipe& pipe, std::string& into) {
            if (at < 0 || !(fds[at].revents & (POLLIN | POLLHUP | POLLERR))) return;
            const ssize_t got = ::read(pipe.fds[0], buffer, sizeof buffer);
            if (got > 0) {
                into.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                pipe.Close(0);
            }
        };
        drain(out_at, out, result.out);
        drain(err_at, err, result.err);
        if (in_at >= 0 && (fds[in_at].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t put = ::write(in.fds[1], input.data() + written, input.size() - written);
            if (put > 0) written += static_cast<std::size_t>(put);
            if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == input.size())
                in.Close(1);
        }
    }
    in.Close(1);
    const timespec no_wait{};
    while (::sigtimedwait(&pipe_signal, nullptr, &no_wait) > 0) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
    result.exit_status = internal::WaitExit(pid, 10000);
    if (result.exit_status == -2) result.exit_status = -1;
    return result;
}

}  // namespace testsupport
