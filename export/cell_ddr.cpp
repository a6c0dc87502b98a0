// export/cell_ddr.cpp: the base cell DDR templates and createObjectFile (see cell_ddr.h). The
// templates are constant: each call works on a copy, because updateDDR writes into it.

#include "export/cell_ddr.h"

#include <cstdio>
#include <exception>
#include <vector>

#include "platform/com/com.h"
#include "s57/s57_util2.h"

const Iso8211FileDesc cellFileDesc = {
    "0000;&   ", "GDB TO S57 (base cell file)",
    "0001DSIDDSIDDSSI0001DSPM0001FRIDFRIDFOIDFRIDATTFFRIDNATFFRIDFFPTFRIDFSPT0001VRIDVRIDATTVVRIDVRPTVRIDSG2DVRIDSG3D"};

const Iso8211FileDesc arcCellFileDesc = {
    "0000;&   ", "ARC TO S57 (base cell file)",
    "0001DSIDDSIDDSSI0001DSPMDSPMDSPRDSPMDSRC0001DSHT0001DSAC0001FRIDFRIDFOIDFRIDATTFFRIDNATFFRIDFFPCFRIDFFPTFRIDFSPC"
    "FRIDFSPT0001VRIDVRIDATTVVRIDVRPCVRIDVRPTVRIDSGCCVRIDSG2DVRIDSG3DVRIDARCCARCCAR2DARCCEL2DARCCCT2D"};

// Each description holds its ASCII and binary format; `format` and `binary` are set per call.
#define TARVO_FIELD(tag, controls, name, labels, ascii, binary) {tag, controls, name, labels, ascii, binary, ascii, 0}

#define TARVO_0001 TARVO_FIELD("0001", "0500;&   ", "Record Identifier (Object File)", "", "(I(5))", "(b12)")
#define TARVO_DSID                                                                                                   \
    TARVO_FIELD("DSID", "1600;&   ", "Data Set Identification",                                                      \
                "RCNM!RCID!EXPP!INTU!DSNM!EDTN!UPDN!UADT!ISDT!STED!PRSP!PSDN!PRED!PROF!AGEN!COMT",                    \
                "(A(2),I(10),A(1),I(1),3A,2A(8),R(4),A(3),2A,2A(2),A)",                                              \
                "(b11,b14,2b11,3A,2A(8),R(4),b11,2A,b11,b12,A)")
#define TARVO_DSSI                                                                                                   \
    TARVO_FIELD("DSSI", "1600;&   ", "Data Set Structure Information",                                               \
                "DSTR!AALL!NALL!NOMR!NOCR!NOGR!NOLR!NOIN!NOCN!NOED!NOFA", "(A(2),2I(1),8I)", "(3b11,8b14)")
#define TARVO_DSPM                                                                                                   \
    TARVO_FIELD("DSPM", "1600;&   ", "Data Set Parameter",                                                           \
                "RCNM!RCID!HDAT!VDAT!SDAT!CSCL!DUNI!HUNI!PUNI!COUN!COMF!SOMF!COMT",                                   \
                "(A(2),I(10),I(3),2I(2),I,3I(2),A(2),2I,A)", "(b11,b14,3b11,b14,4b11,2b14,A)")
#define TARVO_FRID                                                                                                   \
    TARVO_FIELD("FRID", "1600;&   ", "Feature record identifier field", "RCNM!RCID!PRIM!GRUP!OBJL!RVER!RUIN",        \
                "(A(2),I(10),A(1),I(3),I(5),I(3),A(1))", "(b11,b14,2b11,2b12,b11)")
#define TARVO_FOID                                                                                                   \
    TARVO_FIELD("FOID", "1600;&   ", "Feature object identifier field", "AGEN!FIDN!FIDS", "(A(2),I(10),I(5))",      \
                "(b12,b14,b12)")
