#!/usr/bin/env python3
"""Generate the S-57 catalogue files of the converter.

Reads the transcription of the IHO S-57 Edition 3 object catalogue that Debian's gdal-data package
ships (s57objectclasses.csv, s57attributes.csv, s57agencies.csv) and writes

    data/s57.xml             AGENCY, S57OBJECT, S57ATTRIBUTE and S57SET elements, Edition 3
                             with the Edition 3.1 additions
    data/product.xml         the product model: object class and primitive -> themed feature class,
                             subtype and fields; the collection classes as tables
    s57/dimml_builtin.cpp    the compiled-in catalogue (builtinS57Objects, builtinS57Attributes,
                             builtinS57Sets), used when the XML files cannot be loaded

The generated files are committed, so the build never needs gdal-data. Run from anywhere:

    python3 data/gen_catalogue.py [--csv-dir /usr/share/gdal] [--check]

--check writes nothing and fails when a committed file differs from what would be generated.
Standard library only.

Where the transcription differs from the published catalogue that the converter was built
against, the differences are listed in CORRECTIONS below and printed on every run.
"""

import argparse
import csv
import io
import os
import sys
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# --------------------------------------------------------------------------------------------
# The catalogue's shape
# --------------------------------------------------------------------------------------------

# Object classes of S-57 Edition 3: geo 1-160, meta 300-312, collections 400-402, cartographic
# 500-504. The built-in tables hold these only (their shape is fixed).
OBJECT_CODES = (list(range(1, 161)) + list(range(300, 313)) + [400, 401, 402] +
                list(range(500, 505)))
# Attributes: 1-189, national 300-304, spatial 400-402.
ATTRIBUTE_CODES = list(range(1, 190)) + list(range(300, 305)) + [400, 401, 402]

# The Edition 3.1 additions in the standard ranges, which real 3.1 cells use: s57.xml and
# product.xml carry them, the built-in tables do not. The transcription's other additions (the
# 17xxx inland and 2xxxx military ranges) are no part of the catalogue.
ADDED_OBJECT_CODES = [161, 162, 163]     # ARCSLN, ASLXIS, NEWOBJ
ADDED_ATTRIBUTE_CODES = [190, 191, 192]  # CLSDEF, CLSNAM, SYMINS
XML_OBJECT_CODES = sorted(OBJECT_CODES + ADDED_OBJECT_CODES)
XML_ATTRIBUTE_CODES = sorted(ATTRIBUTE_CODES + ADDED_ATTRIBUTE_CODES)

EXPECTED_OBJECTS = 181
EXPECTED_ATTRIBUTES = 197
EXPECTED_SETS = {"A": 1544, "B": 1103, "C": 724}

# The cartographic area and line classes keep the acronyms the converter has always used: five
# characters and a blank (the transcription spells them $AREAS and $LINES).
ACRONYM_OVERRIDES = {500: "$AREA ", 501: "$LINE "}

# Built-in descriptions are the class names padded with blanks to this width. The names are taken
# as the transcription spells them; its capitals are not always the published ones (class 1 is
# "Administration area (Named)" here, "Administration Area (Named)" in the published table). s57.xml
# carries the names unpadded.
DESCRIPTION_PAD = 40

# Class names the transcription misspells ("Archipelagix").
NAME_CORRECTIONS = {161: "Archipelagic Sea Lane", 162: "Archipelagic Sea Lane axis"}

# Text fields of the records (char[N] holds N-1 characters).
OBJECT_ACRONYM_MAX = 6
OBJECT_DESCRIPTION_MAX = 52
AGENCY_LABEL_MAX = 124
AGENCY_CODE_MAX = 9

# Corrections of the transcription's attribute sets, each with its reason:
#   ("drop", class acronym, attribute acronym, set)
#   ("add", class acronym, attribute acronym, set, the attribute it follows or None for first)
# The published catalogue lists NTXTDS and TXTDSC in set B of every geo class with textual
# descriptions; the transcription lost them for CURENT, MAGVAR and RSCSTA, and NTXTDS for DRYDOC
# (these four are the only geo classes whose set B breaks the common pattern). With them the set
# B count is the published 1103. "hypcat" in DEPCNT's set C is no S-57 attribute (lower case, no
# code in the attribute table): an extension of the transcription's own; without it set C holds
# the published 724.
CORRECTIONS = [
    ("add", "CURENT", "NTXTDS", "B", "NINFOM"),
    ("add", "CURENT", "TXTDSC", "B", "SCAMIN"),
    ("add", "MAGVAR", "NTXTDS", "B", "NINFOM"),
    ("add", "MAGVAR", "TXTDSC", "B", "SCAMIN"),
    ("add", "RSCSTA", "NTXTDS", "B", "NINFOM"),
    ("add", "RSCSTA", "TXTDSC", "B", "SCAMIN"),
    ("add", "DRYDOC", "NTXTDS", "B", "NINFOM"),
    ("drop", "DEPCNT", "hypcat", "C"),
]

