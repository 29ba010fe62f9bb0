// Descriptor dumps, the provider name, the caption PID and the .eit lines the
// descriptor handlers write.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "decoder_test_util.h"
#include "descriptors.h"

namespace skerrow {
namespace {

using test::euc;

struct Descriptors : test::state_fixture {
    int dump(const std::vector<std::uint8_t>& d, const descriptor_row* table = descriptor_names)
    {
        return dump_descriptor(state, d.data(), static_cast<int>(d.size()), table);
    }
    void open_event()
    {
        state.event_listing_open = true;
        state.event_listing = &state.listing;
    }
    void set_provider(const std::string& name)
    {
        std::memcpy(state.provider_name, name.c_str(), name.size() + 1);
        state.provider_name_length = static_cast<int>(name.size());
    }
};

int named_rows(const descriptor_row* table)
{
    int n = 0;
    while (table[n].name)
        ++n;
    return n;
}

TEST_F(Descriptors, TablesHoldTheirRows)
{
    EXPECT_EQ(named_rows(descriptor_names), 56);
    EXPECT_EQ(named_rows(table_names), 5);
}

TEST_F(Descriptors, UnknownAndUnhandledTagsAreDumped)
{
    EXPECT_EQ(dump({0x99, 0x03, 0x01, 0xAB, 0xFF}), 3);
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:99 Unknown\r\n Length:3\r\n DATA:01 ab ff \r\n");
    clear_log();
    dump({0xFE, 0x00});  // the last row of the table
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:fe System Management\r\n Length:0\r\n DATA:\r\n");
    clear_log();
    dump({0x4F, 0x01, 0x07});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:4f Time shoft event\r\n Length:1\r\n DATA:07 \r\n");
    clear_log();
    // The same tag means another thing in the table of SI transmission entries.
    dump({0x40, 0x00}, table_names);
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:40 NIT\r\n Length:0\r\n DATA:\r\n");
}

TEST_F(Descriptors, NothingBeyondTheAvailableBytesIsRead)
{
    // Declared length 5, but the section ends after two body bytes; the bytes
    // behind are another section's and must not show up.
    const std::uint8_t bytes[] = {0x99, 0x05, 0x11, 0x22, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(dump_descriptor(state, bytes, 4, descriptor_names), 5);
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:99 Unknown\r\n Length:5\r\n DATA:11 22 \r\n");
    clear_log();
    EXPECT_EQ(dump_descriptor(state, bytes, 1, descriptor_names), 0);
    EXPECT_EQ(log(), "");
}

TEST_F(Descriptors, FoundReceivesTagAndBody)
{
    const std::uint8_t bytes[] = {0x4E, 0x01, 0x00};
    descriptor_found found{};
    dump_descriptor(state, bytes, 3, descriptor_names, &found);
    EXPECT_EQ(found.tag, 0x4E);
    EXPECT_EQ(found.body, bytes + 2);
}

TEST_F(Descriptors, StreamIdentifierNamesTheCaptionPid)
{
    state.current_elementary_pid = 0x130;
    dump({0x52, 0x02, 0x87, 0x00});
    EXPECT_EQ(state.caption_pid, 0);
    dump({0x52, 0x01, 0x81});
    EXPECT_EQ(state.caption_pid, 0);
    clear_log();
    dump({0x52, 0x01, 0x87});
    EXPECT_EQ(state.caption_pid, 0x130);
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:52 Stream Identifier\r\n Length:1\r\n DATA:87 \r\n");
}

// テスト局 in Kanji codes, then LS1 and the alphanumeric 1: ten bytes.
const std::vector<std::uint8_t> station = {0x25, 0x46, 0x25, 0x39, 0x25, 0x48, 0x36, 0x49, 0x0E, 0x31};

std::vector<std::uint8_t> service_descriptor(std::vector<std::uint8_t> provider, std::vector<std::uint8_t> name)
{
    std::vector<std::uint8_t> d = {0x48, 0, 0x01, static_cast<std::uint8_t>(provider.size())};
    d.insert(d.end(), provider.begin(), provider.end());
    d.push_back(static_cast<std::uint8_t>(name.size()));
    d.insert(d.end(), name.begin(), name.end());
    d[1] = static_cast<std::uint8_t>(d.size() - 2);
    return d;
}

TEST_F(Descriptors, ServiceNameBecomesTheProviderName)
{
    dump(service_descriptor({}, station));
    const std::string expected = euc("テスト局") + "1";
    EXPECT_EQ(std::string(state.provider_name), expected);
    EXPECT_EQ(state.provider_name_length, 9);
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:48 Service Descriptor\r\n Length:d\r\n"
                     "    Service type: 1\r\n    Provider name:" + expected + "\r\n");

    // Captured once per recording: a later service keeps the first name.
    dump(service_descriptor({}, {0x0E, 0x41}));
    EXPECT_EQ(std::string(state.provider_name), expected);
}

TEST_F(Descriptors, EmptyServiceNameLeavesNoProviderName)
{
    dump(service_descriptor({}, {}));
    EXPECT_EQ(state.provider_name_length, 0);
    // Controls that decode to nothing visible still count as text: here the
    // text decodes to nothing at all (a lone designation), so it is tried again.
    dump(service_descriptor({}, {0x1B, 0x28, 0x4A}));
    EXPECT_EQ(state.provider_name_length, 0);
    dump(service_descriptor({}, station));
    EXPECT_EQ(std::string(state.provider_name), euc("テスト局") + "1");
}

TEST_F(Descriptors, ServiceNameAfterANonEmptyProviderName)
{
    // A provider name "NHK" (alphanumerics after LS1) precedes the service name.
    dump(service_descriptor({0x0E, 0x4E, 0x48, 0x4B}, station));
    EXPECT_EQ(std::string(state.provider_name), euc("テスト局") + "1");
}

TEST_F(Descriptors, SecondTextAfterTheServiceName)
{
    // Body: type, provider length 0, name length 2 (亜), then a further text of
    // length 2 (亜) and the byte-signed length -1.
    dump({0x48, 0x08, 0x01, 0x00, 0x02, 0x30, 0x21, 0x02, 0x30, 0x21});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:48 Service Descriptor\r\n Length:8\r\n"
                     "    Service type: 1\r\n    Provider name:" + euc("亜") + "\r\n"
                     "    Service name:2" + euc("亜") + "\r\n");
    clear_log();
    dump({0x48, 0x06, 0x01, 0x00, 0x02, 0x30, 0x21, 0xFF});
    EXPECT_NE(log().find("    Service name:-1\r\n"), std::string::npos);
}

std::vector<std::uint8_t> short_event(std::vector<std::uint8_t> name, std::vector<std::uint8_t> text)
{
    std::vector<std::uint8_t> d = {0x4D, 0, 'j', 'p', 'n', static_cast<std::uint8_t>(name.size())};
    d.insert(d.end(), name.begin(), name.end());
    d.push_back(static_cast<std::uint8_t>(text.size()));
    d.insert(d.end(), text.begin(), text.end());
    d[1] = static_cast<std::uint8_t>(d.size() - 2);
    return d;
}

TEST_F(Descriptors, ShortEventWritesTheListingWhileOpen)
{
    set_provider(euc("テスト局"));
    open_event();
    // Name: ニュース (katakana via SS3, the long vowel mark from the set's
    // symbols), text: 亜 CR 亜.
    const auto d = short_event({0x1D, 0x4B, 0x1D, 0x65, 0x1D, 0x79, 0x1D, 0x39},
                               {0x30, 0x21, 0x0D, 0x30, 0x21});
    dump(d);
    const std::string name = euc("ニュース"), text = euc("亜") + "\\r" + euc("亜");
    EXPECT_EQ(listing(), "ProviderName: " + euc("テスト局") + "\r\nEventName: " + name +
                             "\r\nEventDesc: " + text + "\r\n");
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:4d Short Event\r\n Length:12\r\n"
                     "   LANG:jpn\r\n   Ev NameLen 8\r\n   Event Name:" + name + "\r\n"
                     "   Text len :5\r\n   Event Desc:" + text + "\r\n");
}

