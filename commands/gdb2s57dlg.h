// commands/gdb2s57dlg.h: dialog 206 "Geodatabase to S-57": the user picks one of the geodatabase's
// cells or exchange-set catalogues, the output file, and whether the topology primitives are built
// anew (confirmed by text 162). An existing output file is overwritten only when confirmed (164).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands/converter_dialog.h"

class gdb2s57dlg : public ConverterDialog {
public:
    // One line of the cell selection: a cell of table dsid (directory empty) or a catalogue of catd.
    struct Entry {
        std::string name;       // the cell name, or the catalogue file name (CFIL)
        std::string directory;  // the catalogue's directory (CATL); empty for a cell
        std::string display;    // the line the selection list shows
    };

    gdb2s57dlg(std::string gdbPath, std::vector<Entry> entries);

    const std::string& outputFile() const { return outputFile_; }
    const std::string& cellName() const { return cellName_; }
    const std::string& catalogPath() const { return catalogPath_; }
    std::uint8_t createTopology() const { return createTopology_; }

    // The selected-cell edit shows this many characters of the name.
    static constexpr std::size_t kCellNameShown = 16;

protected:
    void onInitDialog() override;
    void onCommand(int id) override;

private:
    void select(std::size_t index, bool initial);
    void chooseCell();
    void browse();
    void ok();

    std::vector<Entry> entries_;
    std::string outputFile_;
    std::string cellName_;
    std::string catalogPath_;
    std::uint8_t createTopology_ = 0;
};