# The built-in set table keeps two groups out of class order, as it always had them (the lookups
# must cope with that): all pairs of class 160 stand between the groups of 135 and 136, and the
# pair (155, 301, "A") stands last, after the group of 504.
BUILTIN_MOVED_CLASS = (160, 135)          # class, the class whose group it follows
BUILTIN_LAST_PAIR = (155, 301, "A")

# Column type, width and default of the built-in attribute entries, by group.
# type: 1 text, 2 integer, 3 real.
ATTRIBUTE_GROUPS = [
    (1, 2, "XX", "AGENCY NATION PRCTRY"),
    (1, 4, "XXXX", "RYRMGV"),
    (1, 5, "XXXXX", "$CHARS"),
    (1, 8, "UNKNOWN", "CPDATE DATEND DATSTA NMDATE PEREND PERSTA RECDAT SORDAT SUREND SURSTA"),
    (1, 17, "UNKNOWN", "TIMEND TIMSTA"),
    (1, 70, "UNKNOWN",
     "CALSGN CATAIR CATACH CATBRG CATDPG CATHAF CATHLK CATLND CATLMK CATLIT CATMPA CATOFP "
     "CATPIP CATROS CATRSC CATREA CATSIT CATSIW CATSCF CATSPM CATVEG COLOUR COLPAT COMCHA "
     "FUNCTN INFORM LITVIS NATCON NATSUR NATQUA OBJNAM PICREP PILDST PRODCT PUBREF QUASOU "
     "RADWAL RECIND RESTRN SHIPAM SIGGRP SIGSEQ SORIND STATUS SURATH SURTYP $SCODE TECSOU "
     "$TXSTR TXTDSC TS_TSP TS_TSV T_HWLW T_THDF T_TSVL T_VAHC NINFOM NOBJNM NPLDST $NTXST "
     "NTXTDS"),
    (2, 2, "-1",
     "BCNSHP BUISHP BOYSHP CATBUA CATCBL CATCAN CATCAM CATCHP CATCOA CATCTR CATCON CATCOV "
     "CATCRN CATDAM CATDIS CATDOC CATFNC CATFRY CATFIF CATFOG CATFOR CATGAT CATICE CATINB "
     "CATLAM CATMFA CATMOR CATNAV CATOBS CATOLB CATPLE CATPIL CATPRA CATPYL CATQUA CATRAS "
     "CATRTB CATTRK CATROD CATRUN CATSEA CATSLC CATSIL CATSLO CATTSS CATWAT CATWED CATWRK "
     "CATZOC $SPACE CONDTN CONRAD CONVIS DUNITS EXCLIT EXPSOU HUNITS JRSDTN $JUSTH $JUSTV "
     "LITCHR MARSYS SIGGEN T_ACWL T_MTOD $TINTS TOPSHP TRAFIC VERDAT WATLEV CAT_TS PUNITS "
     "HORDAT QUAPOS"),
    (2, 4, "-1", "CSCALE MLTYLT SCAMAX SCAMIN SCVAL1 SCVAL2 SIGFRQ SDISMX SDISMN T_TINT"),
    (3, 4, "-1.0",
     "BURDEP $CSIZE CURVEL DRVAL1 DRVAL2 ELEVAT ESTRNG HEIGHT HORACC HORCLR HORLEN HORWID "
     "ICEFAC LIFCAP ORIENT RADIUS SECTR1 SECTR2 SIGPER SOUACC $SCALE VALACM VALDCO VALLMA "
     "VALMAG VALMXR VALNMR VALSOU VERACC VERCLR VERCCL VERCOP VERCSA VERLEN POSACC"),
]

