// Throughput and memory of the converter against tdslite.
//
// Generates a realistic installation (about 500 people in 3 clients, one terminal with 8 readers)
// and uploads of 10,000 and 100,000 bookings (about 8 % canteen, 2 % unknown badges), converts
// each with the real binary through unixODBC + FreeTDS, and then replays the statement stream the
// converter sent (taken from tdslite's statement log) through a minimal ODBC client with the same
// handle usage against a fresh server.  The replay is the floor: the time the driver and the
// server need for exactly these statements.  Prints bookings per second, statements per booking,
// the converter's peak resident memory and the ratio of the two wall times.
//
//   converter_bench [BOOKINGS...]      default: 10000 100000

#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "support/config_files.h"
#include "support/tdslite_process.h"

extern char** environ;

namespace {

constexpr int kPeople = 500;
constexpr const char* kSchemas[] = {"MANDA", "MANDB", "MANDC"};
constexpr const char* kTerminal = "BTERM";

std::string BadgeOf(int person) { return std::to_string(500000 + person); }
std::string PnrOf(int person) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08d", 10000 + person);
    return buf;
}

std::string InstallationSql() {
    std::string sql = "CREATE SCHEMA ZENTRALE\nGO\n";
    for (const char* s : kSchemas) sql += "CREATE SCHEMA " + std::string(s) + "\nGO\n";
    sql +=
        "CREATE TABLE ZENTRALE.Zkv301Asw (AswNum varchar(13) NOT NULL, AswPnr char(8) NULL, "
        "AswLiz char(5) NULL, AswMnd char(5) NULL, AswGvo datetime NOT NULL, AswGbi datetime NULL, "
        "PRIMARY KEY (AswNum, AswGvo))\nGO\n"
        "CREATE TABLE ZENTRALE.Zkv112Mnd (MndLiz char(5) NOT NULL, MndNum char(5) NOT NULL, "
        "MndKon int NOT NULL, MndSch varchar(20) NULL, PRIMARY KEY (MndLiz, MndNum, MndKon))\nGO\n"
        "CREATE TABLE ZENTRALE.Zkv114Tsm (TsmNam varchar(10) NOT NULL PRIMARY KEY, TsmTas int NOT "
        "NULL)\nGO\n"
        "CREATE TABLE ZENTRALE.O2108Tta (TtaNum int NOT NULL, TtaPos varchar(2) NOT NULL, TtaFcd "
        "varchar(3) NULL, PRIMARY KEY (TtaNum, TtaPos))\nGO\n"
        "CREATE TABLE ZENTRALE.Zkv401Zls (ZlsTrm varchar(10) NOT NULL, ZlsLes char(2) NOT NULL, "
        "ZlsKst char(30) NULL, PRIMARY KEY (ZlsTrm, ZlsLes))\nGO\n";
    // Badges: people 0..499, spread over the three clients.
    for (int p = 0; p < kPeople; p += 100) {
        sql += "INSERT INTO ZENTRALE.Zkv301Asw VALUES ";
        for (int q = p; q < p + 100; ++q) {
            if (q > p) sql += ", ";
            sql += "('" + BadgeOf(q) + "', '" + PnrOf(q) + "', 'L1', 'M" + std::to_string(q % 3 + 1) +
                   "', '20200101', NULL)";
        }
        sql += "\n";
    }
    sql += "INSERT INTO ZENTRALE.Zkv112Mnd VALUES ('L1', 'M1', 0, 'MANDA'), ('L1', 'M2', 0, "
           "'MANDB'), ('L1', 'M3', 0, 'MANDC')\n";
    sql += "INSERT INTO ZENTRALE.Zkv114Tsm VALUES ('BTERM', 1)\n";
    sql += "INSERT INTO ZENTRALE.O2108Tta VALUES (1, '10', 'KO'), (1, '11', 'GE'), (1, '12', 'DG'), "
           "(1, '13', 'DGE'), (1, '14', 'PA'), (1, '15', 'AD'), (1, '16', 'ARZ'), (1, 'K', 'KAN')\n";
    sql += "INSERT INTO ZENTRALE.Zkv401Zls VALUES ('BTERM', '01', 'Empfang'), ('BTERM', '02', "
           "'Werkstatt'), ('BTERM', '03', NULL), ('BTERM', '04', 'Kantine'), ('BTERM', '05', "
           "'Lager'), ('BTERM', '06', 'Versand'), ('BTERM', '07', 'Labor'), ('BTERM', '08', "
           "'Montage')\nGO\n";
    for (int si = 0; si < 3; ++si) {
        const std::string s = kSchemas[si];
        sql += "CREATE TABLE " + s +
               ".Zkv131Fcd (FcdNum varchar(3) NOT NULL PRIMARY KEY, FcdTyp smallint NOT NULL, "
               "FcdTft int NULL, FcdKsb int NULL)\n"
               "CREATE TABLE " + s +
               ".Zkv311Zuo (ZuoPnr char(8) NOT NULL, ZuoGvo datetime NOT NULL, ZuoGbi datetime "
               "NULL, ZuoKsb int NULL, ZuoKst char(30) NULL, PRIMARY KEY (ZuoPnr, ZuoGvo))\n"
               "CREATE TABLE " + s +
               ".Zkv321Kan (KanPor char(2) NOT NULL, KanFcd char(2) NOT NULL, KanDtm char(8) NOT "
               "NULL, KanUhr char(4) NOT NULL, KanMsk char(3) NOT NULL, KanAwn char(8) NOT NULL, "
               "KanDat char(4) NOT NULL)\nGO\n";
        sql += "INSERT INTO " + s +
               ".Zkv131Fcd VALUES ('KO', 1, 0, 2), ('GE', 2, 0, 2), ('DG', 7, 1, 1), ('DGE', 123, "
               "1, 1), ('PA', -9, NULL, NULL), ('AD', 3, 0, 2), ('ARZ', 4, 0, 1), ('KAN', 50, 0, "
               "1)\n";
        std::string rows;
        for (int q = si; q < kPeople; q += 3) {
            if (q % 20 == 7) continue;  // about 5 % have no assignment
            if (!rows.empty()) rows += ", ";
            rows += "('" + PnrOf(q) + "', '20200101', NULL, " + std::to_string(q % 2 + 1) +
                    ", 'Kostenstelle " + std::to_string(q % 40) + "')";
        }
        sql += "INSERT INTO " + s + ".Zkv311Zuo VALUES " + rows + "\nGO\n";
    }
    return sql;
}