TEST_F(Descriptors, ShortEventOutsideAListedEventOnlyLogs)
{
    const auto d = short_event({0x30, 0x21}, {});
    open_event();
    dump(d);  // no provider name yet
    state.event_listing_open = false;
    set_provider("X");
    dump(d);  // provider known, but the event is not being listed
    EXPECT_EQ(listing(), "");
    EXPECT_NE(log().find("   Event Name:" + euc("亜") + "\r\n"), std::string::npos);
}

TEST_F(Descriptors, ShortEventLengthsBeyondTheBodyAreCut)
{
    set_provider("X");
    open_event();
    // Name length 200 in a 6-byte body: only the two bytes that exist are text.
    dump({0x4D, 0x06, 'j', 'p', 'n', 0xC8, 0x30, 0x21});
    EXPECT_EQ(listing(), "ProviderName: X\r\nEventName: " + euc("亜") + "\r\nEventDesc: \r\n");
}

TEST_F(Descriptors, ContentWritesGenreAndSubGenre)
{
    set_provider("X");
    open_event();
    dump({0x54, 0x08, 0x71, 0x00, 0x0B, 0x00, 0xC0, 0x00, 0x30, 0xEE});
    EXPECT_EQ(listing(), "ContentNibble:  71 " + euc("アニメ・特撮") + " " + euc("海外アニメ") +
                             " 0b " + euc("ニュース・報道") + " -" + " c0 - -" + " 30 " +
                             euc("ドラマ") + " " + euc("国内ドラマ") + "\r\n");
    // Only the generic lines reach the log.
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:54 Content\r\n Length:8\r\n");
}

TEST_F(Descriptors, ContentNamesAtTheEndsOfTheTables)
{
    set_provider("X");
    open_event();
    dump({0x54, 0x06, 0x4A, 0x00, 0xBF, 0x00, 0xB6, 0x00});
    EXPECT_EQ(listing(), "ContentNibble:  4a " + euc("音楽") + " " + euc("民族音楽・ワールドミュージック") +
                             " bf " + euc("福祉") + " " + euc("その他") + " b6 " + euc("福祉") + " " +
                             euc("音声解説") + "\r\n");
}

