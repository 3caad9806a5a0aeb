// T-SQL scripts run before tdslite listens: batches separated by lines that hold only GO.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace tdslite {

struct ScriptBatch {
    std::string text;
    int first_line = 1;  // line of the script the batch starts on
};

/// Splits a script at lines holding only GO (any case, blanks, tabs and a carriage return
/// around it allowed).  Batches holding only white space are left out.
std::vector<ScriptBatch> SplitScript(std::string_view script);

/// Runs the script at `path` batch by batch.  Returns true when every statement ran; false at the
/// first failing batch, with *error holding one line per error message of that batch:
///   "<path>, line <n>: Msg <number>, Level <severity>, State <state>: <text>"
/// where n is the line of the script (not of the batch).  Also false when the file cannot be read.
bool RunInitScript(Engine& engine, const std::string& path, std::string* error);

}  // namespace tdslite
