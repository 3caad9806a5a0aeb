#include "server/options.h"

#include <charconv>
#include <string_view>

namespace tdslite {
namespace {

bool ParseCount(std::string_view text, int max, int& out) {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > max) return false;
    out = v;
    return true;
}

}  // namespace

const char* UsageText() {
    return "usage: tdslite --user NAME --password PW [--port N] [--database FILE]\n"
           "               [--init SCRIPT]... [--statement-log FILE] [--odbc-config DIR]\n"
           "               [--latency-ms N] [--drop-after N]\n"
           "\n"
           "A small SQL Server stand-in on 127.0.0.1 for tests, benchmarks and demonstrations.\n"
           "  --port N           port to listen on; 0 (the default) picks a free one\n"
           "  --database FILE    SQLite file holding the tables (created when missing);\n"
           "                     without it the tables live in memory\n"
           "  --init SCRIPT      T-SQL run before listening; batches end at lines holding GO\n"
           "  --user, --password the one login accepted\n"
           "  --statement-log F  append every statement received, one line each\n"
           "  --odbc-config DIR  write odbcinst.ini, odbc.ini (DSN TDSLITE) and freetds.conf\n"
           "  --latency-ms N     wait N ms before every answer\n"
           "  --drop-after N     close a connection on receiving its N-th statement\n";
}

int ParseOptions(int argc, const char* const* argv, ServerOptions& out, std::string* error) {
    out = {};
    bool have_user = false;
    bool have_password = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") return 1;
        if (i + 1 >= argc) {
            if (error) *error = "missing value after " + std::string(option);
            return -1;
        }
        const std::string_view value = argv[++i];
        auto bad_number = [&]() {
            if (error) *error = "bad number for " + std::string(option) + ": " + std::string(value);
            return -1;
        };
        if (option == "--port") {
            if (!ParseCount(value, 65535, out.port)) return bad_number();
        } else if (option == "--latency-ms") {
            if (!ParseCount(value, 600000, out.latency_ms)) return bad_number();
        } else if (option == "--drop-after") {
            if (!ParseCount(value, 1 << 30, out.drop_after)) return bad_number();
        } else if (option == "--database") {
            out.database = value;
        } else if (option == "--init") {
            out.init_scripts.emplace_back(value);
        } else if (option == "--user") {
            out.user = value;
            have_user = true;
        } else if (option == "--password") {
            out.password = value;
            have_password = true;
        } else if (option == "--statement-log") {
            out.statement_log = value;
        } else if (option == "--odbc-config") {
            out.odbc_config_dir = value;
        } else {
            if (error) *error = "unknown option " + std::string(option);
            return -1;
        }
    }
    if (!have_user || !have_password || out.user.empty()) {
        if (error) *error = "--user and --password are required";
        return -1;
    }
    return 0;
}

}  // namespace tdslite