/// An upload of n bookings of terminal BTERM, in time order over a few weeks.
std::string Upload(int n) {
    std::mt19937 rng(4711);
    std::uniform_int_distribution<int> person(0, kPeople - 1), percent(0, 99), reader(1, 8),
        type(0, 6), minute(0, 23 * 60 + 59);
    std::string out;
    out.reserve(static_cast<std::size_t>(n) * 29);
    for (int i = 0; i < n; ++i) {
        const int day = 1 + (i * 28) / n;
        const bool unknown = percent(rng) < 2;
        const bool canteen = percent(rng) < 8;
        const std::string badge = unknown ? "9" + std::to_string(100000 + person(rng))
                                          : BadgeOf(person(rng));
        const int m = minute(rng);
        char rest[32];
        std::snprintf(rest, sizeof rest, "%02d1226%02d%02d00%c%02d%c", day % 100, (m / 60) % 100,
                      m % 60, canteen ? 'K' : static_cast<char>('A' + type(rng)), reader(rng) % 100,
                      percent(rng) < 50 ? '1' : '0');
        std::string record = badge.substr(0, 13);
        record.resize(13, ' ');
        record += rest;
        out.append(record, 0, 29);
    }
    return out;
}

struct RunFigures {
    double seconds = 0;
    long max_rss_kb = 0;
    int status = -1;
};

/// Runs the converter with stdout into a file, measuring wall time and peak resident memory.
RunFigures RunConverter(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env, const std::string& log) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
        // The given variables replace the process's own (getenv takes the first occurrence).
        const std::string entry = *e;
        if (!env.contains(entry.substr(0, entry.find('=')))) env_strings.push_back(entry);
    }
    for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
    std::vector<char*> envp, argv;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args_copy = args;
    for (auto& s : args_copy) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    RunFigures f;
    long f_max = 0;
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    // The peak resident set of the converter's own image, read from /proc while it runs: the
    // rusage of a spawned child also counts the spawning process's pages at exec time.
    const std::string status_path = "/proc/" + std::to_string(pid) + "/status";
    int status = 0;
    for (;;) {
        if (std::FILE* f = std::fopen(status_path.c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, f)) {
                long kb = 0;
                if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1 && kb > f_max) f_max = kb;
            }
            std::fclose(f);
        }
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.max_rss_kb = f_max;
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return f;
}

