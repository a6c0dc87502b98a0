// s57/s57_codec.h: one S-57 subfield value between its binary form (as the ISO 8211 library hands
// it out, or the bytes a binary subfield holds) and its ASCII form, chosen by the subfield label;
// plus the small number and text helpers the converter builds values with.
//
// Results: 0 success; -10 a value that does not fit its label (not in the label's table, too long
// for its width, out of range of its binary width, a composite value of the wrong length); -11 a
// label the codec does not know (and prependZero's "too long"); -19 a bad argument; -1 no memory.
// The codec logs only its two allocation failures (to logFile) and the RCNM line (stderr).
#pragma once

#include <cstdint>
#include <string>

// Longest ASCII form bin2ascii writes, without its terminator: `out` must hold one more byte.
// A pass-through value longer than this is refused with -10.
inline constexpr int kCodecTextMax = 1024;

// ASCII form of a binary subfield value. `value` is the library's decimal text for a binary
// number, or the raw bytes of NAME, NAM1, NAM2 (5 bytes) and LNAM (8 bytes). `out` may be `value`
// itself. 0, -10, -11, -19.
[[nodiscard]] int bin2ascii(const char* label, const char* value, char* out);

// The same with the value's byte count known (the record layer's form): a NAME that is not 5 bytes
// or an LNAM that is not 8 bytes is refused with -10 instead of being read past its end.
[[nodiscard]] int bin2ascii(const char* label, const char* value, long length, char* out);

// The rules of one label, found once for the many values a reader decodes with them: null for a
// label the codec does not know. bin2asciiAs(codecLabel(label), value, length, out, false) is
// bin2ascii(label, value, length, out); quiet leaves out the RCNM line on stderr, for a reader
// that hands a refused value to bin2ascii afterwards to be reported there, once.
struct CodecLabel;
const CodecLabel* codecLabel(const char* label);
[[nodiscard]] int bin2asciiAs(const CodecLabel* rules, const char* value, long length, char* out, bool quiet);
// Whether the rules give a value back unchanged (up to its first NUL): coordinates, counts.
bool codecKeepsValue(const CodecLabel* rules);

// Binary form of an ASCII subfield value. out receives the bytes (texts: the text and its NUL),
// `length` the value's byte count, `bytes` the count to write (length + 1 for texts, else length).
// out must hold strlen(text) + 1 bytes and at least 8. 0, -10, -11, -19.
[[nodiscard]] int ascii2bin(const char* label, char* out, const char* text, int* length, int* bytes);

// Parses the decimal text in `buffer` and writes it back in place as a little-endian integer of
// `width` bytes (1, 2 or 4; anything else is 4); signedness 1 unsigned, any other value signed.
// `length` := the width used. buffer must hold max(strlen + 1, width) bytes. Blanks around the
// number are allowed and an empty text is 0. A text that is not a number, or a number outside the
// range of the width, is refused with -10 and leaves the buffer as it was; -19 for null arguments.
[[nodiscard]] int packInteger(int signedness, int width, char* buffer, int* length);

// Decimal text of a value, malloc'ed (the caller frees it); null, with "iota: unable to allocate
// memory" in the log, when memory runs out.
char* iota(uint32_t value);
char* iota(int32_t value);

// *out := malloc'ed copy of text left-padded with '0' to exactly `width` characters (the caller
// frees it). -11 text longer than width; -1 no memory (logged); -19 null text or out, width < 1
// ("prependZero : Illegal Parameter" on stderr).
[[nodiscard]] int prependZero(const char* text, int width, char** out);

// Reverses a text in place; nothing for null.
void reverseString(char* text);

// Little-endian file order <-> host order.
uint16_t fromLittleEndian16(const void* bytes);
uint32_t fromLittleEndian32(const void* bytes);
void toLittleEndian16(uint16_t value, void* bytes);
void toLittleEndian32(uint32_t value, void* bytes);

// Text of the lexical level 2 fields (NATF, field controls ending "%/A"): UCS-2 little-endian in
// the file, UTF-8 in the converter. ucs2ToUtf8 stops at the first U+0000 (the layer's values are
// NUL-terminated); a surrogate pair becomes one character, a lone surrogate or an odd last byte is
// kept as a code point of its own. utf8ToUcs2 writes characters beyond U+FFFF as surrogate pairs
// and takes a byte that begins no valid sequence as the Latin-1 character it codes, so that no
// text is lost. Both are the string layer's level 2 conversions (lexicalToUtf8, utf8ToLexical).
std::string ucs2ToUtf8(const char* bytes, long length);
std::string utf8ToUcs2(const char* text, long length);
