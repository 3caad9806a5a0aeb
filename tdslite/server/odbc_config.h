// A private unixODBC configuration for a running tdslite: the FreeTDS driver, one DSN for the
// server, and a FreeTDS configuration of its own.  Programs select it with
//   ODBCSYSINI=DIR ODBCINI=DIR/odbc.ini FREETDSCONF=DIR/freetds.conf
// so nothing system-wide is read or written.
#pragma once

#include <string>

namespace tdslite {

struct OdbcConfig {
    std::string dsn = "TDSLITE";  // at most 23 characters
    std::string server = "127.0.0.1";
    int port = 0;
    std::string driver;  // FreeTDS's ODBC driver; "" looks it up (FindFreeTdsDriver)
};

/// Path of FreeTDS's ODBC driver (libtdsodbc.so) in the usual library folders, or "" when it is
/// in none of them.
std::string FindFreeTdsDriver();

/// Writes odbcinst.ini, odbc.ini and freetds.conf into the folder `dir` (created when missing),
/// replacing what is there.  The DSN speaks TDS 7.4 with client character set CP1252, so that
/// single-byte texts travel as single bytes.  Returns false, with *error set, when the DSN is empty
/// or longer than 23 characters, the driver cannot be found, or the folder or a file cannot be
/// written.
bool WriteOdbcConfig(const std::string& dir, const OdbcConfig& config, std::string* error);

}  // namespace tdslite
