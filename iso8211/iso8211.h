// iso8211/iso8211.h: the ISO/IEC 8211 library: open-file list, DDR reading and writing, data record
// reading and writing, subfield values, format controls, conversions and dumps.
//
// Every file the library has open is one `fm` record in a program-wide list; every operation works on
// the current file and selects it by stream first (find123file). Functions return 1 for success and 0
// for failure and write their diagnostics to the standard error stream. The record layer reads and
// sets the status members of the current `fm` (dd_cur, dd_hd, sf_state_dd, sf_state_dr, dr_cur,
// dv_cur, vset_cur) directly: cur_fm() gives the current file.
//
// Not thread-safe: one list and one current pointer, used from one thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Delimiters of the format.
constexpr char FT = 0x1e;            // field terminator
constexpr char UT = 0x1f;            // unit terminator
constexpr char EMPTY_MARK = '\xff';  // stands for an empty delimited value before splitting

constexpr int MAX_TAG = 7;              // longest tag
constexpr int MAX_DELIM_FIELD = 128000;  // longest field on the delimited array path

// Status codes of the subfield walk (next123sfld, test123eof, raw123sfld).
enum : int {
    S_FAIL = 0,        // failure
    S_SUBFIELD = 1,    // an ordinary subfield
    S_RECSTART = 2,    // first subfield of a record
    S_RECEND = 3,      // last subfield of the record
    S_EOF = 4,         // end of file
    S_FLDEND = 5,      // last subfield of a field
    S_FLDSTART = 6,    // first subfield of a later field
};

// One pair of tags of the file-control field.
struct tag_pair {
    char tag_1[MAX_TAG + 1];
    char tag_2[MAX_TAG + 1];
    tag_pair* next;
};

// The file-control field (tag 0000) and the user application field (0002).
struct filectl {
    char* f_title;    // heap string or null
    tag_pair* tag_l;  // list of tag pairs
    char* u_afd;      // heap text of field 0002, or null
};

struct ddleader {
    std::int32_t rec_len;
    std::int32_t ilevel;
    char lead_id;
    char ice_ind;
    char resv_sp;
    char appl_ind;
    std::int32_t fd_cntrl_l;
    std::int32_t da_base;
    char ccs_ind[4];
    std::int32_t s_fdlen;
    std::int32_t s_fdpos;
    std::int32_t s_resv;
    std::int32_t s_tag;
};

struct drleader {
    std::int32_t rec_len;
    char resv_sp;
    char lead_id;
    char s_resv[6];
    std::int32_t da_base;
    char r_space[4];
    std::int32_t s_fdlen;
    std::int32_t s_fdpos;
    std::int32_t sp_rsrv;
    std::int32_t s_tag;
};

// Node of a dimension-length list (the list has an empty head node) or of the repetition stack.
struct dmnode {
    std::int32_t length;
    dmnode* nxt;
};
struct repnode {
    std::int32_t rep_num;
    repnode* next;
};

// Label tree: labels of one set chained by nxt_lab, sets chained (from their first label) by nxt_lset.
struct lnode {
    char* label;
    lnode* nxt_lab;
    lnode* nxt_lset;
    std::int32_t len;  // length of label
};

// Label-pointer list: one node per label set, used to walk the labels of a field.
struct lpnode {
    lpnode* next;
    lnode* first;
    lnode* cur;
};

// Node of a format tree. The root is a group with repeat count 1; a leaf has rep_no 0.
struct fnode {
    std::int32_t rep_no;  // repeat count of a group; 0 for a plain item
    char d_type;          // format type ('A', 'I', 'R', 'L', 'M', 'B', ...); 0 for a group
    char b_type;          // extended binary type ('1' unsigned, '2' signed ...)
    std::int32_t width;   // bytes or characters (bits for 'B'); 0 when delimited
    char delim;           // delimiter; 0 for the unit terminator
    fnode* nxt_lev;       // first member of a group
    fnode* next;          // next item at the same level
    fnode* back;          // enclosing group
    char desc[16];        // a leaf as desc123sfld describes it ("L14", "A(8)", "B(40)")
    std::int32_t desc_len;
};