# S-57 attribute type letter -> column type as the loader maps it (E, I integer; F real; the
# rest text).
def column_type(letter):
    letter = letter.strip().upper()
    return 2 if letter in ("E", "I") else 3 if letter == "F" else 1

# --------------------------------------------------------------------------------------------
# The product model
# --------------------------------------------------------------------------------------------

# Each theme groups object classes into one feature class per primitive, named
# <Theme><Point|Line|Area>Feature; the object classes are the subtypes of their class (subtype
# name = acronym, subtype code = object class code) and every attribute is a field named after
# its acronym. A class exists only for the primitives its object classes are permitted.
THEMES = [
    ("Sounding", "SOUNDG"),
    ("Depth", "DEPARE DEPCNT DRGARE SWPARE UNSARE"),
    ("Seabed", "SBDARE SNDWAV SPRING WEDKLP"),
    ("Danger", "OBSTRN UWTROC WRECKS WATTUR PILPNT"),
    ("Coastline", "COALNE LNDARE SLCONS SLOTOP LAKSHR RIVBNK CANBNK CAUSWY DYKCON"),
    ("Land", "LNDELV LNDRGN VEGATN SLOGRD CTRPNT"),
    ("Water", "RIVERS LAKARE CANALS RAPIDS WATFAL TIDEWY SEAARE ICEARE"),
    ("Cultural",
     "BUAARE BUISGL ROADWY RAILWY RUNWAY AIRARE BRIDGE TUNNEL CONVYR FNCLNE PYLONS SILTNK "
     "FORSTC DAMCON SQUARE CBLOHD PIPOHD PRDARE"),
    ("Port",
     "BERTHS DOCARE DRYDOC FLODOC GATCON GRIDRN HRBARE HRBFAC HULKES LOKBSN MORFAC PONTON "
     "SMCFAC CRANES LOGPON CHKPNT"),
    ("NavigationAid",
     "BCNCAR BCNISD BCNLAT BCNSAW BCNSPP BOYCAR BOYINB BOYISD BOYLAT BOYSAW BOYSPP LIGHTS "
     "LITFLT LITVES DAYMAR TOPMAR FOGSIG RETRFL RADRFL RTPBCN DISMAR LNDMRK"),
    ("Station", "CGUSTA RSCSTA RADSTA RDOSTA SISTAT SISTAW PILBOP RDOCAL"),
    ("Routeing",
     "DWRTCL DWRTPT FAIRWY NAVLNE RCRTCL RECTRC RCTLPT TSELNE TSSBND TSSCRS TSSLPT TSSRON "
     "TSEZNE TWRTPT ISTZNE PRCARE FERYRT RADLNE RADRNG SUBTLN ARCSLN ASLXIS"),
    ("Restricted",
     "ACHARE ACHBRT CBLARE PIPARE CTNARE CTSARE DMPGRD FSHGRD ICNARE MIPARE RESARE SPLARE "
     "OSPARE"),
    ("Offshore", "OFSPLF PIPSOL CBLSUB OILBAR MARCUL FSHFAC"),
    ("Boundary", "ADMARE CONZNE COSARE CUSZNE EXEZNE FRPARE FSHZNE STSLNE TESARE"),
    ("TideCurrent", "CURENT TS_PRH TS_PNH TS_PAD TS_TIS T_HMON T_NHMN T_TIMS TS_FEB"),
    ("Magnetic", "MAGVAR LOCMAG"),
    ("Metadata",
     "M_ACCY M_CSCL M_COVR M_HDAT M_HOPA M_NPUB M_NSYS M_PROD M_QUAL M_SDAT M_SREL M_UNIT "
     "M_VDAT"),
    # Objects of a class the catalogue does not have yet, named by their CLSNAM: no theme fits.
    ("NewObject", "NEWOBJ"),
]

# Class names that do not follow the <Theme><Primitive>Feature pattern.
CLASS_NAME_OVERRIDES = {("Sounding", "P"): "SoundingFeature"}

# Feature classes whose geometry carries Z (and that get the DEPTH column).
Z_CLASSES = {"SoundingFeature"}

# The collection classes have no geometry: they are tables named after their acronym (the
# importer opens them by that name). product.xml lists them as COLLECTION elements, not as
# OBJECTMAP elements, because every OBJECTMAP names a feature class that must exist before an
# import; a COLLECTION's fields are FIELD children (name, code, set), never ATTRIBUTEMAP, because
# the loader counts every ATTRIBUTEMAP of the document as an attribute mapping.
COLLECTIONS = "C_AGGR C_ASSO C_STAC"