#define TARVO_ATTF TARVO_FIELD("ATTF", "2600;&-A ", "Feature record attribute field", "*ATTL!ATVL", "(I(5),A)", "(b12,A)")
#define TARVO_NATF                                                                                                   \
    TARVO_FIELD("NATF", "2600;&%/C", "Feature record national attribute field", "*ATTL!ATVL", "(I(5),A)", "(b12,A)")
#define TARVO_FFPT                                                                                                   \
    TARVO_FIELD("FFPT", "2000;&   ", "Feature record to feature object pointer field", "*LNAM!RIND!COMT",            \
                "(A(17),2A)", "(B(64),b11,A)")
#define TARVO_FSPT                                                                                                   \
    TARVO_FIELD("FSPT", "2600;&   ", "Feature record to spatial record pointer field", "*NAME!ORNT!USAG!MASK",       \
                "(A(12),3A(1))", "(B(40),3b11)")
#define TARVO_VRID                                                                                                   \
    TARVO_FIELD("VRID", "1600;&   ", "Vector record identifier feild", "RCNM!RCID!RVER!RUIN", "(A(2),I(10),I(3),A(1))", \
                "(b11,b14,b12,b11)")
#define TARVO_ATTV TARVO_FIELD("ATTV", "2600;&   ", "Vector record attribute field", "*ATTL!ATVL", "(I(5),A)", "(b12,A)")
#define TARVO_VRPT                                                                                                   \
    TARVO_FIELD("VRPT", "2000;&   ", "Vector record pointer field", "*NAME!ORNT!USAG!TOPI!MASK", "(A(12),4A(1))",   \
                "(B(40),4b11)")
#define TARVO_SG2D TARVO_FIELD("SG2D", "2200;&   ", "2-D Coordinate field", "*YCOO!XCOO", "(2R)", "(2b24)")
#define TARVO_SG3D TARVO_FIELD("SG3D", "2200;&   ", "3-D Coordinate field", "*YCOO!XCOO!VE3D", "(3R)", "(3b24)")

const Iso8211FieldDesc cellDDRTemplate[kCellDDRFieldCount] = {
    TARVO_0001, TARVO_DSID, TARVO_DSSI, TARVO_DSPM, TARVO_FRID, TARVO_FOID, TARVO_ATTF, TARVO_NATF,
    TARVO_FFPT, TARVO_FSPT, TARVO_VRID, TARVO_ATTV, TARVO_VRPT, TARVO_SG2D, TARVO_SG3D,
};