// One field description of the DDR.
struct ddfield {
    char tag[MAX_TAG + 1];
    std::int32_t fd_len;
    std::int32_t fd_pos;
    char fd_cntrl[10];     // field controls; [0] structure code, [1] data type code
    char* name;            // heap text, or null
    std::int32_t dim_num;  // fixed dimensions (0 when they come with the data)
    dmnode* dim_lptr;      // fixed dimension lengths (head node first), or null
    std::int32_t dim_vals; // values per repetition derived from the fixed dimensions
    lnode* labels;         // label tree, or null
    fnode* fmt_rt;         // format tree, or null
    ddfield* next;
    std::string* lab_text;   // the label of each position in a repetition, joined with "!"
    std::int32_t lab_count;  // entries of lab_text (0: walk the label pointers instead)
    fnode** fmt_seq;         // the leaves of fmt_rt in the order get123fmt returns them, one pass
    std::int32_t seq_len;    // entries of fmt_seq (0: walk the tree instead)
    std::int32_t seq_again;  // where the walk resumes after the last entry
};

// The values of a field: the head node's nxt_vset leads to the first value of the first repetition;
// the first values of repetitions are chained by nxt_vset, values of one repetition by nxt_vptr.
struct vnode {
    char* value;          // the value bytes (text is NUL-terminated); null for an empty value
    std::int32_t length;  // byte count of value
    vnode* nxt_vptr;
    vnode* nxt_vset;
    const fnode* fmt;     // the format item the value was read with, or null
};

// One field of the current data record.
struct drfield {
    char tag[MAX_TAG + 1];
    std::int32_t fd_len;
    std::int32_t fd_pos;
    std::int32_t num_dim;  // dimensions of an array field given with the data; 0 otherwise
    dmnode* dim_lptr;      // dimension lengths (head node first), or null
    vnode* values;         // head of the value lists, or null
    drfield* next;
    ddfield* desc;         // this field's description (found by tag when the record is loaded)
};

// One node of the record-start list.
struct rp {
    std::int32_t dr_start;
    rp* next;
    rp* back;
};

struct fm_priv;  // the library's own bookkeeping of one file

// The state of one open file. Members 1-30 in the documented order; priv is internal.
struct fm {
    std::FILE* fp;
    char* f_name;
    char open_mode;  // 'r' or 'w'
    filectl* cr_hd;
    ddfield* dd_hd;
    ddleader* dl_hd;
    drfield* dr_hd;
    lpnode* lp_hd;
    drleader* rl_hd;
    repnode* rs_hd;
    rp* rec_loc_hd;
    ddfield* dd_cur;
    dmnode* dim_cur;
    drfield* dr_cur;
    vnode* dv_cur;
    vnode* vset_cur;
    fnode* fmt_cur;
    lpnode* lp_cur;
    lnode* lab_cur;
    fnode* fmt_root_cur;
    rp* rec_loc_cur;
    rp* nld_loc;
    int nld;
    std::int32_t bit_cnt;
    char bit_bin;
    int compress;
    int sf_state_dd;  // 0 none, 1 controls next, 2 name, 3 labels/dims, 4 format, 5 complete
    int sf_state_dr;  // 1 field start, 2 dimension lengths, 3 values, 4 field finished
    fm* next;
    fm* back;
    fm_priv* priv;
};

// The current file (null when none is selected).
fm* cur_fm();

// ---- open files (open.cpp) ------------------------------------------------------------------------
// open123file: 'r'/'R' reads level, ice and ccs from the first leader; 'w'/'W' creates the DDR leader
// from them. On return the list head is current: select the file (find123file) before working on it.
int open123file(const char* name, char mode, long* level, char* ice, char* ccs, std::FILE** fp);
int find123file(std::FILE* fp);
int close123file(std::FILE** fp);
int test123eof(std::FILE* fp, int* status);
int trunc123file(std::FILE** fp, long length);

