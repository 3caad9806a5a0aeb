// The converter's program entry.
#include "run/run.h"

int main(int argc, char** argv) {
    // The one context of the run, in static storage: the ODBC environment and connection are
    // never freed (the connection ends with the process), and here they stay reachable to the end.
    static snp::RunContext run;
    // The failure code -1 leaves the process as status 255.
    return snp::RunConverter(run, argc, argv);
}
