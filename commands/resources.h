// commands/resources.h: the converter module's resources besides its string table (s57/s57_util2.h):
// the registry scripts of its two classes, its dialogs, bitmaps and icon. Lookups give null for an
// id the module does not hold.
#pragma once

#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

inline constexpr int IDR_S572GDBCMD = 101;
inline constexpr int IDR_GDB2S57CMD = 166;

inline constexpr int IDB_COMMAND = 201;  // the commands' button image
inline constexpr int IDB_BROWSE = 203;   // the browse buttons' image
inline constexpr int IDB_GDB = 204;      // the image of the geodatabase button 202
inline constexpr int IDI_TARVO = 205;    // both dialogs' icon

inline constexpr int IDD_GDB2S57DLG = 206;
inline constexpr int IDD_S572GDBDLG = 207;

// Control ids of the two dialogs.
inline constexpr int IDC_GDB = 201;         // read-only edit: the geodatabase
inline constexpr int IDC_GDB_BUTTON = 202;  // disabled picture button
inline constexpr int IDC_CELL = 205;        // read-only edit: the selected cell
inline constexpr int IDC_CELL_BUTTON = 206; // "..."
inline constexpr int IDC_TOPOLOGY = 207;    // check box
inline constexpr int IDC_FILE = 208;        // edit: the S-57 file
inline constexpr int IDC_BROWSE = 209;      // picture button

// The text of a registry script resource.
const char* registryScript(int id);

// A dialog template of the module.
const ui::DialogTemplate* dialogTemplate(int id);

// LoadBitmap / LoadIcon on the module's own images: a new counted handle, null for an unknown id.
HBITMAP loadModuleBitmap(int id);
HICON loadModuleIcon(int id);