// ---- DDR reading, descriptions as text (ddr_read.cpp) -------------------------------------------
int read123ddr();
int start123ddr(std::FILE* fp);
int find123ddfld(const char* tag);
// 1 when d, a description of the current file, carries the UCS-2 escape "%/A" in its field controls
// (positions 7 to 9) at a level above 1: its delimited values are UCS-2 bytes ending at two-byte
// terminators (UT 00 or FT 00, aligned to the value's start) and the field at FT 00. The values are
// handed out and taken as their bytes, without the terminator; binary items are unchanged.
int is123ucs2(const ddfield* d);
int load123pairs(const char* text);
int text123ddlead(std::string& out);
int text123ddir(std::string& out);
int text123drlead(std::string& out);
int text123drdir(std::string& out);
int text123ddsfld(std::string& out);
int text123ddfld(std::string& out);
int text123fmt(std::string& out);
int text123fmtnum(std::string& out);
int text123labels(std::string& out);
int text123dims(std::string& out);
int desc123fld(std::FILE* fp, std::string& tag, std::string& len, std::string& name,
               std::string& cntrl, std::string& fmt, std::string& labels);
int raw123ddr(std::FILE* fp, std::string& bytes, int* status);

// ---- DDR writing (ddr_write.cpp) -------------------------------------------------------------------
int wr123ddsfld(std::FILE* fp, const char* tag, const char* value, int option);
int wr123ddfld(std::FILE* fp, const char* tag, const char* text, int option);
int finish123ddr(std::FILE* fp);
int write123ddr();
int pos123ddflds();
int lead123ddr();
int verify123ddtags();
int drop123ddr(std::FILE* fp);
int drop123ddfld(std::FILE* fp);
int drop123ddsfld(std::FILE* fp);
int put123rawddr(std::FILE* fp, const char* text, int* status);

// ---- format controls, labels, dimensions (format.cpp) --------------------------------------------
int parse123fmt(const char* text);
int parse123labels(const char* text);
int parse123dims(const char* text);
int get123fmt(char* type, char* ext, long* width, char* delim);
int push123rep(long count);
int pop123rep(long* count);
int emit123fmt(std::FILE* fp, const fnode* tree);
int emit123fmtnum(std::FILE* fp, const fnode* tree);
fnode* free123fmt(fnode* tree);
lnode* free123labels(lnode* tree);
dmnode* free123list(dmnode* list);
repnode* free123list(repnode* list);
vnode* free123values(vnode* values);

// ---- data records (rec_read.cpp) -------------------------------------------------------------------
// ld123rec: 0 without a message at a clean end of file; every other failure says why on stderr. A
// record length that disagrees with the directory is repaired (with a message): the directory
// decides where fields end, and a field holding binary items ends at its directory length.
int ld123rec();
int load123fld(const char** cur, const char* end, int option);
int get123dval(const char** cur, const char* end, char type, char ext, long* width, char delim,
               int option, std::string& value);
int ret123fv(const char** cur, const char* end, long per_rep, long fld_len, int option);
int ret123dv(const char* text, long text_len, long per_rep);
int get123dim(const char** cur, const char* end, long* ndim, long* first);
int ret123pdm(long* count);
int g123bstr(const char** cur, const char* end, std::string& value, long bits, int option);
int g123dstr(const char** cur, const char* end, std::string& value, char delim);
int g123sstr(const char** cur, const char* end, std::string& value, long width);
int unread123rec(std::FILE* fp, int* status);
int raw123rec(std::FILE* fp, std::string& bytes, long* length, int* status);
// tell123rec: where the record last loaded (read mode) begins. seek123rec: positions the file before
// the record beginning at `start` (a position tell123rec gave), as if the records before it had not
// been read: unread123rec cannot back up past it. Refused (0) in write mode and in a file where a record
// with an 'R' leader was loaded: its records do not stand alone.
int tell123rec(std::FILE* fp, long* start);
int seek123rec(std::FILE* fp, long start);
int empty123rec();

// ---- subfields (sfld_read.cpp) ---------------------------------------------------------------------
// next123sfld: tag receives the field tag, value the subfield's text (a bit string: its bytes), length
// its byte count. 0 with status 4 at a clean end of file (between records), 0 with status 0 when a
// record cannot be read (the reason is on stderr). The value nodes behind dv_cur and vset_cur live
// until the next record is loaded or the file is closed.
int next123sfld(std::FILE* fp, std::string& tag, char* leadid, std::string& value, long* length,
                int* status);
