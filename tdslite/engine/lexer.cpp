#include "engine/lexer.h"

#include <algorithm>
#include <array>

#include "engine/messages.h"
#include "engine/text_rules.h"

namespace tdslite::detail {
namespace {

// Reserved words of the dialect, sorted for binary search.
constexpr std::array<std::string_view, 185> kReserved = {
    "ADD",
    "ALL",
    "ALTER",
    "AND",
    "ANY",
    "AS",
    "ASC",
    "AUTHORIZATION",
    "BACKUP",
    "BEGIN",
    "BETWEEN",
    "BREAK",
    "BROWSE",
    "BULK",
    "BY",
    "CASCADE",
    "CASE",
    "CHECK",
    "CHECKPOINT",
    "CLOSE",
    "CLUSTERED",
    "COALESCE",
    "COLLATE",
    "COLUMN",
    "COMMIT",
    "COMPUTE",
    "CONSTRAINT",
    "CONTAINS",
    "CONTAINSTABLE",
    "CONTINUE",
    "CONVERT",
    "CREATE",
    "CROSS",
    "CURRENT",
    "CURRENT_DATE",
    "CURRENT_TIME",
    "CURRENT_TIMESTAMP",
    "CURRENT_USER",
    "CURSOR",
    "DATABASE",
    "DBCC",
    "DEALLOCATE",
    "DECLARE",
    "DEFAULT",
    "DELETE",
    "DENY",
    "DESC",
    "DISK",
    "DISTINCT",
    "DISTRIBUTED",
    "DOUBLE",
    "DROP",
    "DUMP",
    "ELSE",
    "END",
    "ERRLVL",
    "ESCAPE",
    "EXCEPT",
    "EXEC",
    "EXECUTE",
    "EXISTS",
    "EXIT",
    "EXTERNAL",
    "FETCH",
    "FILE",
    "FILLFACTOR",
    "FOR",
    "FOREIGN",
    "FREETEXT",
    "FREETEXTTABLE",
    "FROM",
    "FULL",
    "FUNCTION",
    "GOTO",
    "GRANT",
    "GROUP",
    "HAVING",
    "HOLDLOCK",
    "IDENTITY",
    "IDENTITYCOL",
    "IDENTITY_INSERT",
    "IF",
    "IN",
    "INDEX",
    "INNER",
    "INSERT",
    "INTERSECT",
    "INTO",
    "IS",
    "JOIN",
    "KEY",
    "KILL",
    "LEFT",
    "LIKE",
    "LINENO",
    "LOAD",
    "MERGE",
    "NATIONAL",
    "NOCHECK",
    "NONCLUSTERED",
    "NOT",
    "NULL",
    "NULLIF",
    "OF",
    "OFF",
    "OFFSETS",
    "ON",
    "OPEN",
    "OPENDATASOURCE",
    "OPENQUERY",
    "OPENROWSET",
    "OPENXML",
    "OPTION",
    "OR",
    "ORDER",
    "OUTER",
    "OVER",
    "PERCENT",
    "PIVOT",
    "PLAN",
    "PRECISION",
    "PRIMARY",
    "PRINT",
    "PROC",
    "PROCEDURE",
    "PUBLIC",
    "RAISERROR",
    "READ",
    "READTEXT",
    "RECONFIGURE",
    "REFERENCES",
    "REPLICATION",
    "RESTORE",
    "RESTRICT",
    "RETURN",
    "REVERT",
    "REVOKE",
    "RIGHT",
    "ROLLBACK",
    "ROWCOUNT",
    "ROWGUIDCOL",
    "RULE",
    "SAVE",
    "SCHEMA",
    "SECURITYAUDIT",
    "SELECT",
    "SEMANTICKEYPHRASETABLE",
    "SEMANTICSIMILARITYDETAILSTABLE",
    "SEMANTICSIMILARITYTABLE",
    "SESSION_USER",
    "SET",
    "SETUSER",
    "SHUTDOWN",
    "SOME",
    "STATISTICS",
    "SYSTEM_USER",
    "TABLE",
    "TABLESAMPLE",
    "TEXTSIZE",
    "THEN",
    "TO",
    "TOP",
    "TRAN",
    "TRANSACTION",
    "TRIGGER",
    "TRUNCATE",
    "TRY_CONVERT",
    "TSEQUAL",
    "UNION",
    "UNIQUE",
    "UNPIVOT",
    "UPDATE",
    "UPDATETEXT",
    "USE",
    "USER",
    "VALUES",
    "VARYING",
    "VIEW",
    "WAITFOR",
    "WHEN",
    "WHERE",
    "WHILE",
    "WITH",
    "WITHIN",
    "WRITETEXT",
};

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool IsReservedWord(std::string_view upper) {
    return std::binary_search(kReserved.begin(), kReserved.end(), upper);
}

bool Tokenize(std::string_view s, std::vector<Token>& tokens, std::vector<Message>& errors) {
    tokens.clear();
    std::int32_t line = 1;
    std::size_t i = 0;
    auto fail = [&errors, &line](Message m) {
        m.line = line;
        errors.push_back(std::move(m));
        return false;
    };
    auto too_long = [&](const std::string& value) {
        return value.size() > 128 ? fail(msg::IdentifierTooLong(value)) : true;
    };
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\n') {
            ++line;
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            while (i < s.size() && s[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            int depth = 0;
            while (i < s.size()) {
                if (s[i] == '/' && i + 1 < s.size() && s[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (s[i] == '*' && i + 1 < s.size() && s[i + 1] == '/') {
                    --depth;
                    i += 2;
                    if (depth == 0) break;
                } else {
                    if (s[i] == '\n') ++line;
                    ++i;
                }
            }
            if (depth != 0) return fail(msg::MissingEndComment());
            continue;
        }
        Token t;
        t.line = line;
        const bool national = (c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'';
        if (c == '\'' || national) {
            std::size_t j = i + (national ? 2 : 1);
            const std::size_t content = j;
            const std::int32_t start_line = line;
            bool closed = false;
            while (j < s.size()) {
                if (s[j] == '\'') {
                    if (j + 1 < s.size() && s[j + 1] == '\'') {
                        t.value.push_back('\'');
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                if (s[j] == '\n') ++line;
                t.value.push_back(s[j]);
                ++j;
            }
            if (!closed) {
                const std::string rest(s.substr(content));
                line = start_line;
                fail(msg::UnclosedQuote(rest));
                return fail(msg::SyntaxNear(rest));
            }
            t.kind = TokenKind::String;
            i = j;
        } else if (c == '[' || c == '"') {
            const char close = c == '[' ? ']' : '"';
            std::size_t j = i + 1;
            const std::size_t content = j;
            bool closed = false;
            while (j < s.size()) {
                if (s[j] == close) {
                    if (j + 1 < s.size() && s[j + 1] == close) {
                        t.value.push_back(close);
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                if (s[j] == '\n') ++line;
                t.value.push_back(s[j]);
                ++j;
            }
            if (!closed) {
                line = t.line;
                return fail(msg::UnclosedQuote(s.substr(content)));
            }
            if (!too_long(t.value)) return false;
            t.kind = TokenKind::QuotedIdentifier;
            i = j;
        } else if (IsIdentifierStart(static_cast<unsigned char>(c))) {
            std::size_t j = i;
            while (j < s.size() && IsIdentifierPart(static_cast<unsigned char>(s[j]))) ++j;
            t.value = std::string(s.substr(i, j - i));
            if (!too_long(t.value)) return false;
            t.kind = TokenKind::Identifier;
            t.upper = Upper(t.value);
            t.keyword = IsReservedWord(t.upper);
            i = j;
        } else if (IsDigit(c)) {
            std::size_t j = i;
            while (j < s.size() && IsDigit(s[j])) ++j;
            t.kind = TokenKind::Number;
            if (j < s.size() && s[j] == '.') {
                ++j;
                while (j < s.size() && IsDigit(s[j])) ++j;
                t.kind = TokenKind::Decimal;
            }
            t.value = std::string(s.substr(i, j - i));
            i = j;
        } else {
            t.kind = TokenKind::Operator;
            const char n = i + 1 < s.size() ? s[i + 1] : '\0';
            std::size_t len = 1;
            if ((c == '<' && (n == '=' || n == '>')) || (c == '>' && n == '=') ||
                (c == '!' && (n == '=' || n == '<' || n == '>'))) {
                len = 2;
            }
            switch (c) {
                case '=':
                case '<':
                case '>':
                case '+':
                case '-':
                case '*':
                case '/':
                case '%':
                case '(':
                case ')':
                case ',':
                case '.':
                case ';':
                    break;
                case '!':
                    if (len == 1) t.kind = TokenKind::Invalid;
                    break;
                default:
                    t.kind = TokenKind::Invalid;
                    break;
            }
            t.value = std::string(s.substr(i, len));
            i += len;
        }
        tokens.push_back(std::move(t));
    }
    Token end;
    end.kind = TokenKind::End;
    end.line = line;
    tokens.push_back(std::move(end));
    return true;
}

}  // namespace tdslite::detail
