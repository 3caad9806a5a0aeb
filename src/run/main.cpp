// The converter's program entry.
#include <clocale>

#include "run/run.h"

int main(int argc, char** argv) {
    // The character set of the texts exchanged with the driver follows the operator's locale:
    // ODBC drivers that take their client character set from the process locale at connect time
    // see the environment's LC_CTYPE (a Latin-1 locale keeps umlauts single bytes).  Only the
    // character class changes; the converter's own text handling is locale-free.
    std::setlocale(LC_CTYPE, "");
    // The one context of the run, in static storage: the ODBC environment and connection are
    // never freed (the connection ends with the process), and here they stay reachable to the end.
    static snp::RunContext run;
    // The failure code -1 leaves the process as status 255.
    return snp::RunConverter(run, argc, argv);
}
