// Start-up of the real converter against tdslite: the configured values reach the connection
// whole and in the right roles, and a refused login ends the run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <string_view>

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

// Login and password of the full 23 characters the connection takes.
const std::string kUser = "zeit_0123456789abcdefgh";
const std::string kPassword = "Geheim;0123456789'ABCD!";

class StartUpAgainstServer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testsupport::TdsliteOptions options;
        options.user = kUser;
        options.password = kPassword;
        server_ = TdsliteServer::Start(options);
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server_) << "tdslite did not start";
        ASSERT_EQ(kUser.size(), 23u);
        ASSERT_EQ(kPassword.size(), 23u);
        testsupport::WriteFileBytes(dir_.File("upload.snp"), "");
    }

    ProcessResult Run(const std::string& config_bytes) {
        testsupport::WriteFileBytes(dir_.File("zeit.ini"), config_bytes);
        return RunProgram({BuildPath("snp72k2zeiimp"), dir_.File("zeit.ini"), "0123456789",
                           dir_.File("upload.snp"), dir_.File("zeiimp.txt")},
                          server_->OdbcEnvironment());
    }
    std::string Finished() const {
        return "Uebernahme Snp72k (" + dir_.File("upload.snp") + ") nach ZeiImp (" +
               dir_.File("zeiimp.txt") + ")...\n...fertig.";
    }

    static inline std::unique_ptr<TdsliteServer> server_;
    TempDir dir_;
};

TEST_F(StartUpAgainstServer, ConnectsWithTheConfiguredValues) {
    const std::string config = ConfigEntry(1, "DATABASE", server_->dsn()) +
                               ConfigEntry(2, "SCHEMA", "werk1x") + ConfigEntry(3, "LOGIN", kUser) +
                               ConfigEntry(4, "PASS", kPassword);
    ProcessResult r = Run(config);
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out, Finished());

    // The same file with CR LF line ends and entries in another order.
    std::string crlf;
    const std::string reordered = ConfigEntry(4, "PASS", kPassword) +
                                  ConfigEntry(3, "LOGIN", kUser) +
                                  ConfigEntry(1, "DATABASE", server_->dsn());
    for (const char c : reordered) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    r = Run(crlf);
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out, Finished());
}

TEST_F(StartUpAgainstServer, RefusedLoginEndsTheRun) {
    const struct {
        const char* name;
        std::string login, password;
    } cases[] = {
        {"wrong_password", kUser, "falsch"},
        {"login_and_password_exchanged", kPassword, kUser},
        {"password_cut_by_one", kUser, kPassword.substr(0, 22)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir_.File("zeiimp.txt").c_str());
        const ProcessResult r =
            Run(ConfigEntry(1, "DATABASE", server_->dsn()) + ConfigEntry(3, "LOGIN", c.login) +
                ConfigEntry(4, "PASS", c.password));
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, "- Verbindung zur Datenbank fehlgeschlagen, Fehler : -1\n");
        EXPECT_EQ(r.err, "");
        struct stat st;
        EXPECT_NE(::stat(dir_.File("zeiimp.txt").c_str(), &st), 0);
    }
}

}  // namespace
