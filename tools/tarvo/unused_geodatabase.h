// tools/tarvo/unused_geodatabase.h: taking back a geodatabase that a failed `tarvo import` made.
#pragma once

#include <sys/stat.h>

// Removes the geodatabase at `path` that this run made (`made` is its stat when it was made) when
// nothing was saved in it, so that a failed run leaves no new geodatabase behind; true when it went.
// Another import may have found the new file and saved its cells there meanwhile: a file holding a
// cell, another file at the path, a file another program has open, or one with a journal beside it
// is left where it is.
bool removeUnusedGeodatabase(const char* path, const struct stat& made);
