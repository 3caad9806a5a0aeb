#include "engine/text_rules.h"

#include <algorithm>
#include <array>

namespace tdslite::detail {
namespace {

struct Tables {
    std::array<unsigned char, 256> upper{};
    std::array<unsigned char, 256> base{};  // upper case with the accent removed
    std::array<bool, 256> letter{};
};

constexpr Tables MakeTables() {
    Tables t{};
    for (int i = 0; i < 256; ++i) {
        t.upper[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
    }
    for (int c = 'a'; c <= 'z'; ++c)
        t.upper[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 32);
    for (int c = 0xE0; c <= 0xFE; ++c) {
        if (c != 0xF7) t.upper[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 32);
    }
    t.upper[0x9A] = 0x8A;  // s caron
    t.upper[0x9C] = 0x8C;  // oe
    t.upper[0x9E] = 0x8E;  // z caron
    t.upper[0xFF] = 0x9F;  // y diaeresis

    for (int i = 0; i < 256; ++i)
        t.base[static_cast<std::size_t>(i)] = t.upper[static_cast<std::size_t>(i)];
    auto set_range = [&t](int from, int to, unsigned char base) {
        for (int c = from; c <= to; ++c) {
            t.base[static_cast<std::size_t>(c)] = base;
            t.base[static_cast<std::size_t>(c + 32)] = base;
        }
    };
    set_range(0xC0, 0xC5, 'A');
    set_range(0xC7, 0xC7, 'C');
    set_range(0xC8, 0xCB, 'E');
    set_range(0xCC, 0xCF, 'I');
    set_range(0xD1, 0xD1, 'N');
    set_range(0xD2, 0xD6, 'O');
    set_range(0xD8, 0xD8, 'O');
    set_range(0xD9, 0xDC, 'U');
    set_range(0xDD, 0xDD, 'Y');
    t.base[0xFF] = 'Y';
    t.base[0x9F] = 'Y';
    t.base[0x8A] = 'S';
    t.base[0x9A] = 'S';
    t.base[0x8E] = 'Z';
    t.base[0x9E] = 'Z';

    for (int c = 'a'; c <= 'z'; ++c) t.letter[static_cast<std::size_t>(c)] = true;
    for (int c = 'A'; c <= 'Z'; ++c) t.letter[static_cast<std::size_t>(c)] = true;
    for (int c = 0xC0; c <= 0xFF; ++c) {
        if (c != 0xD7 && c != 0xF7) t.letter[static_cast<std::size_t>(c)] = true;
    }
    for (int c : {0x83, 0x8A, 0x8C, 0x8E, 0x9A, 0x9C, 0x9E, 0x9F, 0xAA, 0xB5, 0xBA}) {
        t.letter[static_cast<std::size_t>(c)] = true;
    }
    return t;
}

constexpr Tables kTables = MakeTables();

unsigned char At(std::string_view s, std::size_t i) {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : static_cast<unsigned char>(' ');
}

}  // namespace

unsigned char FoldCase(unsigned char c) {
    return kTables.upper[c];
}

int CompareText(std::string_view a, std::string_view b) {
    a = TrimTrailingBlanks(a);
    b = TrimTrailingBlanks(b);
    const std::size_t n = std::max(a.size(), b.size());
    int tie = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = At(a, i);
        const unsigned char cb = At(b, i);
        if (ca == cb) continue;
        const unsigned char ba = kTables.base[ca];
        const unsigned char bb = kTables.base[cb];
        if (ba != bb) return ba < bb ? -1 : 1;
        if (tie == 0) {
            const unsigned char ua = kTables.upper[ca];
            const unsigned char ub = kTables.upper[cb];
            if (ua != ub) tie = ua < ub ? -1 : 1;
        }
    }
    return tie;
}

std::string IdentifierKey(std::string_view name) {
    std::string key(name);
    for (char& c : key) c = static_cast<char>(kTables.upper[static_cast<unsigned char>(c)]);
    return key;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && text[n - 1] == ' ') --n;
    return text.substr(0, n);
}

bool IsIdentifierStart(unsigned char c) {
    return kTables.letter[c] || c == '_' || c == '@' || c == '#';
}

bool IsIdentifierPart(unsigned char c) {
    return IsIdentifierStart(c) || (c >= '0' && c <= '9') || c == '$';
}

}  // namespace tdslite::detail
