#include "server/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "protocol/packet.h"
#include "server/init_script.h"
#include "server/odbc_config.h"
#include "server/session.h"
#include "server/statement_log.h"

namespace tdslite {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// What every connection shares; lives for the whole run.
struct Shared {
    Engine& engine;
    SessionSettings settings;
    StatementLog* log;
    int latency_ms;
};

bool SendAll(int fd, const protocol::Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Serves one connection until the client leaves, the session ends it, or the server stops
// (which shuts the socket down under it).  The socket is closed by the owner of the thread.
void Serve(int fd, int number, const Shared& shared) {
    Session session(shared.engine, shared.settings, shared.log, number);
    protocol::MessageAssembler assembler;
    std::vector<std::uint8_t> buffer(64 * 1024);
    protocol::Bytes out;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        assembler.Append(protocol::ByteSpan(buffer.data(), static_cast<std::size_t>(n)));
        bool end = false;
        protocol::ClientMessage message;
        while (!end) {
            const auto status = assembler.Next(message);
            if (status == protocol::MessageAssembler::Status::kNeedMore) break;
            if (status == protocol::MessageAssembler::Status::kError) {
                end = true;
                break;
            }
            out.clear();
            const Session::Outcome outcome = session.Handle(message, out);
            if (outcome == Session::Outcome::kDrop) {
                end = true;
                break;
            }
            if (!out.empty()) {
                if (shared.latency_ms > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(shared.latency_ms));
                if (!SendAll(fd, out)) end = true;
            }
            if (outcome == Session::Outcome::kClose) end = true;
        }
        if (end) break;
    }
    ::shutdown(fd, SHUT_RDWR);
}

struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
    int fd = -1;
};

void Finish(Worker& worker) {
    if (worker.thread.joinable()) worker.thread.join();
    if (worker.fd >= 0) ::close(worker.fd);
    worker.fd = -1;
}

int Listen(int port, int& bound_port, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    bound_port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

int RunServer(const ServerOptions& options, std::FILE* out, std::FILE* err) {
    // SIGTERM and SIGINT are taken through a descriptor, so the accept loop sees them; blocked
    // before any thread starts so that every thread inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    FileDescriptor signal_fd(::signalfd(-1, &stop_signals, SFD_CLOEXEC));
    if (signal_fd.get() < 0) {
        std::fprintf(err, "tdslite: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    std::string error;
    std::unique_ptr<Engine> engine = Engine::Open(options.database, &error);
    if (!engine) {
        std::fprintf(err, "tdslite: cannot open database: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& script : options.init_scripts) {
        if (!RunInitScript(*engine, script, &error)) {
            std::fprintf(err, "tdslite: init script failed\n%s", error.c_str());
            return 1;
        }
    }
    std::unique_ptr<StatementLog> log;
    if (!options.statement_log.empty()) {
        log = StatementLog::Open(options.statement_log, &error);
        if (!log) {
            std::fprintf(err, "tdslite: %s\n", error.c_str());
            return 1;
        }
    }

    int port = 0;
    FileDescriptor listener(Listen(options.port, port, error));
    if (listener.get() < 0) {
        std::fprintf(err, "tdslite: %s\n", error.c_str());
        return 1;
    }
    if (!options.odbc_config_dir.empty()) {
        OdbcConfig config;
        config.port = port;
        if (!WriteOdbcConfig(options.odbc_config_dir, config, &error)) {
            std::fprintf(err, "tdslite: %s\n", error.c_str());
            return 1;
        }
    }
    std::fprintf(out, "tdslite listening on 127.0.0.1:%d\n", port);
    std::fflush(out);

    const Shared shared{*engine,
                        SessionSettings{options.user, options.password, options.drop_after},
                        log.get(), options.latency_ms};
    std::list<Worker> workers;
    int connections = 0;
    for (;;) {
        pollfd fds[2] = {{listener.get(), POLLIN, 0}, {signal_fd.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, 1000);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(err, "tdslite: poll: %s\n", std::strerror(errno));
            break;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) break;

        // Finished connections are joined here, so their threads and sockets do not pile up.
        for (auto it = workers.begin(); it != workers.end();) {
            if (it->done) {
                Finish(*it);
                it = workers.erase(it);
            } else {
                ++it;
            }
        }
        if (ready <= 0 || !(fds[0].revents & POLLIN)) continue;

        const int client = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;  // the client went away, or descriptors ran out for now
        const int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Worker& worker = workers.emplace_back();
        worker.fd = client;
        const int number = ++connections;
        worker.thread = std::thread([&worker, &shared, client, number] {
            Serve(client, number, shared);
            worker.done = true;
        });
    }

    // Stop: wake every connection blocked on its socket, then wait for all of them.
    for (Worker& worker : workers) ::shutdown(worker.fd, SHUT_RDWR);
    for (Worker& worker : workers) Finish(worker);
    return 0;
}

}  // namespace tdslite
