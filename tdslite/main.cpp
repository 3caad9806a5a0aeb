// tdslite: a small SQL Server stand-in for tests, benchmarks and demonstrations.
#include <cstdio>
#include <string>

#include "server/options.h"
#include "server/server.h"

int main(int argc, char** argv) {
    tdslite::ServerOptions options;
    std::string error;
    const int parsed = tdslite::ParseOptions(argc, argv, options, &error);
    if (parsed == 1) {
        std::fputs(tdslite::UsageText(), stdout);
        return 0;
    }
    if (parsed < 0) {
        std::fprintf(stderr, "tdslite: %s\n%s", error.c_str(), tdslite::UsageText());
        return 2;
    }
    return tdslite::RunServer(options, stdout, stderr);
}
