// The converter's command line, files and record loop, run as the real program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "support/config_files.h"
#include "support/tdslite_process.h"

namespace {

using testsupport::BuildPath;
using testsupport::ConfigEntry;
using testsupport::ConfigFile;
using testsupport::ProcessResult;
using testsupport::RunProgram;
using testsupport::TdsliteServer;
using testsupport::TempDir;

const std::string kUsage =
    "Snp72k2ZeiImp - Precompiler zur Uebername einer \"Snp72K-Datei\"\n"
    "mit Hilfe von \"ZeiImp\"\n"
    "Syntax: SNP72K2ZEIIMP [[VORKANDEL-Ini-Datei] [Terminalname]\n"
    "                  [Snp72k-Eingabedatei] [ZeiImp-Ausgabedatei]]\n";
const std::string kConnectFailed = "- Verbindung zur Datenbank fehlgeschlagen, Fehler : -1\n";

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// unixODBC pointed at an empty folder: no data source exists.
std::map<std::string, std::string> NoDataSources(const TempDir& dir) {
    return {{"ODBCSYSINI", dir.path()}, {"ODBCINI", dir.File("odbc.ini")}};
}

TEST(ConverterCommandLine, WrongArgumentCountPrintsUsageAndCreatesNothing) {
    TempDir dir;
    const std::string config = dir.File("zeit.ini");
    const std::string input = dir.File("upload.snp");
    const std::string output = dir.File("zeiimp.txt");
    testsupport::WriteFileBytes(input, "");
    const std::vector<std::vector<std::string>> argument_lists = {
        {},
        {config, "TERM01", input},
        {config, "TERM01", input, output, "extra"},
    };
    for (const auto& arguments : argument_lists) {
        SCOPED_TRACE(arguments.size());
        std::vector<std::string> argv = {BuildPath("snp72k2zeiimp")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const ProcessResult r = RunProgram(argv, NoDataSources(dir));
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(Exists(output));
    }
}

TEST(ConverterCommandLine, StartUpFailuresEndWithStatus255) {
    TempDir dir;
    const std::string config = dir.File("zeit.ini");
    const std::string input = dir.File("upload.snp");
    const std::string output = dir.File("zeiimp.txt");
    testsupport::WriteFileBytes(input, "");
    const struct {
        const char* name;
        std::string config_bytes;  // "" leaves the configuration file missing
        std::string terminal;
        std::string console;
    } cases[] = {
        {"missing_configuration_file", "", "TERM01", kConnectFailed},
        {"unknown_data_source", ConfigFile("NOSUCHDSN", "WERK1.", "zeit", "geheim"), "TERM01",
         kConnectFailed},
        {"login_too_long", ConfigFile("NOSUCHDSN", "WERK1.", std::string(24, 'z'), "geheim"),
         "TERM01",
         "- Wert von LOGIN in der Konfigurationsdatei '" + config +
             "' ist zu lang (h\xF6"
             "chstens 23 Zeichen)\n"},
        {"terminal_name_too_long", ConfigFile("NOSUCHDSN", "WERK1.", "zeit", "geheim"),
         "TERMINAL-11",
         "- Terminalname 'TERMINAL-11' ist zu lang (h\xF6"
         "chstens 10 Zeichen)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(config.c_str());
        if (!c.config_bytes.empty()) testsupport::WriteFileBytes(config, c.config_bytes);
        const ProcessResult r = RunProgram(
            {BuildPath("snp72k2zeiimp"), config, c.terminal, input, output}, NoDataSources(dir));
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, c.console);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(Exists(output));
    }
}

// Rows for one booking that writes a line (message type "A") and one canteen booking ("K") of
// badge 3002 at terminal TERM01, client schema WERK1.
constexpr std::string_view kRows = R"(
INSERT INTO ZENTRALE.Zkv112Mnd VALUES ('L1', 'M1', 0, 'WERK1')
INSERT INTO ZENTRALE.Zkv301Asw VALUES ('3002', '3002', 'L1', 'M1', '19400101', NULL)
INSERT INTO ZENTRALE.Zkv114Tsm VALUES ('TERM01', 1)
INSERT INTO ZENTRALE.O2108Tta VALUES (1, '10', 'GE')
INSERT INTO ZENTRALE.Zkv401Zls VALUES ('TERM01', '01', 'KST1')
GO
INSERT INTO WERK1.Zkv131Fcd VALUES ('GE', 7, 0, 2)
INSERT INTO WERK1.Zkv311Zuo VALUES ('3002', '19400101', NULL, 2, 'KST2')
GO
)";

// One record, field by field:      badge (13)      date    time    type reader flag
constexpr std::string_view kComes =
    "3002         "
    "150324"
    "071500"
    "A"
    "01"
    "0";
constexpr std::string_view kCanteen =
    "3002         "
    "150324"
    "121500"
    "K"
    "01"
    "1";
constexpr std::string_view kBlank =
    "3002         "
    "150324"
    "071500"
    " "
    "01"
    "0";

class ConverterRun : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testsupport::TdsliteOptions options;
        options.init_sql =
            testsupport::ReadFileBytes(testsupport::SourcePath("tests/fixtures/tables.sql")) +
            std::string(kRows);
        server_ = TdsliteServer::Start(options);
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server_) << "tdslite did not start";
        config_ = dir_.File("zeit.ini");
        input_ = dir_.File("upload.snp");
        output_ = dir_.File("zeiimp.txt");
        testsupport::WriteFileBytes(config_,
                                    ConfigFile(server_->dsn(), "WERK1.", server_->options().user,
                                               server_->options().password));
        server_->Query("DELETE FROM WERK1.Zkv321Kan");
    }

    ProcessResult Run(std::string_view upload, const std::string& output) {
        testsupport::WriteFileBytes(input_, upload);
        return RunProgram({BuildPath("snp72k2zeiimp"), config_, "TERM01", input_, output},
                          server_->OdbcEnvironment());
    }
    std::string StartMessage(const std::string& output) const {
        return "Uebernahme Snp72k (" + input_ + ") nach ZeiImp (" + output + ")...\n";
    }

    static inline std::unique_ptr<TdsliteServer> server_;
    TempDir dir_;
    std::string config_, input_, output_;
};

