// Reading a file in text mode, as the converter has always read its input and configuration:
// a CR LF pair arrives as one LF, a lone CR unchanged, and a byte 0x1A ends the input as if the
// file ended there.  Linux streams do no such translation, so it is done here.
#pragma once

#include <cstdio>
#include <span>

namespace snp {

inline constexpr int kEndOfTextInput = 0x1A;

/// The next byte of `file` in text mode (0..255), or EOF at the end of the input or on a read
/// error.  `ended` is set once a 0x1A has been met; from then on every call answers EOF.
int ReadTextModeChar(std::FILE* file, bool& ended);

/// Reads a line as fgets does: up to and including the next LF, or until buffer.size() - 1
/// bytes are read, whichever comes first, and terminates it.  False, with the buffer unchanged,
/// when the input ended before a single byte was read.  An empty buffer reads nothing.
bool ReadTextModeLine(std::FILE* file, bool& ended, std::span<char> buffer);

}  // namespace snp