# Classes with no primitive in the catalogue (the cartographic classes) get no mapping; the
# importer skips their records with its "unable to find class" line.

PRIMITIVE_LETTERS = {"Point": "P", "Line": "L", "Area": "A"}
PRIMITIVE_WORDS = {"P": "Point", "L": "Line", "A": "Area"}

# qc of an attribute mapping: 0 exports the attribute when the row holds a value (1 would export
# it always, 2 never).
DEFAULT_QC = 0

# --------------------------------------------------------------------------------------------


def fail(msg):
    sys.stderr.write("gen_catalogue: " + msg + "\n")
    sys.exit(1)


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.reader(f))


def load_transcription(csv_dir):
    """Object classes, attributes and agencies as dicts, in the transcription's order."""
    objects = {}
    for row in read_csv(os.path.join(csv_dir, "s57objectclasses.csv"))[1:]:
        if not row or not row[0].strip().isdigit():
            continue
        code = int(row[0])
        if code not in XML_OBJECT_CODES:
            continue
        sets = {}
        for letter, cell in zip("ABC", row[3:6]):
            sets[letter] = [a for a in cell.split(";") if a]
        prims = [PRIMITIVE_LETTERS[p] for p in row[7].split(";") if p] if len(row) > 7 else []
        objects[code] = {"code": code, "name": row[1], "acronym": row[2], "sets": sets,
                         "class": row[6] if len(row) > 6 else "", "prims": prims}
    attributes = {}
    for row in read_csv(os.path.join(csv_dir, "s57attributes.csv"))[1:]:
        if not row or not row[0].strip().isdigit():
            continue
        code = int(row[0])
        if code not in XML_ATTRIBUTE_CODES:
            continue
        attributes[code] = {"code": code, "name": row[1], "acronym": row[2], "type": row[3]}
    agencies = []
    for row in read_csv(os.path.join(csv_dir, "s57agencies.csv")):
        if not row or row[0].startswith("#") or len(row) < 3:
            continue
        agencies.append({"label": row[1].strip(), "code": row[2].strip()})
    return objects, attributes, agencies


def apply_overrides(objects):
    for code, acronym in ACRONYM_OVERRIDES.items():
        if code in objects:
            objects[code]["transcribed_acronym"] = objects[code]["acronym"]
            objects[code]["acronym"] = acronym


def apply_name_corrections(objects, notes):
    for code, name in NAME_CORRECTIONS.items():
        obj = objects[code]
        if obj["name"] == name:
            notes.append("correction no longer needed: class %d is named %r" % (code, name))
            continue
        notes.append("class %d %s: named %r in place of the transcription's %r"
                     % (code, obj["acronym"], name, obj["name"]))
        obj["name"] = name


def apply_corrections(objects, notes):
    by_acronym = {o["acronym"]: o for o in objects.values()}
    for corr in CORRECTIONS:
        kind, cls, attr, letter = corr[:4]
        obj = by_acronym.get(cls)
        if obj is None:
            fail("correction names unknown class " + cls)
        lst = obj["sets"][letter]
        if kind == "drop":
            if attr not in lst:
                notes.append("correction no longer needed: %s %s not in set %s of %s"
                             % (kind, attr, letter, cls))
                continue
            lst.remove(attr)
            notes.append("class %d %s: dropped %s from set %s (not an S-57 attribute)"
                         % (obj["code"], cls, attr, letter))
        else:
            after = corr[4]
            if attr in lst:
                notes.append("correction no longer needed: %s already in set %s of %s"
                             % (attr, letter, cls))
                continue
            pos = 0 if after is None else lst.index(after) + 1
            lst.insert(pos, attr)
            notes.append("class %d %s: added %s to set %s (missing from the transcription)"
                         % (obj["code"], cls, attr, letter))