TEST_F(ConverterRun, MissingInputFile) {
    // A folder opens for reading on Linux, but is no input file either.
    for (const std::string& missing : {dir_.File("fehlt.snp"), dir_.path()}) {
        SCOPED_TRACE(missing);
        const ProcessResult r =
            RunProgram({BuildPath("snp72k2zeiimp"), config_, "TERM01", missing, output_},
                       server_->OdbcEnvironment());
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, "File: '" + missing + "' existiert nicht\n ");
        EXPECT_FALSE(Exists(output_));
    }
}

TEST_F(ConverterRun, InputWithoutBookingsToConvert) {
    const std::string blank(kBlank);
    const struct {
        const char* name;
        std::string upload;
    } cases[] = {
        {"empty", ""},
        {"blank_message_types", blank + blank + blank},
        {"trailing_fragment_dropped", blank + std::string(kComes).substr(0, 28)},
        {"eof_byte_cuts_the_rest", blank + "\x1A" + std::string(kComes)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_->ClearStatementLog();
        const ProcessResult r = Run(c.upload, output_);
        EXPECT_EQ(r.exit_status, 0);
        // "...fertig." has no line end.
        EXPECT_EQ(r.out, StartMessage(output_) + "...fertig.");
        EXPECT_EQ(r.err, "");
        ASSERT_TRUE(Exists(output_));
        EXPECT_EQ(testsupport::ReadFileBytes(output_), "");
        // No booking reached the database.
        for (const auto& statement : server_->StatementLog()) {
            EXPECT_EQ(statement.find("Zkv301Asw"), std::string::npos) << statement;
        }
    }
}

TEST_F(ConverterRun, OutputFileThatCannotBeCreated) {
    const std::string output = dir_.File("kein/ordner/zeiimp.txt");
    const ProcessResult r = Run(std::string(kComes), output);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, "File: '" + output + "' kann nicht angelegt werden\n ");
}

TEST_F(ConverterRun, WriteErrorStopsTheRunWithStatus255) {
    const std::string upload = std::string(kComes) + std::string(kCanteen);
    // With a writable file both bookings go through: a line and a canteen row.
    ProcessResult r = Run(upload, output_);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    ASSERT_EQ(testsupport::ReadFileBytes(output_).size(), 83u) << r.out;  // 81 + CR LF
    ASSERT_EQ(server_->Query("SELECT COUNT(*) FROM WERK1.Zkv321Kan"),
              std::vector<std::string>{"1"});
    server_->Query("DELETE FROM WERK1.Zkv321Kan");

    // On a full disk the first line cannot be stored: the run stops there, so the canteen
    // booking behind it is not inserted, and it does not claim to have finished.
    r = Run(upload, "/dev/full");
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_TRUE(r.out.starts_with(StartMessage("/dev/full"))) << r.out;
    EXPECT_TRUE(r.out.ends_with("File: '/dev/full' kann nicht geschrieben werden\n ")) << r.out;
    EXPECT_EQ(r.out.find("...fertig."), std::string::npos) << r.out;
    EXPECT_EQ(server_->Query("SELECT COUNT(*) FROM WERK1.Zkv321Kan"),
              std::vector<std::string>{"0"});
}

}  // namespace