TEST_F(Descriptors, ContentOutsideAListedEventWritesNothing)
{
    set_provider("X");
    dump({0x54, 0x02, 0x30, 0x00});
    EXPECT_EQ(listing(), "");
}

TEST_F(Descriptors, NetworkAndServiceLists)
{
    dump({0x40, 0x04, 0x30, 0x21, 0x0E, 0x41});
    dump({0x41, 0x07, 0x04, 0x00, 0x01, 0x04, 0x01, 0xC0, 0x99});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:40 Network Name\r\n Length:4\r\n   Network Name:" + euc("亜") + "A\r\n"
                     "DESCRIPTOR:\r\n Tag:41 Service List\r\n Length:7\r\n"
                     "    Service:400 1\r\n    Service:401 c0\r\n");
}

TEST_F(Descriptors, TsInformationLoops)
{
    // Key 5, name of 2 bytes, one loop: type 0x0F with two services.
    dump({0xCD, 0x0A, 0x05, (2 << 2) | 1, 0x30, 0x21, 0x0F, 0x02, 0x04, 0x00, 0x04, 0x01});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:cd TS information\r\n Length:a\r\n"
                     "   Remote control key ID:5\r\n   TS name:\r\n"
                     "     ServiceType:f\r\n     Services:0400 0401 \r\n");
    clear_log();
    // A count of five services with one present: the loop stops at the body end.
    const std::uint8_t cut[] = {0xCD, 0x06, 0x05, 0x01, 0x0F, 0x05, 0x04, 0x00, 0xDE, 0xAD};
    dump_descriptor(state, cut, 8, descriptor_names);
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:cd TS information\r\n Length:6\r\n"
                     "   Remote control key ID:5\r\n   TS name:\r\n"
                     "     ServiceType:f\r\n     Services:0400 \r\n");
}

TEST_F(Descriptors, SiTransmissionUpdateTimeLeavesTheLineOpen)
{
    // The lone byte at the end of the body is no entry.
    dump({0xD7, 0x0B, 0x03, 0xD8, 0xF0, 0x40, 0x02, 0xAA, 0xBB, 0x4E, 0x01, 0x05, 0x00});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:d7 SI transmission\r\n Length:b\r\n"
                     "     Version:3\r\n     Update Time:DESCRIPTOR:\r\n Tag:40 NIT\r\n Length:2\r\n DATA:aa bb \r\n"
                     "DESCRIPTOR:\r\n Tag:4e EITs\r\n Length:1\r\n DATA:05 \r\n");
}

TEST_F(Descriptors, DeliveryAndPartialReception)
{
    dump({0xFA, 0x06, 0x12, 0x35, 0x01, 0x00, 0x0B, 0xB8});
    dump({0xFB, 0x04, 0x04, 0x00, 0x05, 0x08});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:fa Terrestrial delivery\r\n Length:6\r\n"
                     "   Area:123\r\n   Guard Itv: 1\r\n   Trans mode: 1\r\n   Freq:256\r\n   Freq:3000\r\n"
                     "DESCRIPTOR:\r\n Tag:fb partial reception\r\n Length:4\r\n"
                     "     Service ID:0400\r\n     Service ID:0508\r\n");
}

TEST_F(Descriptors, DataComponentNamesKnownIds)
{
    dump({0xFD, 0x03, 0x00, 0x08, 0x3D});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:fd Data component\r\n Length:3\r\n"
                     "     Component ID:8 ARIB Subtitle and teletext\r\n     DATA:3d \r\n");
    clear_log();
    dump({0xFD, 0x02, 0x00, 0x99});
    EXPECT_EQ(log(), "DESCRIPTOR:\r\n Tag:fd Data component\r\n Length:2\r\n"
                     "     Component ID:99      DATA:\r\n");
}

TEST_F(Descriptors, RandomBodiesOfEveryTagStayInsideTheirBytes)
{
    // Each descriptor sits at the very end of its own allocation, cut short of
    // its declared length, so a read past the available bytes leaves the
    // buffer (which the sanitizer build reports).
    std::mt19937 rng(11);
    set_provider("X");
    open_event();
    for (int round = 0; round < 40; ++round) {
        for (int tag = 0; tag < 256; ++tag) {
            const int declared = static_cast<int>(rng() % 256);
            const int available = 2 + static_cast<int>(rng() % (declared + 1));
            auto bytes = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(available));
            bytes[0] = static_cast<std::uint8_t>(tag);
            bytes[1] = static_cast<std::uint8_t>(declared);
            for (int i = 2; i < available; ++i)
                bytes[i] = static_cast<std::uint8_t>(rng());
            ASSERT_EQ(dump_descriptor(state, bytes.get(), available, descriptor_names), declared);
        }
        clear_log();
    }
    // Every listing line the random content and short event bodies wrote is whole.
    const std::string text = listing();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
}  // namespace skerrow
