// The output ZeiImp file: one fixed-column line of 81 characters per converted booking, each
// ending in CR LF.
#pragma once

#include <cstdio>
#include <string_view>

#include "db/database.h"
#include "text/field.h"

namespace snp {

/// The 88-byte record one output line is printed from.
struct OutputRecord {
    Field<21> SchemaName;       // offset  0, columns  1-20
    Field<9> PersonnelNumber;   // offset 21, columns 21-28
    Field<11> DateText;         // offset 30, columns 29-38, DD.MM.YYYY
    Field<6> TimeText;          // offset 41, columns 39-43, HH:MM
    Field<6> BchFkt;            // offset 47, columns 44-48
    Field<4> BchFcd;            // offset 53, columns 49-51, "%-3s"
    Field<31> CostCentre;       // offset 57, columns 52-81
};
static_assert(sizeof(OutputRecord) == 88);

/// A stream written in text mode: every LF is stored as CR LF.  Remembers the first write error.
class TextOutput {
public:
    explicit TextOutput(std::FILE* file) : file_(file) {}
    /// Writes text, LF as CR LF.  False once any write has failed.
    bool Write(std::string_view text);
    /// Flushes; false when this or any earlier write failed.
    bool Flush();
    bool failed() const { return failed_; }
    int error_number() const { return errno_; }

private:
    std::FILE* file_;
    bool failed_ = false;
    int errno_ = 0;
};

/// Pads schema name, personnel number and cost centre and converts the date through one
/// formatting query.  0 on success; -1 no handle; the native error code when the statement
/// failed; otherwise the fetch status (100 no row).  On any result but 0 `record` is unchanged.
int FormatOutputFields(DbState& db, OutputRecord& record, std::string_view booking_date,
                       std::string_view booking_time, std::string_view personnel_number);

}  // namespace snp
