// The entries of a configuration file, one at a time, cut into their fields exactly as the
// lookup reads them.  The lookup and the configuration tool's check share this reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "text/field.h"

namespace snp {

/// One two-line entry.  Line 1 gives the section field; line 2 the number, the key field and the
/// (still encrypted) value.
struct ConfigEntry {
    int first_line = 0;  // line number of line 1, counted from 1 (a cut line counts as a line)
    std::int32_t number = 0;
    Field<201> section;
    Field<201> key;
    Field<201> value;
    bool value_cut = false;  // the value was longer than 200 characters and holds only the first
    bool key_cut = false;    // the same for the key field
};

class ConfigFileReader {
  public:
    /// Opens the file for reading; is_open() tells whether that worked.
    explicit ConfigFileReader(const char* path);
    bool is_open() const { return file_ != nullptr; }
    /// Reads the next entry.  False at the end of the file: an unpaired last line is no entry.
    bool Next(ConfigEntry& entry);

  private:
    struct Close {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Close> file_;
    bool ended_ = false;
    int lines_read_ = 0;
};

}  // namespace snp