int desc123sfld(std::FILE* fp, std::string& tag, std::string& label, std::string& fmt);
int build123lp();
int step123labels();
int free123lp();
int back123fld();
int back123sfld(std::FILE* fp, int* status);
int back123val();
int desc123next(std::FILE* fp, std::string& tag, std::string& len, std::string& name,
                std::string& cntrl, std::string& fmt, std::string& labels);
int read123fld(std::FILE* fp, long* length, char* leadid, std::string& text);
int rw123sfld(std::FILE* fp, std::string& tag, char* leadid, std::string& value, long* length,
              int* status, std::string& label, std::string& fmt, int option);

// ---- writing data records (rec_write.cpp) ---------------------------------------------------------
// put123sfld / store123sfld: binary items take exactly their width in bytes, a bit string at least
// its bytes; a fixed-width text shorter than its width is padded with blanks, a longer one refused;
// a delimited text may not hold its delimiter or a field terminator (in a UCS-2 field, see is123ucs2:
// their two-byte forms at an even offset). A refused value changes nothing.
int beg123rec(std::FILE* fp);
int flush123rec(std::FILE* fp);
int put123sfld(std::FILE* fp, const char* tag, char leadid, const char* value, long length,
               int option);
int store123sfld(const char* value, long length);
int write123dr();
int pos123drflds();
int lead123dr();
int verify123drtags();
int raw123sfld(std::FILE* fp, std::string& tag, char* leadid, std::string& bytes, long* length,
               int* status);
int put123fld(std::FILE* fp, const char* tag, char leadid, const char* bytes, long length,
              int option);
int drop123fld(std::FILE* fp, int* status);
int put123rawrec(std::FILE* fp, const char* bytes, long length, int* status);
int put123num(std::FILE* fp, long value, int width);

// A data record put whole, as put123sfld would take it value by value (the first value of the first
// field with option 2 and the leader identifier 'D') and flush123rec would write it, in one pass
// without building the record's field and value lists. 1 written; 0 nothing done: a value the
// subfield path refuses, a field without description, or a record it does not handle (a leader
// reused from an 'R' record, dimensions in the data, an interchange level below 3), which the
// caller then puts subfield by subfield to the same result; -1 the write failed.
// Any record pending from put123sfld is written first, as beg123rec does.
struct put123value {
    const char* value;
    long length;
};
struct put123field {
    const char* tag;
    const put123value* values;
    long count;
};
int put123rec(std::FILE* fp, const put123field* fields, long count);

// ---- conversions, text helpers (convert.cpp) ------------------------------------------------------
int i2to123b(std::int16_t v, char* out, int reverse);
int i4to123b(std::int32_t v, char* out, int reverse);
int u4to123b(std::uint32_t v, char* out, int reverse);
int i4sto123b(const std::int32_t* v, long count, char* out, int reverse);
int b123toi2(const char* in, std::int16_t* v, int reverse);
int b123toi4(const char* in, std::int32_t* v, int reverse);
int b123tou4(const char* in, std::uint32_t* v, int reverse);
int b123tod8(const char* in, double* v, int reverse);
int byte123order(int* code);
int uint123txt(unsigned long v, std::string& out);
int sint123txt(long v, std::string& out);
int int123txt(long v, std::string& out);
int rev123txt(char* text);
int div123int(long dividend, long divisor, long* quot, long* rem);
int get123fstr(std::FILE* fp, std::string& out, long count);
int read123str(std::FILE* fp, std::string& out, long count);
int read123int(std::FILE* fp, long* value, long count);
int scan123str(const char** cur, const char* end, std::string& out, long count);
int scan123int(const char** cur, const char* end, long* value, long count);
int mark123empty(std::string& text);
char* next123tok(char* text, const char* delims, char** save);
int asc123ebc(char* text);
int ebc123asc(char* text);
int cat123conv(std::string& out, const char* text);
extern int asc2ebc_switch;  // both off
extern int ebc2asc_switch;

// ---- dumps (dump.cpp) -----------------------------------------------------------------------------
int hex123str(const char* bytes, long count, int group, std::string& out);
int hex123plain(const char* bytes, long count, std::string& out);
