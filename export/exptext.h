// export/exptext.h: the text of an exported subfield in its field's lexical level. The geodatabase
// holds UTF-8; a level 0 or 1 field (ATTF, ATTV, the metadata texts) is written as ISO 8859-1 bytes,
// a level 2 field (NATF and the other "%/A" fields) as UCS-2, which the record layer makes from
// UTF-8 when it writes the field. A character the level cannot hold is written as "?".
// Pure functions; the logging one writes to logFile.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/variant.h"

// The UTF-8 text a subfield of lexical level `level` (0, 1 or 2) is handed to the record layer with:
// characters up to U+00FF at levels 0 and 1, up to U+FFFF at level 2. A byte that begins no valid
// UTF-8 sequence is taken as the ISO 8859-1 character it codes, as the record layer does. Each
// character the level cannot hold becomes '?' and is counted in *replaced (when given).
std::string levelText(std::string_view utf8, int level, int* replaced = nullptr);

// levelText, and when a character was replaced the line
// "<function>: <owner> <label> value \"<utf8>\" has characters lexical level <level> cannot hold, written as \"?\"\n"
// to logFile, owner being the feature's or record's name.
std::string levelTextLogged(std::string_view utf8, int level, const char* function, const char* owner,
                            const char* label);

// A column value as UTF-8 text: "" for a null or empty value; otherwise its text as _bstr_t gives
// it, up to its first NUL (what a C string of it holds). A text value is converted directly.
std::string columnUtf8(const _variant_t& value);
