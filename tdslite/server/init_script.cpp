#include "server/init_script.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace tdslite {
namespace {

bool IsGoLine(std::string_view line) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && blank(line.back())) line.remove_suffix(1);
    return line.size() == 2 && std::toupper(static_cast<unsigned char>(line[0])) == 'G' &&
           std::toupper(static_cast<unsigned char>(line[1])) == 'O';
}

}  // namespace

std::vector<ScriptBatch> SplitScript(std::string_view script) {
    std::vector<ScriptBatch> batches;
    ScriptBatch current;
    int line_number = 1;
    auto finish = [&](int next_first_line) {
        if (current.text.find_first_not_of(" \t\r\n") != std::string::npos)
            batches.push_back(std::move(current));
        current = {};
        current.first_line = next_first_line;
    };
    while (!script.empty()) {
        const std::size_t end = script.find('\n');
        const std::string_view line = script.substr(0, end);
        if (IsGoLine(line)) {
            finish(line_number + 1);
        } else {
            current.text.append(line);
            current.text.push_back('\n');
        }
        if (end == std::string_view::npos) break;
        script.remove_prefix(end + 1);
        ++line_number;
    }
    finish(line_number);
    return batches;
}

bool RunInitScript(Engine& engine, const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read init script " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    for (const ScriptBatch& batch : SplitScript(text.str())) {
        std::string report;
        for (const StatementResult& result : engine.ExecuteBatch(batch.text)) {
            if (!result.failed) continue;
            for (const Message& m : result.messages) {
                if (m.severity < 11) continue;
                report += path + ", line " + std::to_string(batch.first_line + m.line - 1) +
                          ": Msg " + std::to_string(m.number) + ", Level " +
                          std::to_string(m.severity) + ", State " + std::to_string(m.state) + ": " +
                          m.text + "\n";
            }
            if (report.empty()) {
                report = path + ", line " + std::to_string(batch.first_line) +
                         ": the batch failed without a message\n";
            }
        }
        if (!report.empty()) {
            if (error) *error = report;
            return false;
        }
    }
    return true;
}

}  // namespace tdslite
