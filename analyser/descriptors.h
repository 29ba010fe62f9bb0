// Descriptor loops of the SI tables: naming, dumping into the analysis log,
// and the handlers that feed the programme listing and the caption PID.
#pragma once

#include <cstdint>

namespace skerrow {

struct analysis_state;

// body: the descriptor's bytes after tag and length; length: the body bytes
// that exist (never more than the descriptor or the section holds).
using descriptor_handler = void (*)(analysis_state& state, const std::uint8_t* body, int length);

struct descriptor_row {
    int tag;
    const char* name;  // nullptr ends a table
    descriptor_handler handler;
};

// The general table used by every descriptor loop (56 named rows), and the
// table of the SI transmission parameter descriptor's entries (5 rows).
extern const descriptor_row descriptor_names[];
extern const descriptor_row table_names[];

struct descriptor_found {
    int tag;
    const std::uint8_t* body;
};

// Names and dumps the descriptor at `bytes` into the analysis log and runs
// its handler. `available` is how many bytes exist from `bytes` to the end of
// the enclosing loop or section; nothing beyond them is read. Returns the
// descriptor's length byte (0 when not even the two header bytes exist);
// callers advance by it plus 2 and stop at their own bound.
int dump_descriptor(analysis_state& state, const std::uint8_t* bytes, int available,
                    const descriptor_row* table, descriptor_found* found = nullptr);

// Genre names (Shift-JIS) by content_nibble_level_1, and sub-genre names by
// the whole content byte, the latter ended by a row with content 0xFF.
extern const char* const genre_names[16];

struct subgenre_row {
    int content;
    const char* name;
};
extern const subgenre_row subgenre_names[];

}  // namespace skerrow
