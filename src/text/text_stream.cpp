// Text-mode reading of byte streams.
#include "text/text_stream.h"

#include <cstddef>
#include <cstdio>
#include <span>

namespace snp {

int ReadTextModeChar(std::FILE* file, bool& ended) {
    if (ended) return EOF;
    const int c = std::getc(file);
    if (c == kEndOfTextInput) {
        ended = true;
        return EOF;
    }
    if (c != '\r') return c;
    const int next = std::getc(file);
    if (next == '\n') return '\n';
    // A lone CR stays; whatever followed it (a 0x1A included) is read next.
    if (next != EOF) std::ungetc(next, file);
    return '\r';
}

bool ReadTextModeLine(std::FILE* file, bool& ended, std::span<char> buffer) {
    if (buffer.empty()) return false;
    std::size_t n = 0;
    while (n + 1 < buffer.size()) {
        const int c = ReadTextModeChar(file, ended);
        if (c == EOF) break;
        buffer[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    if (n == 0 && buffer.size() > 1) return false;
    buffer[n] = '\0';
    return true;
}

}  // namespace snp