/// Replays statements with the converter's handle usage: a fresh statement handle each, the badge
/// query as a server cursor, one fetch into buffers bound as the converter binds them.
double Replay(const std::vector<std::string>& statements, const std::string& dsn,
              const std::string& user, const std::string& password) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  SQL_IS_INTEGER);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    auto c = [](const std::string& s) {
        return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
    };
    if (!SQL_SUCCEEDED(SQLConnect(dbc, c(dsn), SQL_NTS, c(user), SQL_NTS, c(password), SQL_NTS))) {
        std::fprintf(stderr, "replay: connect failed\n");
        std::exit(1);
    }
    char b1[32], b2[32], b3[32], b4[32];
    SQLINTEGER n1 = 0;
    SQLLEN ind = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& s : statements) {
        SQLHSTMT st = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
        const bool cursor = s.rfind("SELECT  AswPnr", 0) == 0;
        if (cursor) {
            SQLSetStmtAttr(st, SQL_ATTR_CURSOR_SCROLLABLE, reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE),
                           SQL_IS_INTEGER);
            SQLSetStmtAttr(st, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK),
                           SQL_IS_INTEGER);
        }
        if (SQLExecDirect(st, c(s), SQL_NTS) != SQL_ERROR && s.rfind("INSERT", 0) != 0) {
            if (cursor) {
                SQLBindCol(st, 1, SQL_C_CHAR, b1, 9, &ind);
                SQLBindCol(st, 2, SQL_C_CHAR, b2, 6, &ind);
                SQLBindCol(st, 3, SQL_C_CHAR, b3, 6, &ind);
            } else if (s.rfind("SELECT  MndSch", 0) == 0) {
                SQLBindCol(st, 1, SQL_C_CHAR, b1, 21, &ind);
            } else if (s.rfind("SELECT str(", 0) == 0) {
                SQLBindCol(st, 1, SQL_C_CHAR, b1, 6, &ind);
                SQLBindCol(st, 2, SQL_C_CHAR, b2, 4, &ind);
            } else if (s.rfind("SELECT COALESCE(ZlsKst", 0) == 0) {
                SQLBindCol(st, 1, SQL_C_CHAR, b1, 31, &ind);
            } else if (s.rfind("SELECT  COALESCE(ZuoKsb", 0) == 0) {
                SQLBindCol(st, 1, SQL_C_LONG, &n1, 4, &ind);
                SQLBindCol(st, 2, SQL_C_CHAR, b2, 31, &ind);
            } else if (s.rfind("SELECT  COALESCE(FcdKsb", 0) == 0) {
                SQLBindCol(st, 1, SQL_C_LONG, &n1, 4, &ind);
            } else {
                SQLBindCol(st, 1, SQL_C_CHAR, b1, 21, &ind);
                SQLBindCol(st, 2, SQL_C_CHAR, b2, 9, &ind);
                SQLBindCol(st, 3, SQL_C_CHAR, b3, 11, &ind);
                SQLBindCol(st, 4, SQL_C_CHAR, b4, 31, &ind);
            }
            SQLFetch(st);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, st);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 100000};

    testsupport::TdsliteOptions options;
    options.init_sql = InstallationSql();

    std::printf("%10s %12s %12s %14s %12s %12s %10s\n", "bookings", "converter s", "bookings/s",
                "stmts/booking", "replay s", "ratio", "peak RSS");
    for (int n : sizes) {
        testsupport::TempDir work;
        const std::string upload = work.File("upload.snp72k");
        testsupport::WriteFileBytes(upload, Upload(n));

        // Run 1: the converter, with the statement stream captured.
        std::vector<std::string> statements;
        RunFigures conv;
        {
            auto server = testsupport::TdsliteServer::Start(options);
            const std::string config = work.File("bench.ini");
            testsupport::WriteFileBytes(config, testsupport::ConfigFile(server->dsn(), "MANDAX",
                                                           options.user, options.password));
            server->ClearStatementLog();
            conv = RunConverter({testsupport::BuildPath("snp72k2zeiimp"), config, kTerminal, upload,
                                 work.File("zeiimp.txt")},
                                server->OdbcEnvironment(), work.File("console.log"));
            if (conv.status != 0) {
                const std::string console = testsupport::ReadFileBytes(work.File("console.log"));
                std::fprintf(stderr, "converter exited with %d; its console ended with:\n%s\n",
                             conv.status,
                             console.substr(console.size() > 2000 ? console.size() - 2000 : 0)
                                 .c_str());
                return 1;
            }
            statements = server->StatementLog();
        }
        // Run 2: the replay against a fresh server of the same installation.
        double replay = 0;
        {
            auto server = testsupport::TdsliteServer::Start(options);
            server->ApplyOdbcEnvironment();
            replay = Replay(statements, server->dsn(), options.user, options.password);
        }
        std::printf("%10d %12.2f %12.0f %14.2f %12.2f %12.3f %7ld KB\n", n, conv.seconds,
                    n / conv.seconds, static_cast<double>(statements.size()) / n, replay,
                    conv.seconds / replay, conv.max_rss_kb);
        std::fflush(stdout);
    }
    return 0;
}
