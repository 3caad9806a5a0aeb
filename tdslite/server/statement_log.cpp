#include "server/statement_log.h"

#include <cerrno>
#include <cstring>

namespace tdslite {

std::unique_ptr<StatementLog> StatementLog::Open(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) {
        if (error) *error = "cannot open statement log " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    auto log = std::make_unique<StatementLog>();
    log->file_.reset(f);
    return log;
}

void StatementLog::Write(int connection, std::string_view text) {
    if (!file_) return;
    const std::string prefix = std::to_string(connection) + "\t";
    std::lock_guard lock(mutex_);
    std::fwrite(prefix.data(), 1, prefix.size(), file_.get());
    std::fwrite(text.data(), 1, text.size(), file_.get());
    std::fputc('\n', file_.get());
    std::fflush(file_.get());
}

}  // namespace tdslite
