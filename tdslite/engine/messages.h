// The server's messages with their numbers, severities, states and us_english texts.  Every
// builder leaves Message.line at 1; the caller sets it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine.h"

namespace tdslite::detail::msg {

Message Make(std::int32_t number, std::uint8_t severity, std::uint8_t state, std::string text);

Message SyntaxNear(std::string_view token);                                            // 102
Message SyntaxNearKeyword(std::string_view keyword);                                   // 156
Message IdentifierTooLong(std::string_view start);                                     // 103
Message UnclosedQuote(std::string_view rest);                                          // 105
Message MissingEndComment();                                                           // 113
Message TooManyPrefixes(std::string_view name);                                        // 117
Message NestedTooDeeply();                                                             // 191
Message NotBuiltinFunction(std::string_view name);                                     // 195
Message WrongArgumentCount(std::string_view name, int count);                          // 174
Message InvalidColumn(std::string_view name);                                          // 207
Message InvalidObject(std::string_view name);                                          // 208
Message AmbiguousColumn(std::string_view name);                                        // 209
Message MultiPartNotBound(std::string_view name);                                      // 4104
Message NonBooleanCondition(std::string_view near);                                    // 4145
Message ConversionDateTime();                                                          // 241
Message DateTimeOutOfRange();                                                          // 242
Message ConversionToInt(std::string_view value, std::string_view type);                // 245
Message IntOverflowFromText(std::string_view value);                                   // 248
Message SmallIntOverflowFromText(std::string_view value);                              // 244
Message SmallIntOverflow(std::int64_t value);                                          // 220
Message ArithmeticOverflow(std::string_view from, std::string_view to);                // 8115
Message DivideByZero();                                                                // 8134
Message OperandInvalid(std::string_view type, std::string_view op);                    // 8117
Message ImplicitConversion(std::string_view from, std::string_view to);                // 257
Message ConvertToFloat(std::string_view from);                                         // 8114
Message InvalidStyle(int style, bool from_datetime);                                   // 281 / 9809
Message SubqueryManyRows();                                                            // 512
Message SubqueryManyColumns();                                                         // 116
Message OrderByInSubquery();                                                           // 1033
Message NotInGroupBy(std::string_view column);                                         // 8120
Message NullNotAllowed(std::string_view column, std::string_view table, bool update);  // 515
Message DuplicateKey(std::string_view constraint, std::string_view object,
                     std::string_view values);                                 // 2627
Message Truncated();                                                           // 8152
Message StatementTerminated();                                                 // 3621
Message MoreColumnsThanValues();                                               // 109
Message FewerColumnsThanValues();                                              // 110
Message ColumnCountMismatch();                                                 // 213
Message RowValueCountsDiffer();                                                // 10709
Message ColumnSpecifiedTwice(std::string_view column);                         // 264
Message ObjectExists(std::string_view name);                                   // 2714
Message SchemaMissing(std::string_view name);                                  // 2760
Message DuplicateColumnName(std::string_view column, std::string_view table);  // 2705
Message UnknownType(int column_number, std::string_view type);                 // 2715
Message SizeTooBig(int size, std::string_view column);                         // 131
Message ZeroLength(int line);                                                  // 1001
Message MultiplePrimaryKeys(std::string_view table);                           // 8110
Message NullablePrimaryKey(std::string_view table);                            // 8111
Message PrimaryKeyColumnMissing(std::string_view column);                      // 1911
Message TooManyColumns(std::string_view column, std::string_view table);       // 1702
Message CannotDropTable(std::string_view name);                                // 3701
Message ResourcesExhausted();                                                  // 8623
Message OutOfMemory();                                                         // 701
Message MustDeclareVariable(std::string_view name);                            // 137
Message StorageFailure(std::string_view detail);  // 50000: SQLite refused a write or read

}  // namespace tdslite::detail::msg
