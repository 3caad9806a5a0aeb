// The configuration tool as the operator uses it: write a file, check it, and let the converter
// connect with it.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
using testsupport::ProcessResult;
using testsupport::RunProgram;
using testsupport::TdsliteServer;
using testsupport::TempDir;

ProcessResult Tool(const std::vector<std::string>& arguments, std::string_view input = {}) {
    std::vector<std::string> argv = {BuildPath("snp72k2zeiimp-config")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(argv, {}, input);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

class ConfigTool : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = TdsliteServer::Start(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { ASSERT_TRUE(server_) << "tdslite did not start"; }

    static inline std::unique_ptr<TdsliteServer> server_;
    TempDir dir_;
};

TEST_F(ConfigTool, WriteThenCheckThenConnect) {
    const std::string config = dir_.File("zeit.ini");
    const std::string password = server_->options().password;
    ProcessResult r = Tool({"write", "--database", server_->dsn(), "--schema", "werk1", "--login",
                            server_->options().user, config},
                           password + "\n");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "Konfigurationsdatei '" + config + "' geschrieben.\n");

    struct stat st;
    ASSERT_EQ(::stat(config.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The 8 lines of the usual layout, each value in upper-case hexadecimal.
    const std::string bytes = testsupport::ReadFileBytes(config);
    EXPECT_TRUE(bytes.starts_with(";DATABASE;\n1;DATABASE;")) << bytes;
    EXPECT_NE(
        bytes.find("\n;PASS;\n4;PASS;" + snp::EncryptConfigValue(password, snp::kConfigKey) + "\n"),
        std::string::npos)
        << bytes;
    EXPECT_EQ(bytes.find(password), std::string::npos);

    r = Tool({"check", config});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out, "Konfigurationsdatei '" + config +
                         "'\n"
                         "  DATABASE     " +
                         server_->dsn() +
                         "\n"
                         "  Startschema  WERK1\n"
                         "  LOGIN        " +
                         server_->options().user +
                         "\n"
                         "  PASS         ********\n"
                         "Keine Probleme gefunden.\n");

    const std::string input = dir_.File("upload.snp");
    const std::string output = dir_.File("zeiimp.txt");
    testsupport::WriteFileBytes(input, "");
    r = RunProgram({BuildPath("snp72k2zeiimp"), config, "TERM01", input, output},
                   server_->OdbcEnvironment());
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out,
              "Uebernahme Snp72k (" + input + ") nach ZeiImp (" + output + ")...\n...fertig.");
}

TEST_F(ConfigTool, PasswordFromAFileAndReplacingAnExistingFile) {
    const std::string config = dir_.File("zeit.ini");
    testsupport::WriteFileBytes(config, "alt\n");
    ::chmod(config.c_str(), 0644);
    const std::string password_file = dir_.File("pw");
    testsupport::WriteFileBytes(password_file, server_->options().password + "\r\nzweite Zeile\n");
    ProcessResult r =
        Tool({"write", "--database=" + server_->dsn(), "--schema=WERK1",
              "--login=" + server_->options().user, "--password-file", password_file, config});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(::stat(config.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    snp::ConfigLookup lookup;
    snp::ReadConfigValue(lookup, "", "PASS", 0, config.c_str());
    EXPECT_EQ(lookup.value.view(), server_->options().password);
    snp::ReadConfigValue(lookup, "", "SCHEMA", 0, config.c_str());
    EXPECT_EQ(lookup.value.view(), "WERK1 ");  // start-up drops the last character
}

TEST_F(ConfigTool, WriteRefusesWhatTheConverterCannotHold) {
    const std::string config = dir_.File("zeit.ini");
    const struct {
        const char* name;
        std::string database, schema, login, password;
        std::string_view message;
    } cases[] = {
        {"database", std::string(24, 'D'), "S", "L", "P", "DATABASE ist zu lang: 24 Zeichen"},
        {"schema", "D", std::string(32, 'S'), "L", "P", "SCHEMA ist zu lang: 32 Zeichen"},
        {"login", "D", "S", std::string(24, 'L'), "P", "LOGIN ist zu lang: 24 Zeichen"},
        {"password", "D", "S", "L", "geheim-geheim-geheim-geh", "PASS ist zu lang: 24 Zeichen"},
        {"empty_database", "", "S", "L", "P", "DATABASE ist leer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult r = Tool(
            {"write", "--database", c.database, "--schema", c.schema, "--login", c.login, config},
            c.password + "\n");
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("geheim"), std::string::npos);
        EXPECT_FALSE(Exists(config));
    }
}

TEST_F(ConfigTool, CheckWarnsAboutWhatWouldGoWrong) {
    const std::string good = ConfigEntry(1, "DATABASE", "DSN") +
                             ConfigEntry(2, "SCHEMA", "WERK1.") + ConfigEntry(3, "LOGIN", "zeit") +
                             ConfigEntry(4, "PASS", "geheim");
    std::string lower = good;
    const std::size_t at = lower.rfind(";PASS;") + 6;
    for (std::size_t i = at; i < lower.size(); ++i) {
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
    }
    const struct {
        const char* name;
        std::string file;
        std::string_view warning;
    } cases[] = {
        {"missing_entry", ConfigEntry(1, "DATABASE", "DSN") + ConfigEntry(3, "LOGIN", "zeit"),
         "Warnung: kein Eintrag f\xFC"
         "r PASS; der Konverter liest einen leeren Wert."},
        {"number_0_shadows", ConfigEntry(0, "X", "x") + good,
         "Warnung: LOGIN wird aus dem Eintrag in Zeile 1 gelesen (seine Nummer ist 0), der den "
         "Eintrag f\xFC"
         "r LOGIN in Zeile 7 verdeckt."},
        {"empty_section_shadows", "\n" + good,
         // The blank line pairs with ";DATABASE;", and the entries after it shift by a line.
         "Warnung: SCHEMA wird aus dem Eintrag in Zeile 1 gelesen (seine erste Zeile hat "
         "weniger als zwei Trennzeichen), der den Eintrag f\xFC"
         "r SCHEMA in Zeile 3 verdeckt."},
        {"lower_case_digits", lower,
         "Warnung: der Wert f\xFC"
         "r PASS (Zeile 8) enth\xE4"
         "lt Zeichen, die keine Hexadezimalziffern in Gro\xDF"
         "schreibung sind."},
        {"incomplete_group", good.substr(0, good.size() - 3) + "\n",
         "Warnung: der Wert f\xFC"
         "r PASS (Zeile 8) besteht nicht aus ganzen Gruppen von 16 Ziffern"},
        {"too_long", ConfigEntry(1, "DATABASE", std::string(30, 'D')) + good,
         "Warnung: der Wert f\xFC"
         "r DATABASE hat 30 Zeichen, der Konverter nimmt h\xF6"
         "chstens 23 und startet nicht."},
        {"schema_too_long", ConfigEntry(2, "SCHEMA", std::string(33, 's')) + good,
         "Warnung: der Wert f\xFC"
         "r SCHEMA hat 33 Zeichen, der Konverter nimmt h\xF6"
         "chstens 32 und startet nicht."},
    };
    const std::string config = dir_.File("check.ini");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::WriteFileBytes(config, c.file);
        const ProcessResult r = Tool({"check", config});
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_NE(r.out.find(c.warning), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("geheim"), std::string::npos);
    }
}

TEST_F(ConfigTool, EncryptAndHelp) {
    ProcessResult r = Tool({"encrypt", "zeit"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, snp::EncryptConfigValue("zeit", snp::kConfigKey) + "\n");

    for (const std::vector<std::string>& help : {std::vector<std::string>{"--help"},
                                                 {"write", "--help"},
                                                 {"check", "--help"},
                                                 {"encrypt", "--help"}}) {
        SCOPED_TRACE(help.front() + (help.size() > 1 ? " " + help[1] : ""));
        r = Tool(help);
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_TRUE(r.out.starts_with("Aufruf: ") || r.out.starts_with("snp72k2zeiimp-config"))
            << r.out;
    }
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                  {"frobnicate"},
                                                  {"encrypt"},
                                                  {"check"},
                                                  {"write", "--database", "D", "x.ini"}}) {
        r = Tool(wrong);
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err, "");
    }
}

}  // namespace
