// tools/tarvo/dump_s57.h: `tarvo dump --s57 FILE`: every data record of an S-57 (ISO 8211) file as
// the converter's record layer decodes it.
#pragma once

#include <cstdio>

// Writes the records of `path` to `out`, one block per record: its index entry (record name and
// identifier), then one line per field with its subfields as LABEL=value; attribute codes (ATTL) as
// their catalogue acronyms. The layer's diagnostics go to `err`. 0 when the file opened and every
// record was read; 1 otherwise (a record that cannot be read is reported and skipped).
int dumpS57(const char* path, std::FILE* out, std::FILE* err);