def attribute_table(attributes, notes):
    """The built-in FieldDef entries, in code order, with the group's type, width, default."""
    by_acronym = {a["acronym"]: a for a in attributes.values()}
    group_of = {}
    for typ, width, default, names in ATTRIBUTE_GROUPS:
        for name in names.split():
            if name in group_of:
                fail("attribute %s is in two groups" % name)
            if name not in by_acronym:
                fail("attribute %s of a group is not in the transcription" % name)
            group_of[name] = (typ, width, default)
    table = []
    for code in ATTRIBUTE_CODES:
        a = attributes.get(code)
        if a is None:
            fail("attribute code %d missing from the transcription" % code)
        if a["acronym"] not in group_of:
            fail("attribute %s (%d) is in no group" % (a["acronym"], code))
        typ, width, default = group_of[a["acronym"]]
        if column_type(a["type"]) != typ:
            notes.append("attribute %d %s: S-57 type %s but built-in column type %d"
                         % (code, a["acronym"], a["type"], typ))
        table.append({"code": code, "acronym": a["acronym"], "type": typ, "width": width,
                      "default": default, "letter": a["type"]})
    return table


def xml_attribute_table(attributes, table):
    """The built-in entries and the added attributes, in code order: s57.xml lists them all (an
    entry without a built-in twin takes its width and default from its type when loaded)."""
    by_code = {a["code"]: a for a in table}
    out = []
    for code in XML_ATTRIBUTE_CODES:
        if code in by_code:
            out.append(by_code[code])
            continue
        a = attributes.get(code)
        if a is None:
            fail("attribute code %d missing from the transcription" % code)
        out.append({"code": code, "acronym": a["acronym"], "letter": a["type"]})
    return out


def set_pairs(objects, attributes, codes):
    """The pairs of the classes `codes` in that order, each class A then B then C."""
    code_of = {a["acronym"]: a["code"] for a in attributes.values()}
    pairs = []
    for code in codes:
        obj = objects[code]
        for letter in "ABC":
            for acr in obj["sets"][letter]:
                if acr not in code_of:
                    fail("class %s lists unknown attribute %s" % (obj["acronym"], acr))
                pairs.append((code, code_of[acr], letter))
    return pairs


def builtin_order(pairs):
    moved, after = BUILTIN_MOVED_CLASS
    last = BUILTIN_LAST_PAIR
    if last not in pairs:
        fail("pair %r is not in the catalogue" % (last,))
    rest = [p for p in pairs if p[0] != moved and p != last]
    group = [p for p in pairs if p[0] == moved]
    pos = max(i for i, p in enumerate(rest) if p[0] == after) + 1
    return rest[:pos] + group + rest[pos:] + [last]


def check_figures(objects, table, pairs, notes):
    if len(objects) != EXPECTED_OBJECTS:
        fail("%d object classes, expected %d" % (len(objects), EXPECTED_OBJECTS))
    if len(table) != EXPECTED_ATTRIBUTES:
        fail("%d attributes, expected %d" % (len(table), EXPECTED_ATTRIBUTES))
    for letter, want in EXPECTED_SETS.items():
        got = sum(1 for p in pairs if p[2] == letter)
        if got != want:
            notes.append("set %s: %d pairs, the published catalogue has %d" % (letter, got, want))
    for o in objects.values():
        n = sum(len(v) for v in o["sets"].values())
        if n > 34:
            notes.append("class %s has %d pairs" % (o["acronym"], n))


def cstr(s):
    out = []
    for ch in s:
        if ch in '\\"':
            out.append("\\" + ch)
        elif 32 <= ord(ch) < 127:
            out.append(ch)
        else:
            out.append("\\%03o" % (ord(ch) & 0xFF))
    return '"' + "".join(out) + '"'


def description(obj):
    text = obj["name"].ljust(DESCRIPTION_PAD)
    return text[:OBJECT_DESCRIPTION_MAX]


def gen_builtin(objects, table, pairs):
    out = io.StringIO()
    w = out.write
    w("// s57/dimml_builtin.cpp: the compiled-in S-57 Edition 3 object catalogue, installed when\n")
    w("// s57.xml cannot be loaded. Generated by data/gen_catalogue.py; do not edit.\n\n")
    w('#include "s57/dimml.h"\n\n')
    w("const S57ObjectRec builtinS57Objects[kBuiltinS57ObjectCount] = {\n")
    for code in OBJECT_CODES:
        o = objects[code]
        w("    {%d, %s, %s},\n" % (code, cstr(o["acronym"]), cstr(description(o))))
    w("};\n\n")
    w("const FieldDef builtinS57Attributes[kBuiltinS57AttributeCount] = {\n")
    for a in table:
        w("    {%d, %s, %s, %d, %d},\n" % (a["code"], cstr(a["acronym"]), cstr(a["default"]),
                                           a["type"], a["width"]))
    w("};\n\n")
    w("// Class order, except the group of class %d (after %d) and the pair (%d, %d, %s), last.\n"
      % (BUILTIN_MOVED_CLASS[0], BUILTIN_MOVED_CLASS[1], BUILTIN_LAST_PAIR[0],
         BUILTIN_LAST_PAIR[1], BUILTIN_LAST_PAIR[2]))
    w("const S57SetRec builtinS57Sets[kBuiltinS57SetCount] = {\n")
    for p in builtin_order(pairs):
        w('    {%d, %d, "%s"},\n' % p)
    w("};\n")
    return out.getvalue()


