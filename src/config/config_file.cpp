// Reading the two-line entries of the configuration file.
//
// Line 1 is read with a size of 200 bytes, line 2 with 400, as fgets reads them: the rest of a
// longer line is read as the next line.  Fields are cut with FindNthChar and CopySubstring, with
// their edges (adjacent separators give the rest of the line; a missing separator leaves a field
// empty).  Where a field would not fit its 201 bytes, or the number text its 12, the field holds
// what fits; nothing is read or written outside a buffer.
#include "config/config_file.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "text/text.h"
#include "text/text_stream.h"

namespace snp {

namespace {

constexpr char kSeparator = ';';

// CopySubstring into a field, except that a run longer than the field holds is cut to what fits.
// Returns false when it was cut.
template <std::size_t N>
bool CopyField(std::string_view line, int start, int length, Field<N>& field) {
    if (length < 0) return true;  // the field keeps its (empty) content
    std::string_view run = start >= 0 && static_cast<std::size_t>(start) <= line.size()
                               ? line.substr(static_cast<std::size_t>(start))
                               : std::string_view();
    if (length > 0) run = run.substr(0, static_cast<std::size_t>(length));
    return field.assign(run);
}

}  // namespace

ConfigFileReader::ConfigFileReader(const char* path) : file_(std::fopen(path, "rb")) {}

bool ConfigFileReader::Next(ConfigEntry& entry) {
    if (!file_) return false;
    entry = ConfigEntry{};

    std::array<char, 200> line1{};
    std::array<char, 401> line2{};  // 399 characters, a line feed that may be appended, the NUL
    // The outcome of reading line 1 is not looked at: at the end of the file line 2 fails too.
    if (ReadTextModeLine(file_.get(), ended_, line1)) ++lines_read_;
    entry.first_line = lines_read_;
    if (!ReadTextModeLine(file_.get(), ended_, std::span<char>(line2).first(400))) return false;
    ++lines_read_;

    // Section field: between the first and the second separator of line 1.
    const std::string_view text1 = TextOf(line1);
    int p1 = FindNthChar(text1, kSeparator, 1);
    int p2 = FindNthChar(text1, kSeparator, 2);
    CopyField(text1, p1 + 1, p2 - p1 - 1, entry.section);

    std::string_view text2 = TextOf(line2);
    p1 = FindNthChar(text2, kSeparator, 1);
    p2 = FindNthChar(text2, kSeparator, 2);

    // Number: the text before the first separator, as atoi reads it.  The number text holds 11
    // characters, so only the first 11 of a longer field are read.  A line without a separator
    // (and one that begins with it) has the number 0.
    Field<12> number_text;
    if (p1 > 0) number_text.assign(text2.substr(0, static_cast<std::size_t>(p1)));
    // strtol on at most 11 characters cannot leave the range of long; the conversion to 32 bits
    // is the one atoi makes.
    entry.number = static_cast<std::int32_t>(std::strtol(number_text.data(), nullptr, 10));

    // A line 2 without a line feed (the last line of the file, or a line cut at 399 characters)
    // gets one.
    if (text2.find('\n') == std::string_view::npos) {
        line2[text2.size()] = '\n';
        line2[text2.size() + 1] = '\0';
        text2 = TextOf(line2);
    }

    entry.key_cut = !CopyField(text2, p1 + 1, p2 - p1 - 1, entry.key);

    // Value: after the second separator (or after the only one) up to the line feed; an empty
    // value is the line feed alone.  Without any separator the whole line is the value.
    if (p1 >= 0) {
        const int line_feed = FindNthChar(text2, '\n', 1);
        entry.value_cut = !CopyField(text2, p2 + 1, line_feed - p2 - 1, entry.value);
    } else {
        entry.value_cut = !entry.value.assign(text2);
    }
    return true;
}

}  // namespace snp
