// commands/resources.cpp: the converter module's registry scripts, dialog templates and images.
#include "commands/resources.h"

namespace {

constexpr char kScriptS572gdbCmd[] = R"(HKCR
{
    Tarvo.s572gdbCmd.1 = s 's572gdbCmd Class'
    {
        CLSID = s '{E9AC688E-46B0-4769-B0C8-F365F88402BF}'
    }
    Tarvo.s572gdbCmd = s 's572gdbCmd Class'
    {
        CLSID = s '{E9AC688E-46B0-4769-B0C8-F365F88402BF}'
        CurVer = s 'Tarvo.s572gdbCmd.1'
    }
    NoRemove CLSID
    {
        ForceRemove {E9AC688E-46B0-4769-B0C8-F365F88402BF} = s 's572gdbCmd Class'
        {
            ProgID = s 'Tarvo.s572gdbCmd.1'
            VersionIndependentProgID = s 'Tarvo.s572gdbCmd'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{90069FE3-3677-4628-A2EB-3746B3CF07BC}'
        }
    }
}
)";

constexpr char kScriptGdb2s57Cmd[] = R"(HKCR
{
    Tarvo.gdb2s57Cmd.1 = s 'gdb2s57Cmd Class'
    {
        CLSID = s '{0C555C90-771A-4BE8-8714-13448F26D48D}'
    }
    Tarvo.gdb2s57Cmd = s 'gdb2s57Cmd Class'
    {
        CLSID = s '{0C555C90-771A-4BE8-8714-13448F26D48D}'
        CurVer = s 'Tarvo.gdb2s57Cmd.1'
    }
    NoRemove CLSID
    {
        ForceRemove {0C555C90-771A-4BE8-8714-13448F26D48D} = s 'gdb2s57Cmd Class'
        {
            ProgID = s 'Tarvo.gdb2s57Cmd.1'
            VersionIndependentProgID = s 'Tarvo.gdb2s57Cmd'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{90069FE3-3677-4628-A2EB-3746B3CF07BC}'
        }
    }
}
)";

using ui::ControlKind;
using ui::ControlTemplate;

constexpr ControlTemplate kS572gdbControls[] = {
    {IDOK, ControlKind::Button, "OK", ui::kDefault},
    {IDCANCEL, ControlKind::Button, "Cancel", 0},
    {-1, ControlKind::Frame, "", 0},
    {-1, ControlKind::Label, "Input S-57 Cell:", 0},
    {IDC_FILE, ControlKind::Edit, "", 0},
    {IDC_BROWSE, ControlKind::PictureButton, "", 0},
    {-1, ControlKind::Label, "Output Geodatabase:", 0},
    {IDC_GDB, ControlKind::Edit, "", ui::kReadOnly},
    {IDC_GDB_BUTTON, ControlKind::PictureButton, "", ui::kDisabled},
};

constexpr ControlTemplate kGdb2s57Controls[] = {
    {IDOK, ControlKind::Button, "OK", ui::kDefault},
    {IDCANCEL, ControlKind::Button, "Cancel", 0},
    {-1, ControlKind::Frame, "", 0},
    {-1, ControlKind::Label, "Input Geodatabase:", 0},
    {IDC_GDB, ControlKind::Edit, "", ui::kReadOnly},
    {IDC_GDB_BUTTON, ControlKind::PictureButton, "", ui::kDisabled},
    {-1, ControlKind::Label, "Output S-57:", 0},
    {IDC_FILE, ControlKind::Edit, "", 0},
    {IDC_BROWSE, ControlKind::PictureButton, "", 0},
    {-1, ControlKind::Label, "Selected Cell:", 0},
    {IDC_CELL, ControlKind::Edit, "", ui::kReadOnly},
    {IDC_CELL_BUTTON, ControlKind::Button, "...", 0},
    {IDC_TOPOLOGY, ControlKind::CheckBox, "Create new spatial primitives", 0},
};

constexpr ui::DialogTemplate kDialogs[] = {
    {IDD_GDB2S57DLG, "Geodatabase to S-57", 286, 110, kGdb2s57Controls},
    {IDD_S572GDBDLG, "S-57 to Geodatabase", 286, 66, kS572gdbControls},
};

}  // namespace

const char* registryScript(int id) {
    switch (id) {
        case IDR_S572GDBCMD: return kScriptS572gdbCmd;
        case IDR_GDB2S57CMD: return kScriptGdb2s57Cmd;
        default: return nullptr;
    }
}

const ui::DialogTemplate* dialogTemplate(int id) {
    for (const auto& d : kDialogs)
        if (d.id == id) return &d;
    return nullptr;
}

HBITMAP loadModuleBitmap(int id) {
    if (id != IDB_COMMAND && id != IDB_BROWSE && id != IDB_GDB) return nullptr;
    return ui::createGdiObject(ui::GdiKind::Bitmap, id);
}

HICON loadModuleIcon(int id) {
    if (id != IDI_TARVO) return nullptr;
    return ui::createGdiObject(ui::GdiKind::Icon, id);
}
