// Splits a batch into tokens: identifiers (plain, [bracketed] or "quoted"), string literals with
// doubled quotes, integer literals, operators; comments and white space are dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace tdslite::detail {

enum class TokenKind : std::uint8_t {
    Identifier,        // plain word; keyword set when it is a reserved word
    QuotedIdentifier,  // [..] or ".."; never a keyword
    String,            // '...' or N'...', value decoded
    Number,            // digits only
    Decimal,           // digits with a point (not evaluated, reported as unsupported)
    Operator,          // = <> != < <= > >= !< !> + - * / % ( ) , . ;
    Invalid,           // a byte that starts no token
    End,
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string value;  // identifier/string content, number digits, operator text
    std::string upper;  // upper-cased word of a plain identifier (keyword comparison)
    bool keyword = false;
    std::int32_t line = 1;
};

/// Tokenizes a batch.  On a lexical error (unclosed quote or comment, identifier too long) the
/// messages describe it and the token list is to be ignored.
bool Tokenize(std::string_view batch, std::vector<Token>& tokens, std::vector<Message>& errors);

/// True for the reserved words of the dialect.
bool IsReservedWord(std::string_view upper);

}  // namespace tdslite::detail
