// Caption PES packets: only the part in the packet that starts a PES packet is
// read, and every field is taken from that packet's payload; whatever a size
// field claims beyond the payload is not there and is not read.
#include "captions.h"

#include <algorithm>
#include <cstdio>

#include "analysis_state.h"
#include "ts_packet.h"

namespace skerrow {
namespace {

// Bounded read position inside the one payload.
struct cursor {
    const std::uint8_t* pos;
    const std::uint8_t* end;

    bool has(int n) const { return end - pos >= n; }
    int left() const { return static_cast<int>(end - pos); }
    // Moves on by n; false (and at the end) when fewer than n bytes exist.
    bool skip(int n)
    {
        if (!has(n)) {
            pos = end;
            return false;
        }
        pos += n;
        return true;
    }
    int u8() { return *pos++; }
    int u24()
    {
        const int v = (pos[0] << 16) | (pos[1] << 8) | pos[2];
        pos += 3;
        return v;
    }
};

constexpr bool is_pair_byte(std::uint8_t b) { return b >= 0xA1 && b <= 0xFE; }

// Appends one two-byte character of a statement body: JIS X 0208 pairs as
// they are (they are EUC-JP already), the arrow and the note, and a marker for
// any other additional symbol.
char* put_pair(char* out, std::uint8_t first, std::uint8_t second)
{
    if (first < 0xF4 || (first == 0xF4 && second <= 0xA6)) {
        *out++ = static_cast<char>(first);
        *out++ = static_cast<char>(second);
        return out;
    }
    const int f = first & 0x7F, s = second & 0x7F;
    if (f == 0x7C && s == 0x21) {
        *out++ = '\xA2';
        *out++ = '\xAA';  // →
    } else if (f == 0x7D && s == 0x7A) {
        *out++ = '\xA2';
        *out++ = '\xF6';  // ♪
    } else {
        out += std::snprintf(out, 14, "[UNK%02x%02x]", f, s);
    }
    return out;
}

// One .sub line: the caption time, a space and the two-byte characters of the
// body. Controls, their parameters and one-byte characters are left out; a
// lead byte not followed by a second pair byte is dropped with it, so no
// control byte can reach the line.
void write_sub_line(analysis_state& state, const std::uint8_t* body, int n)
{
    char line[9 + (max_statement_body / 2) * 13 + 2];
    char* out = std::copy_n(state.caption_time, 8, line);
    *out++ = ' ';
    int first = -1;
    for (int i = 0; i < n; ++i) {
        const std::uint8_t b = body[i];
        if (first < 0) {
            if (is_pair_byte(b))
                first = b;
        } else {
            if (is_pair_byte(b))
                out = put_pair(out, static_cast<std::uint8_t>(first), b);
            first = -1;
        }
    }
    *out++ = '\n';
    state.captions.bytes(line, static_cast<std::size_t>(out - line));
}

// Units are read while the loop's declared bytes are not used up, each as far
// as the payload reaches. Returns false when the payload ended inside the loop.
bool data_unit_loop(analysis_state& state, cursor& c)
{
    if (!c.has(3))
        return false;
    const int loop_length = c.u24();
    state.log.text(" LOOP:").dec(loop_length);
    cursor unit = c;
    for (int remaining = loop_length; remaining > 0 && unit.has(5);) {
        const int separator = unit.u8();
        const int parameter = unit.u8();
        const int size = unit.u24();
        state.log.text(" SEP:").hex02(static_cast<unsigned>(separator));
        state.log.text(" PARAM:").hex02(static_cast<unsigned>(parameter));
        state.log.text(" SIZE:").dec(size);
        if (parameter == 0x20 && size < max_statement_body)
            write_sub_line(state, unit.pos, std::min(size, unit.left()));
        if (!unit.skip(size))
            break;
        remaining -= 5 + size;
    }
    return c.skip(loop_length);
}

void management_data(analysis_state& state, cursor& c, int group_id)
{
    if (!c.has(2))
        return;
    const int tmd = c.u8() >> 6;
    state.log.text(" S_TMD:").dec(tmd);
    if (tmd == 2 && !c.skip(5))
        return;
    if (!c.has(1))
        return;
    const int languages = c.u8();
    state.log.text(" S_NUMLANG:").dec(languages);
    for (int i = 0; i < languages; ++i) {
        if (!c.has(1))
            return;
        const int b = c.u8();
        const int tag = b >> 5, dmf = b & 0x0F;
        state.log.text(" L_TAG:").dec(tag).text(" L_DMF:").dec(dmf);
        if (dmf >= 0xC && dmf <= 0xE && !c.skip(1))
            return;
        if (!c.has(4))
            return;
        if (c.pos[0] == 'j' && c.pos[1] == 'p' && c.pos[2] == 'n') {
            state.selected_statement_group = tag + (group_id == 0x00 ? 1 : 0x21);
            state.log.text(" L_JIMAKU_GROUP:").hex(static_cast<unsigned>(state.selected_statement_group));
        }
        c.skip(4);  // language code, then format / TCS / roll-up mode
    }
    data_unit_loop(state, c);
}

void statement_data(analysis_state& state, cursor& c, int group_size)
{
    while (group_size > 0 && c.has(1)) {
        const std::uint8_t* round_start = c.pos;
        const int tmd = c.u8() >> 6;
        state.log.text(" TMD:").dec(tmd);
        if ((tmd == 1 || tmd == 2) && !c.skip(5))
            return;
        if (!data_unit_loop(state, c))
            return;
        group_size -= static_cast<int>(c.pos - round_start);
    }
}

void caption_data_group(analysis_state& state, cursor& c)
{
    const int b = c.u8();
    const int id = b >> 2, version = b & 3;
    const int link = c.u8();
    const int last_link = c.u8();
    const int size = (c.pos[0] << 8) | c.pos[1];
    c.skip(2);
    state.log.text(" SUB: id:").dec(id).text(" ver:").dec(version).text(" link:").dec(link);
    state.log.text(" lg:").dec(last_link).text(" size:").dec(size);
    if (id == 0x00 || id == 0x20)
        management_data(state, c, id);
    else if (id == state.selected_statement_group)
        statement_data(state, c, size);
    state.log.newline();
}

}  // namespace

int handle_caption_packet(analysis_state& state, pid_entry&, ts_packet* packet)
{
    const int offset = packet->offset;
    if (offset >= 0 && offset <= ts_packet_size && state.captions.is_open()) {
        cursor c{packet->data + offset, packet->data + ts_packet_size};
        if (c.has(9) && c.pos[0] == 0x00 && c.pos[1] == 0x00 && c.pos[2] == 0x01) {
            // PES header, then data_identifier, private_stream_id and the
            // PES data packet header length before the data group.
            const int header_data_length = c.pos[8];
            if (c.skip(9 + header_data_length + 3) && c.has(5))
                caption_data_group(state, c);
        }
    }
    release_packet(state, packet);
    return 0;
}

}  // namespace skerrow
