// s57/s57_util.h: module s57_util: the record list and topology cache of a cell, the file checks
// before a run and the feature-class naming rule (s57/record_list.h).
#pragma once

#include "s57/record_list.h"
