// Start-up of a run: the four connection values, the starting schema, the connection and the
// terminal name.
#include <cstdio>
#include <string_view>

#include "config/config.h"
#include "db/database.h"
#include "run/run.h"
#include "text/text.h"

namespace snp {

namespace {

// What the connection takes: 23 characters for each of DSN, login and password.  The schema
// value loses its last character before it becomes the starting schema of at most 31.
constexpr std::size_t kConnectLimit = 23;
constexpr std::size_t kSchemaLimit = 31;
constexpr std::size_t kTerminalLimit = 10;

// Looks `key` up and stores it in `field`.  A value that does not fit where it goes is refused
// with a message naming the setting (never its content).
bool LookUp(RunContext& run, const char* config_path, const char* key, std::size_t limit,
            Field<50>& field) {
    ReadConfigValue(run.config, "", key, 0, config_path);
    const std::string_view value = run.config.value.view();
    const bool fits = value.size() <= limit;
    if (fits) field.assign(value);
    // The value is held where it goes; the lookup's storage keeps no copy (of the password).
    run.config.value.clear();
    if (!fits) {
        std::fprintf(run.console,
                     "- Wert von %s in der Konfigurationsdatei '%s' ist zu lang "
                     "(h\xF6"
                     "chstens %zu Zeichen)\n",
                     key, config_path, limit);
        return false;
    }
    return true;
}

}  // namespace

bool PrepareRun(RunContext& run, const char* config_path, const char* terminal_name) {
    ConnectionSettings& settings = run.settings;
    settings = ConnectionSettings{};

    if (!LookUp(run, config_path, "DATABASE", kConnectLimit, settings.Database)) return false;
    // The schema is stored less its last character: the value holds one character more.
    Field<50> schema_value;
    if (!LookUp(run, config_path, "SCHEMA", kSchemaLimit + 1, schema_value)) return false;
    const std::string_view schema = schema_value.view();
    settings.Schema.assign(schema.substr(0, schema.empty() ? 0 : schema.size() - 1));
    if (!LookUp(run, config_path, "LOGIN", kConnectLimit, settings.Login)) return false;
    if (!LookUp(run, config_path, "PASS", kConnectLimit, settings.Password)) return false;

    UpperCase(settings.Schema);
    run.db.current_schema.assign(settings.Schema.view());  // no statement, no SelectSchema

    if (std::string_view(terminal_name).size() > kTerminalLimit) {
        std::fprintf(run.console,
                     "- Terminalname '%s' ist zu lang (h\xF6"
                     "chstens %zu Zeichen)\n",
                     terminal_name, kTerminalLimit);
        return false;
    }

    const int rc = ConnectDatabase(run.db, settings.Login.view(), settings.Password.view(),
                                   settings.Database.view());
    if (rc != 0) {
        std::fprintf(run.console, "- Verbindung zur Datenbank fehlgeschlagen, Fehler : %d\n", rc);
        return false;
    }

    run.TerminalName.clear();
    run.TerminalName.assign(terminal_name);
    return true;
}

}  // namespace snp
