// The output file written in text mode: every LF is stored as CR LF.
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "run/output_record.h"

namespace snp {

bool TextOutput::Write(std::string_view text) {
    if (failed_) return false;
    std::string translated;
    translated.reserve(text.size() + 4);
    for (const char c : text) {
        if (c == '\n') translated.push_back('\r');
        translated.push_back(c);
    }
    // Each piece goes to the file at once, so that a full disk stops the run at the booking whose
    // line could not be stored, not a buffer's worth of bookings later.
    errno = 0;
    if (std::fwrite(translated.data(), 1, translated.size(), file_) != translated.size() ||
        std::fflush(file_) != 0) {
        failed_ = true;
        errno_ = errno;
        return false;
    }
    return true;
}

bool TextOutput::Flush() {
    if (failed_) return false;
    errno = 0;
    if (std::fflush(file_) != 0) {
        failed_ = true;
        errno_ = errno;
        return false;
    }
    return true;
}

}  // namespace snp
