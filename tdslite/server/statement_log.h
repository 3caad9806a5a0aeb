// The statement log: every statement text tdslite receives, one line each, prefixed by the
// connection number and a tab.  Shared by all connections.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tdslite {

class StatementLog {
  public:
    /// A log that writes nothing.
    StatementLog() = default;
    /// Opens `path` for appending.  Null, with *error set, when it cannot be opened.
    static std::unique_ptr<StatementLog> Open(const std::string& path, std::string* error);

    /// Appends "<connection>\t<text>\n" and flushes, so readers see the line at once.  The text
    /// is written as received, line breaks inside it included.
    void Write(int connection, std::string_view text);

  private:
    struct Close {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Close> file_;
    std::mutex mutex_;
};

}  // namespace tdslite