def gen_s57_xml(objects, table, pairs, agencies):
    out = io.StringIO()
    w = out.write
    w('<?xml version="1.0" encoding="UTF-8"?>\n')
    w("<!-- The S-57 Edition 3 object catalogue with the Edition 3.1 classes and attributes, and\n")
    w("     the producing agencies.\n")
    w("     Generated by data/gen_catalogue.py; do not edit. -->\n")
    w("<S57CATALOGUE>\n  <AGENCIES>\n")
    for a in agencies:
        w("    <AGENCY name=%s code=%s/>\n" % (quoteattr(a["label"]), quoteattr(a["code"])))
    w("  </AGENCIES>\n  <OBJECTS>\n")
    for code in XML_OBJECT_CODES:
        o = objects[code]
        w("    <S57OBJECT code=\"%d\" acronym=%s desc=%s/>\n"
          % (code, quoteattr(o["acronym"]), quoteattr(o["name"][:OBJECT_DESCRIPTION_MAX])))
    w("  </OBJECTS>\n  <ATTRIBUTES>\n")
    for a in table:
        w("    <S57ATTRIBUTE code=\"%d\" acronym=%s type=%s/>\n"
          % (a["code"], quoteattr(a["acronym"]), quoteattr(a["letter"])))
    w("  </ATTRIBUTES>\n  <SETS>\n")
    for p in pairs:
        w('    <S57SET object="%d" attr="%d" set="%s"/>\n' % p)
    w("  </SETS>\n</S57CATALOGUE>\n")
    return out.getvalue()


def theme_table(objects, notes):
    """acronym -> theme; every object class with a primitive must have exactly one."""
    theme_of = {}
    for theme, names in THEMES:
        for name in names.split():
            if name in theme_of:
                fail("%s is in themes %s and %s" % (name, theme_of[name], theme))
            theme_of[name] = theme
    by_acronym = {o["acronym"]: o for o in objects.values()}
    for name in theme_of:
        if name not in by_acronym:
            fail("theme table names unknown class %s" % name)
        if not by_acronym[name]["prims"]:
            fail("theme table names %s, which has no primitive" % name)
    for o in objects.values():
        if o["prims"] and o["acronym"] not in theme_of:
            fail("class %s has no theme" % o["acronym"])
    collections = COLLECTIONS.split()
    for o in objects.values():
        if not o["prims"] and o["acronym"] not in collections:
            notes.append("class %d %s has no primitive: no mapping" % (o["code"], o["acronym"]))
    return theme_of


def class_name(theme, prim):
    return CLASS_NAME_OVERRIDES.get((theme, prim), theme + PRIMITIVE_WORDS[prim] + "Feature")