const Iso8211FieldDesc arcCellDDRTemplate[kArcCellDDRFieldCount] = {
    TARVO_0001,
    TARVO_DSID,
    TARVO_DSSI,
    TARVO_DSPM,
    TARVO_FIELD("DSPR", "1600;&   ", "Data Set Projection", "PROJ!PRP1!PRP2!PRP3!PRP4!FEAS!FNOR!FPMF!COMT",
                "(A(3),6R,I,A)", "(b11,6b24,b14,A)"),
    TARVO_FIELD("DSRC", "2600;&   ", "Data Set Registration Control", "*RPID!RYCO!RXCO!CURP!FPMF!RXVL!RYVL!COMT",
                "(A(1),2R,A(2),I,2R,A)", "(b11,2b24,b11,b14,2b24,A)"),
    TARVO_FIELD("DSHT", "1600;&   ", "Data Set History", "RCNM!RCID!PRCO!ESDT!LSDT!DCRT!CODT!COMT",
                "(A(2),I(10),A(2),2A(8),A,A(8),A)", "(b11,b14,b12,2A(8),A,A(8),A)"),
    TARVO_FIELD("DSAC", "1600;&   ", "Data Set Accuracy", "RCNM!RCID!HACC!VACC!SACC!FPMF!COMT", "(A(2),I(10),3R,I,A)",
                "(b11,5b14,A)"),
    TARVO_FRID,
    TARVO_FOID,
    TARVO_ATTF,
    TARVO_NATF,
    TARVO_FIELD("FFPC", "1600;&   ", "Feature record to feature object pointer control field", "FFUI!FFIX!NFPT",
                "(A(1),2I)", "(b11,2b12)"),
    TARVO_FFPT,
    TARVO_FIELD("FSPC", "1600;&   ", "Feature record to spatial record pointer control field", "FSUI!FSIX!NSPT",
                "(A(1),2I)", "(b11,2b12)"),
    TARVO_FSPT,
    TARVO_VRID,
    TARVO_ATTV,
    TARVO_FIELD("VRPC", "1600;&   ", "Vector record pointer control field", "VPUI!VPIX!NVPT", "(A(1),2I)",
                "(b11,2b12)"),
    TARVO_VRPT,
    TARVO_FIELD("SGCC", "1600;&   ", "Coordinate control field", "CCUI!CCIX!CCNC", "(A(1),2I)", "(b11,2b12)"),
    TARVO_SG2D,
    TARVO_SG3D,
    TARVO_FIELD("ARCC", "1600;&   ", "Arc/Curve definition field", "ATYP!SURF!ORDR!RESO!FPMF", "(2A(1),I(1),R,I)",
                "(3b11,2b14)"),
    TARVO_FIELD("AR2D", "2600;&   ", "Arc coordinate field", "STPT!CTPT!ENPT*YCOO!XCOO", "(2R)", "(2b24)"),
    TARVO_FIELD("EL2D", "2600;&   ", "Ellipse coordinate field", "STPT!CTPT!ENPT!CDPM!CDPR*YCOO!XCOO", "(2R)",
                "(2b24)"),
    TARVO_FIELD("CT2D", "2600;&   ", "Curve coordinate field", "*YCOO!XCOO", "(2R)", "(2b24)"),
};

#undef TARVO_0001
#undef TARVO_DSID
#undef TARVO_DSSI
#undef TARVO_DSPM
#undef TARVO_FRID
#undef TARVO_FOID
#undef TARVO_ATTF
#undef TARVO_NATF
#undef TARVO_FFPT
#undef TARVO_FSPT
#undef TARVO_VRID
#undef TARVO_ATTV
#undef TARVO_VRPT
#undef TARVO_SG2D
#undef TARVO_SG3D
#undef TARVO_FIELD

namespace {

constexpr char kModule[] = "gdbs57main";

// A DDR that failed part-way is no cell: its stream is closed and the file it began removed. A file
// that could not be opened was never touched and stays.
void discard(Iso8211File* file, const char* path) {
    if (!file->fp) return;
    (void)Close8211File(file);
    std::remove(path);
}

}  // namespace

int32_t createObjectFile(const char* path, int32_t binary, Iso8211File* file, int32_t templateSelector) {
    if (!path || !file || (binary != 0 && binary != 1)) {
        logLine("CreateObjectFile : Illegal Parameter\n");
        return -19;
    }
    try {
        const bool base = templateSelector == 1;
        const Iso8211FieldDesc* source = base ? cellDDRTemplate : arcCellDDRTemplate;
        const int count = base ? kCellDDRFieldCount : kArcCellDDRFieldCount;
        std::vector<Iso8211FieldDesc> descs(source, source + count);
        if (updateDDR(descs.data(), count, binary) != 0) {
            logLine("CreateObjectFile : unable update DDR for ISO object file %s\n", path);
            return 1;
        }
        if (Write8211File(file, path, base ? &cellFileDesc : &arcCellFileDesc, descs.data(), count) != 0) {
            logLine("CreateObjectFile : unable create ISO object file %s\n", path);
            discard(file, path);
            return 1;
        }
        return 0;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "createObjectFile", e);
        discard(file, path);
        return E_FAIL;
    } catch (const std::exception& e) {
        logLine("Error: %s::createObjectFile\n%s\n", kModule, e.what());
        discard(file, path);
        return E_FAIL;
    }
}
