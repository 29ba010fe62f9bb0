// Caption packets in, .sub lines and analysis-log fragments out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "captions.h"
#include "decoder_test_util.h"
#include "ts_packet.h"

namespace skerrow {
namespace {

using test::euc;
using bytes = std::vector<std::uint8_t>;

void append(bytes& to, const bytes& what) { to.insert(to.end(), what.begin(), what.end()); }

bytes be24(int v) { return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}; }

bytes unit(std::uint8_t parameter, const bytes& body, int declared_size = -1)
{
    bytes u = {0x1F, parameter};
    append(u, be24(declared_size < 0 ? static_cast<int>(body.size()) : declared_size));
    append(u, body);
    return u;
}

bytes unit_loop(const std::vector<bytes>& units)
{
    bytes all;
    for (const bytes& u : units)
        append(all, u);
    bytes loop = be24(static_cast<int>(all.size()));
    append(loop, all);
    return loop;
}

// Caption statement data with TMD 0 (free) and one data unit loop.
bytes statement(const std::vector<bytes>& units)
{
    bytes s = {0x3F};
    append(s, unit_loop(units));
    return s;
}

struct language {
    int tag;
    int dmf;
    const char* code;
};

bytes management(const std::vector<language>& languages, int tmd = 0)
{
    bytes m = {static_cast<std::uint8_t>((tmd << 6) | 0x3F)};
    if (tmd == 2)
        append(m, {0x00, 0x00, 0x00, 0x00, 0x0F});  // OTM and reserved bits
    m.push_back(static_cast<std::uint8_t>(languages.size()));
    for (const language& l : languages) {
        m.push_back(static_cast<std::uint8_t>((l.tag << 5) | 0x10 | l.dmf));
        if (l.dmf >= 0xC && l.dmf <= 0xE)
            m.push_back(0x00);  // DC
        append(m, {static_cast<std::uint8_t>(l.code[0]), static_cast<std::uint8_t>(l.code[1]),
                   static_cast<std::uint8_t>(l.code[2]), 0x00});
    }
    append(m, unit_loop({}));
    return m;
}

bytes data_group(int id, const bytes& data, int declared_size = -1)
{
    const int size = declared_size < 0 ? static_cast<int>(data.size()) : declared_size;
    bytes g = {static_cast<std::uint8_t>(id << 2), 0x00, 0x00, static_cast<std::uint8_t>(size >> 8),
               static_cast<std::uint8_t>(size)};
    append(g, data);
    append(g, {0xAB, 0xCD});  // CRC_16, not examined
    return g;
}

// A private-stream PES packet carrying the data group, after an optional
// adaptation field, in one transport packet.
bytes pes(const bytes& group, int header_data_length = 0)
{
    bytes p = {0x00, 0x00, 0x01, 0xBD, 0x00, 0x00, 0x80, 0x80, static_cast<std::uint8_t>(header_data_length)};
    p.insert(p.end(), static_cast<std::size_t>(header_data_length), 0x00);
    append(p, {0x80, 0xFF, 0xF0});  // data_identifier, private_stream_id, header length
    append(p, group);
    return p;
}

struct Captions : test::state_fixture {
    ts_packet* packet(const bytes& payload, int offset = 4)
    {
        ts_packet* p = state.packets.acquire();
        std::memset(p->data, 0xFF, sizeof p->data);
        p->data[0] = 0x47;
        p->offset = offset;
        const std::size_t room = static_cast<std::size_t>(std::max(0, ts_packet_size - std::min(offset, ts_packet_size)));
        std::copy_n(payload.begin(), std::min(payload.size(), room), p->data + std::min(offset, ts_packet_size));
        return p;
    }
    void feed(const bytes& payload, int offset = 4)
    {
        EXPECT_EQ(handle_caption_packet(state, state.pids.rows[8], packet(payload, offset)), 0);
        EXPECT_EQ(state.packets.records_in_use(), 0u);
    }
    void feed_statement(int id, const std::vector<bytes>& units) { feed(pes(data_group(id, statement(units)))); }
};

TEST_F(Captions, StatementOfGroupOneWithoutManagementData)
{
    feed_statement(1, {unit(0x20, {0xA4, 0xA2, 0x0D, 0xA4, 0xA4})});
    EXPECT_EQ(captions(), "00:00:00 " + euc("あい") + "\r\n");
    EXPECT_EQ(log(), " SUB: id:1 ver:0 link:0 lg:0 size:14 TMD:0 LOOP:10 SEP:1f PARAM:20 SIZE:5\r\n");
}

TEST_F(Captions, LineCarriesTheCaptionTime)
{
    std::memcpy(state.caption_time, "21:05:09", 9);
    feed_statement(1, {unit(0x20, {0xB0, 0xA1})});
    EXPECT_EQ(captions(), "21:05:09 " + euc("亜") + "\r\n");
}

TEST_F(Captions, AdditionalSymbolsAndTheEndOfJisX0208)
{
    feed_statement(1, {unit(0x20, {0xFC, 0xA1, 0xFD, 0xFA, 0xFA, 0xD0, 0xF4, 0xA6, 0xF4, 0xA7})});
    EXPECT_EQ(captions(), "00:00:00 \xA2\xAA\xA2\xF6[UNK7a50]\xF4\xA6[UNK7427]\r\n");
}

TEST_F(Captions, OneByteCharactersAndControlsAreLeftOut)
{
    // Alphanumerics, C0 and C1 controls with parameters, 0x7F, 0xA0, 0xFF and a
    // lead byte at the very end.
    feed_statement(1, {unit(0x20, {0x41, 0x42, 0x0C, 0x9B, 0x37, 0x3B, 0x7F, 0xA0, 0xFF, 0x20, 0xA4})});
    EXPECT_EQ(captions(), "00:00:00 \r\n");
}

TEST_F(Captions, LeadByteBeforeAControlIsDropped)
{
    // A lone lead byte must not pair with the control after it: the line may
    // never carry a carriage return or any other one-byte code.
    feed_statement(1, {unit(0x20, {0xA4, 0x0D, 0xA4, 0xA2, 0xA4, 0x41, 0xA4, 0xA4, 0xB0, 0x89, 0xB0, 0xA1})});
    EXPECT_EQ(captions(), "00:00:00 " + euc("あい亜") + "\r\n");
}

TEST_F(Captions, TwoStatementBodiesGiveTwoLinesWithTheSameTime)
{
    feed_statement(1, {unit(0x20, {0xA4, 0xA2}), unit(0x30, {0x01, 0x02, 0x03}), unit(0x20, {0xA4, 0xA4})});
    EXPECT_EQ(captions(), "00:00:00 " + euc("あ") + "\r\n00:00:00 " + euc("い") + "\r\n");
    EXPECT_EQ(log(), " SUB: id:1 ver:0 link:0 lg:0 size:26 TMD:0 LOOP:22 SEP:1f PARAM:20 SIZE:2"
                     " SEP:1f PARAM:30 SIZE:3 SEP:1f PARAM:20 SIZE:2\r\n");
}

TEST_F(Captions, ManagementDataSelectsTheJapaneseGroup)
{
    feed(pes(data_group(0x20, management({{1, 0x0, "jpn"}}))));
    EXPECT_EQ(state.selected_statement_group, 0x22);
    EXPECT_EQ(log(), " SUB: id:32 ver:0 link:0 lg:0 size:10 S_TMD:0 S_NUMLANG:1 L_TAG:1 L_DMF:0"
                     " L_JIMAKU_GROUP:22 LOOP:0\r\n");
    clear_log();
    feed_statement(1, {unit(0x20, {0xA4, 0xA2})});
    EXPECT_EQ(log(), " SUB: id:1 ver:0 link:0 lg:0 size:11\r\n");
    EXPECT_EQ(captions(), "");
    feed_statement(0x22, {unit(0x20, {0xA4, 0xA4})});
    EXPECT_EQ(captions(), "00:00:00 " + euc("い") + "\r\n");
}

TEST_F(Captions, ManagementDataOfGroupZero)
{
    // TMD 2 carries an offset time; DMF 0xC carries a DC byte; the last "jpn" wins;
    // another language changes nothing.
    feed(pes(data_group(0x00, management({{0, 0xC, "jpn"}, {2, 0x0, "eng"}, {3, 0x0, "jpn"}}, 2))));
    EXPECT_EQ(state.selected_statement_group, 4);
    EXPECT_EQ(log(), " SUB: id:0 ver:0 link:0 lg:0 size:26 S_TMD:2 S_NUMLANG:3 L_TAG:0 L_DMF:12"
                     " L_JIMAKU_GROUP:1 L_TAG:2 L_DMF:0 L_TAG:3 L_DMF:0 L_JIMAKU_GROUP:4 LOOP:0\r\n");
}

TEST_F(Captions, StatementTimeAndSeveralRounds)
{
    // TMD 1 carries a 5-byte start time; the data group size covers two rounds.
    bytes data = {0x7F, 0x01, 0x02, 0x03, 0x04, 0x05};
    append(data, unit_loop({unit(0x20, {0xA4, 0xA2})}));
    append(data, statement({unit(0x20, {0xA4, 0xA4})}));
    feed(pes(data_group(1, data)));
    EXPECT_EQ(captions(), "00:00:00 " + euc("あ") + "\r\n00:00:00 " + euc("い") + "\r\n");
    EXPECT_EQ(log(), " SUB: id:1 ver:0 link:0 lg:0 size:27 TMD:1 LOOP:7 SEP:1f PARAM:20 SIZE:2"
                     " TMD:0 LOOP:7 SEP:1f PARAM:20 SIZE:2\r\n");
}

TEST_F(Captions, UnitLongerThanItsLoopIsReadWhole)
{
    // The loop claims 3 bytes; the unit that starts in them is read in full,
    // and the next round starts 3 bytes after the loop length field.
    bytes data = {0x3F};
    append(data, be24(3));
    append(data, unit(0x20, {0xA4, 0xA2, 0xA4, 0xA4}));
    feed(pes(data_group(1, data, 7)));
    EXPECT_EQ(captions(), "00:00:00 " + euc("あい") + "\r\n");
    EXPECT_EQ(log(), " SUB: id:1 ver:0 link:0 lg:0 size:7 TMD:0 LOOP:3 SEP:1f PARAM:20 SIZE:4\r\n");
}

TEST_F(Captions, PesHeaderDataIsSkipped)
{
    feed(pes(data_group(1, statement({unit(0x20, {0xA4, 0xA2})})), 5));
    EXPECT_EQ(captions(), "00:00:00 " + euc("あ") + "\r\n");
}

TEST_F(Captions, BodiesOfTheSizeLimitAreNotWritten)
{
    // Declared 1900 bytes: logged, not written.
    feed_statement(1, {unit(0x20, {0xA4, 0xA2}, 1900)});
    EXPECT_EQ(captions(), "");
    EXPECT_NE(log().find(" SIZE:1900"), std::string::npos);
}

TEST_F(Captions, BodyRunningPastThePayloadStopsAtItsEnd)
{
    // Declared 1899 bytes, but the packet ends after the first characters:
    // those are written and nothing behind the packet is read.
    bytes body;
    for (int i = 0; i < 200; ++i)
        append(body, {0xA4, 0xA2});
    feed_statement(1, {unit(0x20, body, 1899)});
    const std::string text = captions();
    ASSERT_GE(text.size(), 11u);
    EXPECT_EQ(text.substr(0, 9), "00:00:00 ");
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    // Payload: 184 bytes, minus 12 bytes of PES and data headers, 5 of the
    // data group header, 1 TMD, 3 loop length and 5 unit header = 158 body bytes.
    EXPECT_EQ(text.size(), 9u + 158u + 2u);
}

TEST_F(Captions, PacketsThatStartNoPesAreIgnored)
{
    feed({0x47, 0x00, 0x00, 0x01});
    feed({0x00, 0x01, 0x01, 0xBD});
    // Offset beyond the packet (an adaptation field longer than the packet).
    feed(pes(data_group(1, statement({unit(0x20, {0xA4, 0xA2})}))), 200);
    EXPECT_EQ(log(), "");
    EXPECT_EQ(captions(), "");
}

TEST_F(Captions, NothingWhenTheSubFileIsNotOpen)
{
    state.captions.close();
    feed_statement(1, {unit(0x20, {0xA4, 0xA2})});
    EXPECT_EQ(log(), "");
}

TEST_F(Captions, HugeHeaderAndLoopLengthsStayInsideThePacket)
{
    feed(pes(data_group(1, statement({})), 0xFF));  // PES header data longer than the packet
    bytes data = {0x3F};
    append(data, be24(0xFFFFFF));
    append(data, unit(0x20, {0xA4, 0xA2}, 0xFFFFFF));
    feed(pes(data_group(1, data, 0xFFFF)));
    EXPECT_EQ(captions(), "");
    EXPECT_EQ(log(), " SUB: id:1 ver:0 link:0 lg:0 size:65535 TMD:0 LOOP:16777215 SEP:1f PARAM:20 SIZE:16777215\r\n");
}

TEST_F(Captions, RandomPacketsNeverBreakTheHandler)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        bytes payload(184);
        for (auto& b : payload)
            b = static_cast<std::uint8_t>(rng());
        payload[0] = 0x00, payload[1] = 0x00, payload[2] = 0x01;
        if (i % 2) {
            // Mostly well-formed headers with random sizes, so that statement
            // bodies of every length, cut or not, reach the line writer.
            payload[8] = 0;
            payload[12] = static_cast<std::uint8_t>((rng() % 2) << 2);  // management or group 1
            payload[18] = 0, payload[19] = static_cast<std::uint8_t>(rng() % 2);
            payload[21] = 0x1F, payload[22] = 0x20;
            payload[23] = 0, payload[24] = static_cast<std::uint8_t>(rng() % 2);
        }
        feed(payload, 4 + static_cast<int>(rng() % 8));
    }
    // Every caption line that came out is a time, a space, pairs or markers, CR LF.
    const std::string text = captions();
    EXPECT_EQ(text.find('\0'), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text.size(); ++lines) {
        const std::size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        for (std::size_t i = at + 9; i < end; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            ASSERT_TRUE(c >= 0xA1 || std::strchr("[UNK]0123456789abcdef", c)) << static_cast<int>(c);
        }
        at = end + 2;
    }
    EXPECT_GT(lines, 0u);
}

}  // namespace
}  // namespace skerrow
