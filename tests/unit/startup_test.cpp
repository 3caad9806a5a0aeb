// Start-up without a reachable data source: what it reads, what it refuses before connecting, and
// what it says when the connection fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "config/config.h"
#include "run/run.h"

namespace snp {
namespace {

const std::string kConnectFailed = "- Verbindung zur Datenbank fehlgeschlagen, Fehler : -1\n";

class StartUp : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string dir = (std::filesystem::temp_directory_path() / "snp-startup-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        config_ = dir_ + "/snp.ini";
        // No data source is configured, so every connection attempt fails.
        ::setenv("ODBCSYSINI", dir_.c_str(), 1);
        ::setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
        run_.console = std::tmpfile();
    }
    void TearDown() override {
        std::fclose(run_.console);
        std::remove(config_.c_str());
        ::rmdir(dir_.c_str());
    }

    void WriteConfig(std::string_view database, std::string_view schema, std::string_view login,
                     std::string_view password) {
        std::string text;
        int number = 1;
        for (const auto& [key, value] : {std::pair{"DATABASE", database},
                                         {"SCHEMA", schema},
                                         {"LOGIN", login},
                                         {"PASS", password}}) {
            text += ";" + std::string(key) + ";\n" + std::to_string(number++) + ";" + key + ";" +
                    EncryptConfigValue(value, kConfigKey) + "\n";
        }
        std::FILE* f = std::fopen(config_.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string Console() {
        std::fflush(run_.console);
        std::rewind(run_.console);
        std::string out;
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, run_.console)) > 0) out.append(buffer, n);
        return out;
    }

    std::string dir_;
    std::string config_;
    RunContext run_;
};

TEST_F(StartUp, StartingSchemaIsTheValueLessItsLastCharacterInUpperCase) {
    const struct {
        std::string_view value, schema;
    } cases[] = {
        {"abcde", "ABCD"},
        {"a", ""},
        {"", ""},
        {"m\xFC"
         "nz_1x",
         "M\xFC"
         "NZ_1"},
        {std::string_view("0123456789012345678901234567890123", 32),
         "0123456789012345678901234567890"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        WriteConfig("NOSUCHDSN", c.value, "zeit", "geheim");
        RunContext run;
        run.console = run_.console;
        EXPECT_FALSE(PrepareRun(run, config_.c_str(), "TERM01"));
        EXPECT_EQ(run.settings.Schema.view(), c.schema);
        EXPECT_EQ(run.db.current_schema.view(), c.schema);
        EXPECT_EQ(run.settings.Database.view(), "NOSUCHDSN");
        EXPECT_EQ(run.settings.Login.view(), "zeit");
        EXPECT_EQ(run.settings.Password.view(), "geheim");
    }
}

TEST_F(StartUp, MissingConfigurationFileFailsAtTheConnection) {
    EXPECT_FALSE(PrepareRun(run_, "/nonexistent/snp.ini", "TERM01"));
    EXPECT_EQ(Console(), kConnectFailed);
    EXPECT_TRUE(run_.settings.Database.empty());
}

TEST_F(StartUp, ValuesAtTheirLimitsReachTheConnection) {
    WriteConfig(std::string(23, 'D'), std::string(32, 's'), std::string(23, 'L'),
                std::string(23, 'P'));
    EXPECT_FALSE(PrepareRun(run_, config_.c_str(), "0123456789"));
    EXPECT_EQ(Console(), kConnectFailed);
    EXPECT_NE(run_.db.env, nullptr);  // the connection was attempted
    EXPECT_EQ(run_.db.diag.state.view(), "IM002");
}

TEST_F(StartUp, ValuesThatDoNotFitAreRefusedBeforeConnecting) {
    const std::string ok = "ok";
    const struct {
        const char* name;
        std::string database, schema, login, password, terminal;
        std::string message;
    } cases[] = {
        {"database", std::string(24, 'D'), ok, ok, ok, "T",
         "- Wert von DATABASE in der Konfigurationsdatei '%s' ist zu lang (h\xF6"
         "chstens 23 Zeichen)\n"},
        {"schema", ok, std::string(33, 's'), ok, ok, "T",
         "- Wert von SCHEMA in der Konfigurationsdatei '%s' ist zu lang (h\xF6"
         "chstens 32 Zeichen)\n"},
        {"login", ok, ok, std::string(24, 'L'), ok, "T",
         "- Wert von LOGIN in der Konfigurationsdatei '%s' ist zu lang (h\xF6"
         "chstens 23 Zeichen)\n"},
        {"password", ok, ok, ok, "geheim-geheim-geheim-geheim", "T",
         "- Wert von PASS in der Konfigurationsdatei '%s' ist zu lang (h\xF6"
         "chstens 23 Zeichen)\n"},
        {"value_over_49", std::string(60, 'D'), ok, ok, ok, "T",
         "- Wert von DATABASE in der Konfigurationsdatei '%s' ist zu lang (h\xF6"
         "chstens 23 Zeichen)\n"},
        {"terminal_name", ok, ok, ok, ok, "TERMINAL-11",
         "- Terminalname 'TERMINAL-11' ist zu lang (h\xF6"
         "chstens 10 Zeichen)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteConfig(c.database, c.schema, c.login, c.password);
        RunContext run;
        run.console = std::tmpfile();
        EXPECT_FALSE(PrepareRun(run, config_.c_str(), c.terminal.c_str()));
        EXPECT_EQ(run.db.env, nullptr);  // no connection attempted
        std::rewind(run.console);
        char buffer[512] = {};
        const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, run.console);
        std::fclose(run.console);
        std::string expected = c.message;
        if (const auto at = expected.find("%s"); at != std::string::npos) {
            expected.replace(at, 2, config_);
        }
        EXPECT_EQ(std::string(buffer, n), expected);
        EXPECT_EQ(std::string(buffer, n).find("geheim"), std::string::npos);
        EXPECT_TRUE(run.config.value.empty());  // no copy of a refused password is kept
    }
}

}  // namespace
}  // namespace snp
