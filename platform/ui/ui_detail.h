// platform/ui/ui_detail.h: what the progress objects share with the rest of platform/ui; not for
// callers outside this folder.
#pragma once

#include <string>
#include <string_view>

#include "platform/ui/ui.h"

namespace ui::detail {

// Appends to the scripted record (only in scripted form).
void record(Event e);

// Counts one Continue of a cancel tracker; true once the scripted cancel point is reached.
bool scriptedContinueCancels();

// Terminal form with a TTY on stdin: whether a line (or end of input) was typed since the last
// look; it is consumed. Never blocks; false in the other forms.
bool terminalKeyPressed();

// Writes all of `text` to output(); stdio's standard error is flushed first.
void writeOut(std::string_view text);

// True when progress is drawn as a bar: terminal form with output() on a TTY.
bool drawsBar();

// The bar line on standard error: drawn over itself, cleared before any other terminal output.
void drawBar(const std::string& line);
void clearBar();

// Forgets the scripted dialog actions (platform/ui/dialog.cpp).
void resetDialogScript();

// Reads one line of the terminal form's input; false at end of input.
bool readTerminalLine(std::string& line);
// Writes to the terminal form's output, clearing a progress bar first.
void terminalWrite(const std::string& text);

// Width of output()'s terminal (80 when unknown).
int terminalWidth();

}  // namespace ui::detail
