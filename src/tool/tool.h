// snp72k2zeiimp-config: writes, checks and encrypts the values of the converter's configuration
// file.  Messages are German, in the converter's single-byte code page.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace snptool {

/// Exit codes of the tool.
inline constexpr int kToolOk = 0;
inline constexpr int kToolProblem = 1;  // check found problems; write could not write the file
inline constexpr int kToolUsage = 2;    // wrong command line

/// What the converter's start-up can hold: DSN, login and password travel to the connection in
/// fields of 23 characters, the starting schema holds 31 (the file's value one more, because
/// start-up drops its last character), the terminal name 10.
inline constexpr std::size_t kConnectLimit = 23;
inline constexpr std::size_t kSchemaLimit = 31;

/// The four settings in the order start-up reads them.
inline constexpr const char* kKeys[] = {"DATABASE", "SCHEMA", "LOGIN", "PASS"};

int RunWrite(int argc, char** argv);  // argv[0] is "write"
int RunCheck(int argc, char** argv);  // argv[0] is "check"

void PrintWriteHelp(std::FILE* out);
void PrintCheckHelp(std::FILE* out);

/// A value shown on the console: printable bytes as they are, others as \xNN.
std::string Printable(std::string_view value);

}  // namespace snptool