def gen_product_xml(objects, attributes, notes):
    theme_of = theme_table(objects, notes)
    code_of = {a["acronym"]: a["code"] for a in attributes.values()}
    out = io.StringIO()
    w = out.write
    w('<?xml version="1.0" encoding="UTF-8"?>\n')
    w("<!-- The product model: each S-57 object class, for each primitive it is permitted (type\n")
    w("     P, L or A), maps to a themed feature class (GDBOBJECT name) and a subtype (name =\n")
    w("     acronym, code = object class code); each attribute maps to a field named after its\n")
    w("     acronym. GDBOBJECT z=\"1\" marks a class with Z values and a DEPTH field. COLLECTION\n")
    w("     elements are tables without geometry, named after the class acronym.\n")
    w("     Generated by data/gen_catalogue.py; do not edit. -->\n")
    w("<PRODUCT>\n")
    for code in XML_OBJECT_CODES:
        o = objects[code]
        if not o["prims"]:
            continue
        theme = theme_of[o["acronym"]]
        for prim in o["prims"]:
            gdb = class_name(theme, prim)
            z = ' z="1"' if gdb in Z_CLASSES else ""
            w("  <OBJECTMAP>\n")
            w("    <S57OBJECT name=%s code=\"%d\" type=\"%s\"/>\n"
              % (quoteattr(o["acronym"]), code, prim))
            w("    <GDBOBJECT name=%s subtype=%s%s/>\n"
              % (quoteattr(gdb), quoteattr(o["acronym"]), z))
            for letter in "ABC":
                for acr in o["sets"][letter]:
                    w("    <ATTRIBUTEMAP><S57ATTRIBUTE name=%s code=\"%d\" set=\"%s\" qc=\"%d\"/>"
                      "<GDBATTRIBUTE name=%s/></ATTRIBUTEMAP>\n"
                      % (quoteattr(acr), code_of[acr], letter, DEFAULT_QC, quoteattr(acr)))
            w("  </OBJECTMAP>\n")
    for acr in COLLECTIONS.split():
        o = next(x for x in objects.values() if x["acronym"] == acr)
        w("  <COLLECTION name=%s code=\"%d\">\n" % (quoteattr(acr), o["code"]))
        for letter in "ABC":
            for a in o["sets"][letter]:
                w("    <FIELD name=%s code=\"%d\" set=\"%s\"/>\n"
                  % (quoteattr(a), code_of[a], letter))
        w("  </COLLECTION>\n")
    w("</PRODUCT>\n")
    return out.getvalue()


def check_limits(objects, agencies):
    for o in objects.values():
        if len(o["acronym"]) > OBJECT_ACRONYM_MAX:
            fail("acronym %s too long" % o["acronym"])
    for a in agencies:
        if len(a["label"]) > AGENCY_LABEL_MAX or len(a["code"]) > AGENCY_CODE_MAX:
            fail("agency %r too long" % (a,))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--csv-dir", default="/usr/share/gdal")
    ap.add_argument("--check", action="store_true",
                    help="compare with the committed files instead of writing them")
    args = ap.parse_args()

    notes = []
    objects, attributes, agencies = load_transcription(args.csv_dir)
    missing = [c for c in XML_OBJECT_CODES if c not in objects]
    if missing:
        fail("object classes %s missing from the transcription" % missing)
    apply_overrides(objects)
    apply_name_corrections(objects, notes)
    for code, acr in ACRONYM_OVERRIDES.items():
        notes.append("class %d: acronym %r in place of the transcription's %r"
                     % (code, acr, objects[code]["transcribed_acronym"]))
    apply_corrections(objects, notes)
    check_limits(objects, agencies)
    table = attribute_table(attributes, notes)
    xml_table = xml_attribute_table(attributes, table)
    pairs = set_pairs(objects, attributes, OBJECT_CODES)
    xml_pairs = set_pairs(objects, attributes, XML_OBJECT_CODES)
    check_figures({c: objects[c] for c in OBJECT_CODES}, table, pairs, notes)

    outputs = {
        os.path.join(ROOT, "s57", "dimml_builtin.cpp"): gen_builtin(objects, table, pairs),
        os.path.join(HERE, "s57.xml"): gen_s57_xml(objects, xml_table, xml_pairs, agencies),
        os.path.join(HERE, "product.xml"): gen_product_xml(objects, attributes, notes),
    }
    for n in notes:
        print("note: " + n)
    counts = {k: sum(1 for p in pairs if p[2] == k) for k in "ABC"}
    print("built-in: %d object classes, %d attributes, %d pairs (A %d, B %d, C %d)"
          % (len(OBJECT_CODES), len(table), len(pairs), counts["A"], counts["B"], counts["C"]))
    print("s57.xml: %d object classes, %d attributes, %d pairs, %d agencies"
          % (len(XML_OBJECT_CODES), len(xml_table), len(xml_pairs), len(agencies)))
    stale = []
    for path, text in outputs.items():
        if args.check:
            try:
                with open(path, encoding="utf-8") as f:
                    if f.read() != text:
                        stale.append(path)
            except OSError:
                stale.append(path)
        else:
            with open(path, "w", encoding="utf-8", newline="\n") as f:
                f.write(text)
    if stale:
        fail("out of date: " + ", ".join(stale))


if __name__ == "__main__":
    main()
