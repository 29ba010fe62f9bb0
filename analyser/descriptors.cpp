// Descriptor dumping and the handlers that do more than dump. Descriptor
// lengths come from the air: every handler reads only the body bytes that
// exist and stops where they end.
#include "descriptors.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "analysis_state.h"
#include "arib_text.h"
#include "mjd_time.h"

namespace skerrow {
namespace {

constexpr int provider_name_capacity = 4095;

int be16(const std::uint8_t* p) { return (p[0] << 8) | p[1]; }

void dump_bytes(text_writer& log, const std::uint8_t* p, int n)
{
    for (int i = 0; i < n; ++i)
        log.hex02(p[i]).ch(' ');
}

void dump_body(text_writer& log, const std::uint8_t* body, int length)
{
    log.text(" DATA:");
    dump_bytes(log, body, length);
    log.newline();
}

// The listing takes an event's lines only while the EIT handler has it open
// and the recording's station is known.
text_writer* open_listing(analysis_state& state)
{
    if (!state.event_listing_open || state.event_listing == nullptr || state.provider_name_length <= 0)
        return nullptr;
    return state.event_listing;
}

// A counted ARIB text inside a body: its bytes, cut to what exists.
struct counted_text {
    const std::uint8_t* bytes;
    int length;
};

counted_text text_at(const std::uint8_t* body, int length, int pos, int declared)
{
    if (pos >= length || declared <= 0)
        return {body, 0};
    return {body + pos, std::min(declared, length - pos)};
}

void decode(const counted_text& t, text_writer& out) { decode_arib_text(t.bytes, static_cast<std::size_t>(t.length), out); }

void network_name(analysis_state& state, const std::uint8_t* body, int length)
{
    state.log.text("   Network Name:");
    decode({body, length}, state.log);
    state.log.newline();
}

void service_list(analysis_state& state, const std::uint8_t* body, int length)
{
    for (int i = 0; i + 3 <= length; i += 3)
        state.log.text("    Service:").hex(be16(body + i)).ch(' ').hex(body[i + 2]).newline();
}

void capture_provider_name(analysis_state& state, const counted_text& name)
{
    std::string text;
    decode_arib_text(name.bytes, static_cast<std::size_t>(name.length), text);
    const int n = static_cast<int>(std::min<std::size_t>(text.size(), provider_name_capacity));
    std::memcpy(state.provider_name, text.data(), static_cast<std::size_t>(n));
    state.provider_name[n] = '\0';
    state.provider_name_length = n;
}

// The station name is the service name; it follows the provider name, which
// one-segment services usually leave empty.
void service(analysis_state& state, const std::uint8_t* body, int length)
{
    if (length < 1)
        return;
    state.log.text("    Service type: ").hex(body[0]).newline();
    const int name_length_pos = length >= 2 ? 2 + body[1] : length;
    const int declared = name_length_pos < length ? body[name_length_pos] : 0;
    const counted_text name = text_at(body, length, name_length_pos + 1, declared);
    state.log.text("    Provider name:");
    if (state.provider_name_length == 0)
        capture_provider_name(state, name);
    decode(name, state.log);
    state.log.newline();

    const int after = name_length_pos + 1 + declared;
    if (after < length) {
        const int m = static_cast<signed char>(body[after]);
        state.log.text("    Service name:").dec(m);
        decode(text_at(body, length, after + 1, m), state.log);
        state.log.newline();
    }
}

void short_event(analysis_state& state, const std::uint8_t* body, int length)
{
    if (length < 4)
        return;
    text_writer& log = state.log;
    const int n = body[3];
    const counted_text name = text_at(body, length, 4, n);
    log.text("   LANG:").ch(static_cast<char>(body[0])).ch(static_cast<char>(body[1])).ch(static_cast<char>(body[2])).newline();
    log.text("   Ev NameLen ").hex(n).newline();
    log.text("   Event Name:");
    text_writer* listing = open_listing(state);
    if (listing) {
        listing->text("ProviderName: ").text(state.provider_name).newline();
        listing->text("EventName: ");
        decode(name, *listing);
        listing->newline();
    }
    decode(name, log);
    log.newline();

    const int t_pos = 4 + n;
    const int t = t_pos < length ? body[t_pos] : 0;
    const counted_text text = text_at(body, length, t_pos + 1, t);
    log.text("   Text len :").hex(t).newline();
    log.text("   Event Desc:");
    if (listing) {
        listing->text("EventDesc: ");
        decode(text, *listing);
        listing->newline();
    }
    decode(text, log);
    log.newline();
}

void stream_identifier(analysis_state& state, const std::uint8_t* body, int length)
{
    dump_body(state.log, body, length);
    if (length == 1 && body[0] == 0x87)
        state.caption_pid = state.current_elementary_pid;
}

void write_sjis(text_writer& out, const char* sjis)
{
    char euc[128];
    sjis_to_euc(sjis, euc);
    out.text(euc);
}

const char* subgenre_name(int content)
{
    for (const subgenre_row* row = subgenre_names; row->content != 0xFF; ++row)
        if (row->content == content)
            return row->name;
    return nullptr;
}

void content(analysis_state& state, const std::uint8_t* body, int length)
{
    text_writer* listing = open_listing(state);
    if (!listing)
        return;
    listing->text("ContentNibble: ");
    for (int i = 0; i < length; i += 2) {
        const int g = body[i];
        const char* genre = genre_names[g >> 4];
        listing->ch(' ').hex02(static_cast<unsigned>(g)).ch(' ');
        write_sjis(*listing, genre);
        const char* sub = std::strcmp(genre, "-") == 0 ? nullptr : subgenre_name(g);
        if (sub) {
            listing->ch(' ');
            write_sjis(*listing, sub);
        } else {
            listing->text(" -");
        }
    }
    listing->newline();
}

void ts_information(analysis_state& state, const std::uint8_t* body, int length)
{
    text_writer& log = state.log;
    if (length < 1)
        return;
    log.text("   Remote control key ID:").dec(body[0]).newline();
    log.text("   TS name:").newline();
    if (length < 2)
        return;
    const int loops = body[1] & 3;
    int pos = 2 + (body[1] >> 2);
    for (int l = 0; l < loops && pos + 2 <= length; ++l) {
        log.text("     ServiceType:").hex(body[pos]).newline();
        const int k = body[pos + 1];
        pos += 2;
        log.text("     Services:");
        for (int s = 0; s < k && pos + 2 <= length; ++s, pos += 2)
            log.hex04(static_cast<unsigned>(be16(body + pos))).ch(' ');
        log.newline();
    }
}

void si_transmission(analysis_state& state, const std::uint8_t* body, int length)
{
    if (length < 1)
        return;
    state.log.text("     Version:").hex(body[0]).newline();
    state.log.text("     Update Time:");
    if (length < 3)
        return;
    // Only the date is sent; the zero time of day makes the line invalid, so
    // nothing is written and the next text continues on this line.
    const std::uint8_t date[5] = {body[1], body[2], 0, 0, 0};
    format_mjd_time(date, &state.log);
    for (int pos = 3; pos < length;)
        pos += dump_descriptor(state, body + pos, length - pos, table_names) + 2;
}

void terrestrial_delivery(analysis_state& state, const std::uint8_t* body, int length)
{
    text_writer& log = state.log;
    if (length < 2)
        return;
    log.text("   Area:").hex((body[0] << 4) | (body[1] >> 4)).newline();
    log.text("   Guard Itv: ").hex((body[1] >> 2) & 3).newline();
    log.text("   Trans mode: ").hex(body[1] & 3).newline();
    for (int i = 2; i + 2 <= length; i += 2)
        log.text("   Freq:").dec(be16(body + i)).newline();
}

void partial_reception(analysis_state& state, const std::uint8_t* body, int length)
{
    for (int i = 0; i + 2 <= length; i += 2)
        state.log.text("     Service ID:").hex04(static_cast<unsigned>(be16(body + i))).newline();
}

const char* data_component_text(int id)
{
    static const char* const texts[] = {
        "ARIB XML Base MM coding\n",
        "ARIB Subtitle and teletext\n",
        "Data download\n",
        "G guide\n",
        "BML for CS\n",
        "MM coding for Telestrial A profile\n",
        "MM coding for Telestrial C profile\n",
        "MM coding for Telestrial P profile\n",
        "MM coding for Telestrial E profile\n",
        "Real time data mobile\n",
        "Accumlation type data\n",
        "subtitle coding\n",
        "MM coding for Telestrial P2 profile\n",
        "Data carousel\n",
        "DSM-CC\n",
        "Language type\n",
    };
    return id >= 0x07 && id <= 0x16 ? texts[id - 0x07] : "";
}

void data_component(analysis_state& state, const std::uint8_t* body, int length)
{
    if (length < 2)
        return;
    const int id = be16(body);
    state.log.text("     Component ID:").hex(id).ch(' ').text(data_component_text(id));
    state.log.text("     DATA:");
    dump_bytes(state.log, body + 2, length - 2);
    state.log.newline();
}

}  // namespace

const descriptor_row descriptor_names[] = {
    {0x40, "Network Name", network_name},
    {0x41, "Service List", service_list},
    {0x48, "Service Descriptor", service},
    {0x4D, "Short Event", short_event},
    {0x52, "Stream Identifier", stream_identifier},
    {0x54, "Content", content},
    {0xCD, "TS information", ts_information},
    {0xD7, "SI transmission", si_transmission},
    {0xFA, "Terrestrial delivery", terrestrial_delivery},
    {0xFB, "partial reception", partial_reception},
    {0xFD, "Data component", data_component},
    {0x09, "Conditional Access Method", nullptr},
    {0x0D, "Copyright", nullptr},
    {0x28, "AVC video", nullptr},
    {0x2A, "AVC timing HRD", nullptr},
    {0x42, "Stuffing Byte", nullptr},
    {0x43, "Satellite Delivery System", nullptr},
    {0x47, "Bouquet name", nullptr},
    {0x49, "Country availability", nullptr},
    {0x4A, "Linkage", nullptr},
    {0x4B, "NVOD", nullptr},
    {0x4C, "Time Shift service", nullptr},
    {0x4E, "Extended Event", nullptr},
    {0x4F, "Time shoft event", nullptr},
    {0x50, "Component Descriptor", nullptr},
    {0x51, "Mosaic descriptor", nullptr},
    {0x53, "CA identifier", nullptr},
    {0x55, "Parental rating", nullptr},
    {0x58, "Local time offset", nullptr},
    {0xC0, "Hierarchical transmission", nullptr},
    {0xC1, "Digital Copy", nullptr},
    {0xC4, "Audio Component", nullptr},
    {0xC5, "Hyperlink", nullptr},
    {0xC6, "Target region", nullptr},
    {0xC7, "Data contents", nullptr},
    {0xC8, "Video decode control", nullptr},
    {0xCE, "extended broadcaster", nullptr},
    {0xCF, "Logo transmission", nullptr},
    {0xD0, "basic local event", nullptr},
    {0xD1, "reference", nullptr},
    {0xD2, "node relation", nullptr},
    {0xD3, "short node information", nullptr},
    {0xD4, "STC reference", nullptr},
    {0xD5, "Series", nullptr},
    {0xD6, "Event group", nullptr},
    {0xD8, "Broadcaster name", nullptr},
    {0xD9, "component group", nullptr},
    {0xDA, "SI prime TS", nullptr},
    {0xDB, "Board Information", nullptr},
    {0xDC, "LDT linkage", nullptr},
    {0xE0, "Service Group", nullptr},
    {0xDD, "Connected transmission", nullptr},
    {0xDE, "carousel compatible compsite", nullptr},
    {0xF8, "Restricted Playback", nullptr},
    {0xFC, "Emergency Infomation", nullptr},
    {0xFE, "System Management", nullptr},
    {0, nullptr, nullptr},
};

const descriptor_row table_names[] = {
    {0x40, "NIT", nullptr},
    {0xC4, "BIT", nullptr},
    {0x42, "SDT", nullptr},
    {0x4E, "EITs", nullptr},
    {0x50, "H-EIT", nullptr},
    {0, nullptr, nullptr},
};

int dump_descriptor(analysis_state& state, const std::uint8_t* bytes, int available,
                    const descriptor_row* table, descriptor_found* found)
{
    if (available < 2)
        return 0;
    text_writer& log = state.log;
    const descriptor_row* row = table;
    while (row->name != nullptr && row->tag != bytes[0])
        ++row;
    log.text("DESCRIPTOR:\n");
    log.text(" Tag:").hex(bytes[0]).ch(' ').text(row->name ? row->name : "Unknown").newline();
    const int length = bytes[1];
    log.text(" Length:").hex(length).newline();
    const std::uint8_t* body = bytes + 2;
    if (found) {
        found->tag = bytes[0];
        found->body = body;
    }
    const int body_length = std::min(length, available - 2);
    if (row->handler)
        row->handler(state, body, body_length);
    else
        dump_body(log, body, body_length);
    return length;
}

}  // namespace skerrow
