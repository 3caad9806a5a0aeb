// Runs of the real converter against a tdslite: booking records, the encrypted configuration,
// the run itself, and the console text every run prints around its bookings.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "support/config_files.h"
#include "support/tdslite_process.h"

namespace conversion {

using testsupport::TdsliteServer;

/// One 29-byte booking record: badge number (blank-padded to 13), date DDMMYY, time HHMMSS,
/// message type, reader (2) and flag.
inline std::string Record(std::string_view badge, std::string_view date, std::string_view time,
                          char type, std::string_view reader, char flag = '0') {
    std::string r(badge);
    r.resize(13, ' ');
    r += date;
    r += time;
    r += type;
    r += reader;
    r += flag;
    EXPECT_EQ(r.size(), 29u) << "malformed test record: " << r;
    return r;
}

/// A tdslite holding the shared tables and the rows of `fixture` (a file of tests/fixtures).
inline std::unique_ptr<TdsliteServer> StartServer(std::string_view fixture, int drop_after = 0) {
    testsupport::TdsliteOptions options;
    options.init_sql =
        testsupport::ReadFileBytes(testsupport::SourcePath("tests/fixtures/tables.sql"));
    options.init_script =
        testsupport::SourcePath(std::string("tests/fixtures/") + std::string(fixture));
    options.drop_after = drop_after;
    return TdsliteServer::Start(options);
}

/// The configuration file of a run against `server`: its data source, login and password, and
/// `schema` as the starting schema (the file stores it with one character more, which the
/// converter drops).
inline std::string ConfigurationFile(const TdsliteServer& server, std::string_view schema) {
    return testsupport::ConfigFile(server.dsn(), std::string(schema) + ".", server.options().user,
                                   server.options().password);
}

struct Conversion {
    int exit_status = -1;
    std::string console;  // standard output, bytes as written
    std::string errors;   // standard error (the converter writes nothing there)
    std::string output;   // the ZeiImp file, bytes as written
    std::string input_path;
    std::string output_path;

    /// What the run prints around the messages of its bookings.
    std::string Console(std::string_view bookings) const {
        return "Uebernahme Snp72k (" + input_path + ") nach ZeiImp (" + output_path + ")...\n" +
               std::string(bookings) + "...fertig.";
    }
};

/// Converts `upload` (booking records) for `terminal` with the real converter.
inline Conversion Convert(const TdsliteServer& server, std::string_view terminal,
                          std::string_view upload, std::string_view schema = "ZENTRALE") {
    testsupport::TempDir dir;
    const std::string config = dir.File("zeit.ini");
    Conversion run;
    run.input_path = dir.File("upload.snp");
    run.output_path = dir.File("zeiimp.txt");
    testsupport::WriteFileBytes(config, ConfigurationFile(server, schema));
    testsupport::WriteFileBytes(run.input_path, upload);

    const testsupport::ProcessResult result =
        testsupport::RunProgram({testsupport::BuildPath("snp72k2zeiimp"), config,
                                 std::string(terminal), run.input_path, run.output_path},
                                server.OdbcEnvironment());
    run.exit_status = result.exit_status;
    run.console = result.out;
    run.errors = result.err;
    run.output = testsupport::ReadFileBytes(run.output_path);
    return run;
}

/// The output lines of a ZeiImp file, each without its CR LF; a line without CR LF fails the test.
inline std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < output.size()) {
        const std::size_t end = output.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "output ends without CR LF: " << output.substr(start);
            break;
        }
        lines.push_back(output.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace conversion
