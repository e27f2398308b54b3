// Decoding of READ TOC, READ CAPACITY and full-TOC replies, without a drive.
#include "audio/toc_decode.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tests/audio/reply_builder.h"

namespace {

using audio::TocEntry;
using audio_testing::FullDescriptor;
using audio_testing::FullTocReply;
using audio_testing::Reply;
using audio_testing::TocReply;

using Table = std::array<TocEntry, audio::tocEntries>;

struct Decoded {
    Table table{};
    std::int32_t count = 0;
    std::int32_t lastTrack = -5;
    std::int32_t firstTrack = -5;
};

Decoded Decode(const Reply& reply) {
    Decoded d;
    d.count = audio::DecodeToc(reply.Bytes(), d.table, d.lastTrack, d.firstTrack);
    return d;
}

TEST(DecodeToc, SingleTrackDiscEndsInItsLeadOut) {
    const Decoded d = Decode(TocReply(1, 1, {{0x10, 1, 0}, {0x10, 0xAA, 333'000}}));
    ASSERT_EQ(d.count, 1);
    EXPECT_EQ(d.table[0].track, 1);
    EXPECT_EQ(d.table[0].startSector, 0);
    EXPECT_EQ(d.table[0].adr, 1);
    EXPECT_EQ(d.table[0].control, 0);
    EXPECT_EQ(d.table[1].track, -1);
    EXPECT_EQ(d.table[1].startSector, 333'000);
}

TEST(DecodeToc, MultiTrackDiscKeepsKindsAndOrder) {
    const Decoded d = Decode(
        TocReply(1, 3, {{0x10, 1, 0}, {0x11, 2, 15'000}, {0x14, 3, 40'000}, {0x14, 0xAA, 60'000}}));
    ASSERT_EQ(d.count, 3);
    EXPECT_EQ(d.table[1].control, 1);  // pre-emphasis
    EXPECT_EQ(d.table[2].control, 4);  // data track
    EXPECT_EQ(d.table[2].startSector, 40'000);
    EXPECT_EQ(d.table[3].track, -1);
    EXPECT_EQ(d.table[3].startSector, 60'000);
}

TEST(DecodeToc, HeaderByteTwoIsFirstTrackAndByteThreeLastTrack) {
    const Decoded d =
        Decode(TocReply(3, 5, {{0x10, 3, 0}, {0x10, 4, 10}, {0x10, 5, 20}, {0x10, 0xAA, 30}}));
    EXPECT_EQ(d.firstTrack, 3);
    EXPECT_EQ(d.lastTrack, 5);
    EXPECT_EQ(d.count, 3);
}

TEST(DecodeToc, AdrAboveThreeIsStoredAsFour) {
    const Decoded d = Decode(TocReply(1, 2, {{0x5F, 1, 0}, {0x2D, 2, 10}, {0x10, 0xAA, 20}}));
    EXPECT_EQ(d.table[0].adr, 4);
    EXPECT_EQ(d.table[0].control, 0x0F);
    EXPECT_EQ(d.table[1].adr, 2);
    EXPECT_EQ(d.table[1].control, 0x0D);
}

TEST(DecodeToc, AddressesOutsideAHundredMinutesBecomeZero) {
    const Decoded d = Decode(TocReply(
        1, 3,
        {{0x10, 1, 449'999}, {0x10, 2, 450'000}, {0x10, 3, 0xFFFF'FFFF}, {0x10, 0xAA, 450'000}}));
    EXPECT_EQ(d.table[0].startSector, 449'999);
    EXPECT_EQ(d.table[1].startSector, 0);
    EXPECT_EQ(d.table[2].startSector, 0);
    EXPECT_EQ(d.table[3].startSector, 0);
}

// Track numbers that never reach the header's last track: a full 804-byte reply has room for
// 100 descriptors, and the lead-out's descriptor would lie past it, so it reads as zero.
TEST(DecodeToc, ReplyNeverReachingLastTrackFillsAHundredEntries) {
    Reply reply = TocReply(1, 101, {});
    for (std::uint32_t i = 0; i < 100; ++i) {
        reply.Put(4 + 8 * i, {0, 0x10, static_cast<std::uint8_t>(i + 1), 0});
        reply.PutBe32(8 + 8 * i, 1000 * i);
    }
    ASSERT_EQ(reply.Size(), 804u);
    const Decoded d = Decode(reply);
    ASSERT_EQ(d.count, 100);
    EXPECT_EQ(d.table[99].track, 100);
    EXPECT_EQ(d.table[99].startSector, 99'000);
    EXPECT_EQ(d.table[100].track, -1);
    EXPECT_EQ(d.table[100].startSector, 0);
}

TEST(DecodeToc, EntriesAfterTheLeadOutAreLeftAlone) {
    Decoded d;
    d.table[2].track = 77;
    d.table[2].startSector = 1234;
    Reply reply = TocReply(1, 1, {{0x10, 1, 0}, {0x10, 0xAA, 500}});
    d.count = audio::DecodeToc(reply.Bytes(), d.table, d.lastTrack, d.firstTrack);
    EXPECT_EQ(d.table[2].track, 77);
    EXPECT_EQ(d.table[2].startSector, 1234);
}

TEST(DecodeTocDeathTest, TableTooSmallForTheLeadOutIsAProgrammingError) {
    const Reply reply = TocReply(1, 2, {{0x10, 1, 0}, {0x10, 2, 10}, {0x10, 0xAA, 20}});
    std::array<TocEntry, 2> table{};
    std::int32_t last = 0;
    std::int32_t first = 0;
    EXPECT_EXIT((void)audio::DecodeToc(reply.Bytes(), table, last, first),
                testing::ExitedWithCode(255), "-> INDEX-RANGE");
}

TEST(LeadOutPlausibility, BeforeTheLastTrackOrBeyondAnyDiscIsImplausible) {
    Table table{};
    table[0].startSector = 0;
    table[1].startSector = 5000;
    table[2].startSector = 4999;
    EXPECT_TRUE(audio::LeadOutImplausible(table, 2));
    table[2].startSector = 5000;
    EXPECT_FALSE(audio::LeadOutImplausible(table, 2));
    table[2].startSector = 0x100000;
    EXPECT_TRUE(audio::LeadOutImplausible(table, 2));
    table[1].startSector = 0;  // a single-track disc whose lead-out read as 0 still ends there
    EXPECT_FALSE(audio::LeadOutImplausible(table, 1));
}

struct RangeCase {
    const char* name;
    Reply reply;
    audio::TocFault fault;
    std::int32_t endSector;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadRangeOfToc : public testing::TestWithParam<RangeCase> {};

TEST_P(ReadRangeOfToc, NamesWhatMakesTheTableUnusable) {
    const Decoded d = Decode(GetParam().reply);
    const audio::ReadRange range =
        audio::DiscReadRange(d.table, d.count, d.firstTrack, d.lastTrack);
    EXPECT_EQ(range.fault, GetParam().fault);
    EXPECT_EQ(range.endSector, GetParam().endSector);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ReadRangeOfToc,
    testing::Values(RangeCase{"TwoTracks",
                              TocReply(1, 2, {{0x10, 1, 0}, {0x10, 2, 900}, {0x10, 0xAA, 3000}}),
                              audio::TocFault::none, 3000},
                    RangeCase{"OneSector", TocReply(1, 1, {{0x10, 1, 0}, {0x10, 0xAA, 1}}),
                              audio::TocFault::none, 1},
                    RangeCase{"LeadOutAtZero", TocReply(1, 1, {{0x10, 1, 0}, {0x10, 0xAA, 0}}),
                              audio::TocFault::nothingToRead, 0},
                    RangeCase{"OnlyALeadOut", TocReply(1, 1, {{0x10, 0xAA, 3000}}),
                              audio::TocFault::noTrack, 0},
                    RangeCase{"NoDescriptor", TocReply(0, 0, {}), audio::TocFault::noTrack, 0},
                    RangeCase{"FirstAboveLast", TocReply(2, 1, {{0x10, 2, 0}, {0x10, 0xAA, 3000}}),
                              audio::TocFault::firstTrackAfterLast, 0},
                    RangeCase{"LeadOutBeforeLastTrack",
                              TocReply(1, 2, {{0x10, 1, 0}, {0x10, 2, 900}, {0x10, 0xAA, 800}}),
                              audio::TocFault::noUsableLeadOut, 0}),
    [](const testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

TEST(ReadRangeOfToc, ALeadOutBeyondAnyDiscIsNotUsable) {
    Decoded d = Decode(TocReply(1, 1, {{0x10, 1, 0}, {0x10, 0xAA, 3000}}));
    d.table[1].startSector = 0x100000;
    EXPECT_EQ(audio::DiscReadRange(d.table, 1, 1, 1).fault, audio::TocFault::noUsableLeadOut);
    d.table[1].startSector = 0xFFFFF;
    EXPECT_EQ(audio::DiscReadRange(d.table, 1, 1, 1).endSector, 0xFFFFF);
}

TEST(DecodeCapacity, LastBlockPlusOne) {
    EXPECT_EQ(audio::DecodeCapacity(Reply(8).PutBe32(0, 333'000 - 1).Bytes()), 333'000);
    EXPECT_EQ(audio::DecodeCapacity(Reply(8).PutBe32(0, 0xFFFF'FFFF).Bytes()), 0x1'0000'0000);
}

TEST(FullTocDescriptors, CountStaysInsideTheBytesReceived) {
    Reply reply = FullTocReply({{}, {}, {}});
    EXPECT_EQ(audio::FullTocDescriptorCount(reply.Bytes()), 3u);
    // The drive claims more than it sent: only whole descriptors that arrived count.
    reply.PutBe16(0, 2 + 11 * 300);
    EXPECT_EQ(audio::FullTocDescriptorCount(reply.Bytes()), 3u);
    EXPECT_EQ(audio::FullTocDescriptorCount(reply.Bytes().first(4 + 11 * 2 + 10)), 2u);
    reply.PutBe16(0, 1);
    EXPECT_EQ(audio::FullTocDescriptorCount(reply.Bytes()), 0u);
    EXPECT_EQ(audio::FullTocDescriptorCount({}), 0u);
    // A declared length past the allocation is cut to the descriptors of 3,524 bytes.
    Reply full(3524);
    full.PutBe16(0, 0xFFFF);
    EXPECT_EQ(audio::FullTocDescriptorCount(full.Bytes()), 320u);
}

TEST(FullTocDescriptors, FieldsComeFromTheirBytes) {
    const Reply reply = FullTocReply({{2, 0x14, 0xA2, 0x31, 0x42, 0x53, 0x64, 0x65, 0x66}});
    const audio::FullTocDescriptor d = audio::FullTocDescriptorAt(reply.Bytes(), 0);
    EXPECT_EQ(d.session, 2);
    EXPECT_EQ(d.adr, 1);
    EXPECT_EQ(d.control, 4);
    EXPECT_EQ(d.point, 0xA2);
    EXPECT_EQ(d.pmin, 0x31);
    EXPECT_EQ(d.psec, 0x42);
    EXPECT_EQ(d.pframe, 0x53);
    EXPECT_EQ(d.min, 0x64);
    EXPECT_EQ(d.sec, 0x65);
    EXPECT_EQ(d.frame, 0x66);
}

struct BcdCase {
    const char* name;
    std::vector<FullDescriptor> descriptors;
    bool previous;
    bool expected;
};

void PrintTo(const BcdCase& c, std::ostream* os) {
    *os << c.name;
}

class BcdDecision : public testing::TestWithParam<BcdCase> {};

TEST_P(BcdDecision, FollowsTheLastTellingDescriptor) {
    Reply reply = FullTocReply({});
    std::size_t at = 4;
    for (const FullDescriptor& d : GetParam().descriptors) {
        reply.Put(at, {d.session, d.adrControl, 0, d.point, d.min, d.sec, d.frame, 0, d.pmin,
                       d.psec, d.pframe});
        at += 11;
    }
    reply.PutBe16(0, static_cast<std::uint32_t>(at - 2));
    EXPECT_EQ(audio::DecideFullTocBcd(reply.Bytes(), GetParam().previous), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BcdDecision,
    testing::Values(
        // 74 minutes in binary is 0x4A: not a BCD byte.
        BcdCase{"BinaryLeadOut", {{1, 0x10, 0xA2, 74, 0, 0}}, true, false},
        // 0x74 read as binary would be 116 minutes.
        BcdCase{"BcdLeadOut", {{1, 0x10, 0xA2, 0x74, 0x00, 0x00}}, false, true},
        BcdCase{"FrameAbove74IsBcd", {{1, 0x10, 1, 0x00, 0x02, 0x80}}, false, true},
        BcdCase{"TrackTimeAbove99MinutesIsBcd", {{1, 0x10, 1, 0, 2, 0, 0x99, 0, 0}}, false, true},
        BcdCase{"TrackPointNotBcd", {{1, 0x10, 0x0A, 0x00, 0x02, 0x00}}, true, false},
        BcdCase{
            "AmbiguousKeepsTrue", {{1, 0x10, 1, 0, 2, 0}, {1, 0x10, 0xA2, 0, 0x20, 0}}, true, true},
        BcdCase{"AmbiguousKeepsFalse",
                {{1, 0x10, 1, 0, 2, 0}, {1, 0x10, 0xA2, 0, 0x20, 0}},
                false,
                false},
        BcdCase{"OtherAdrIgnored", {{1, 0x50, 0xB0, 0x4A, 0x4A, 0x4A}}, true, true},
        // MIN/SEC/FRAME of the A0..A2 points are not times of the disc.
        BcdCase{
            "PointTimesOfA2Ignored", {{1, 0x10, 0xA2, 0x20, 0, 0, 0xFF, 0xFF, 0xFF}}, true, true},
        BcdCase{"LaterDescriptorWins",
                {{1, 0x10, 0xA2, 0x80, 0, 0}, {1, 0x10, 2, 0x3B, 0, 0}},
                false,
                false}),
    [](const testing::TestParamInfo<BcdCase>& info) { return std::string(info.param.name); });

// A disc time (LBA + 150) as full-TOC bytes, in BCD or binary.
FullDescriptor At(std::uint8_t session, std::uint8_t adrControl, std::uint8_t point,
                  std::int64_t lba, bool bcd) {
    const std::int64_t absolute = lba + 150;
    const auto code = [bcd](std::int64_t v) {
        return static_cast<std::uint8_t>(bcd ? (v / 10) << 4 | (v % 10) : v);
    };
    const auto pointCode = point < 0xA0 ? code(point) : point;
    return FullDescriptor{session,
                          adrControl,
                          pointCode,
                          code(absolute / 4500),
                          code(absolute / 75 % 60),
                          code(absolute % 75)};
}

// Tracks 1 and 2 of audio in session 1 (lead-out at 9,100), data track 3 in session 2.
Table AudioThenData() {
    Table table{};
    table[0] = TocEntry{1, 0, 1, 0, 0, -7};
    table[1] = TocEntry{1, 0, 2, 5'000, 0, -7};
    table[2] = TocEntry{1, 4, 3, 20'400, 0, -7};
    table[3] = TocEntry{1, 4, -1, 30'000, 0, -7};
    return table;
}

Reply AudioThenDataFullToc(bool bcd) {
    Reply reply = FullTocReply({
        {1, 0x10, 0xA0, static_cast<std::uint8_t>(1), 0x20, 0},
        {1, 0x10, 0xA1, static_cast<std::uint8_t>(2), 0, 0},
        At(1, 0x10, 0xA2, 9'100, bcd),
        At(1, 0x10, 1, 0, bcd),
        At(1, 0x10, 2, 5'000, bcd),
        {2, 0x14, 0xA0, static_cast<std::uint8_t>(3), 0x20, 0},
        {2, 0x14, 0xA1, static_cast<std::uint8_t>(3), 0, 0},
        At(2, 0x14, 0xA2, 30'000, bcd),
        At(2, 0x14, 3, 20'400, bcd),
    });
    return reply;
}

std::vector<std::int64_t> Ends(const Table& table, std::size_t tracks) {
    std::vector<std::int64_t> ends;
    for (std::size_t i = 0; i < tracks; ++i) {
        ends.push_back(table[i].endSector);
    }
    return ends;
}

void Sessions(const Reply* fullToc, bool& bcd, Table& table, std::size_t tracks) {
    const auto entries = std::span(table).first(tracks + 1);
    if (fullToc != nullptr) {
        audio::DecodeSessions(fullToc->Bytes(), bcd, entries);
    } else {
        audio::DecodeSessions(std::nullopt, bcd, entries);
    }
}

TEST(DecodeSessions, SingleSessionTracksEndWhereTheNextBegins) {
    Table table{};
    table[0] = TocEntry{1, 0, 1, 0, 0, 0};
    table[1] = TocEntry{1, 0, 2, 1'000, 0, 0};
    table[2] = TocEntry{1, 0, -1, 3'000, 0, 0};
    const Reply reply = FullTocReply(
        {At(1, 0x10, 0xA2, 3'000, false), At(1, 0x10, 1, 0, false), At(1, 0x10, 2, 1'000, false)});
    bool bcd = false;
    Sessions(&reply, bcd, table, 2);
    EXPECT_EQ(Ends(table, 2), (std::vector<std::int64_t>{1'000, 3'000}));
    EXPECT_EQ(table[2].endSector, 0);  // the lead-out entry is not given an end
}

TEST(DecodeSessions, AudioSessionEndsAtItsOwnLeadOutFromTheFullToc) {
    for (const bool bcd : {false, true}) {
        Table table = AudioThenData();
        const Reply reply = AudioThenDataFullToc(bcd);
        bool answer = !bcd;
        Sessions(&reply, answer, table, 3);
        EXPECT_EQ(answer, bcd);
        EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{5'000, 9'100, 30'000})) << bcd;
    }
}

TEST(DecodeSessions, WithoutFullTocTheFirstSessionEnds11400BeforeTheNext) {
    Table table = AudioThenData();
    bool bcd = true;
    Sessions(nullptr, bcd, table, 3);
    EXPECT_TRUE(bcd);  // nothing learnt
    EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{5'000, 9'000, 30'000}));
}

TEST(DecodeSessions, LaterSessionsEnd6900BeforeTheNext) {
    Table table{};
    table[0] = TocEntry{1, 0, 1, 0, 0, 0};
    table[1] = TocEntry{1, 4, 2, 20'000, 0, 0};
    table[2] = TocEntry{1, 0, 3, 40'000, 0, 0};
    table[3] = TocEntry{1, 0, -1, 50'000, 0, 0};
    bool bcd = false;
    Sessions(nullptr, bcd, table, 3);
    EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{8'600, 33'100, 50'000}));
}

TEST(DecodeSessions, UnusableFullTocFallsBackToTrackKinds) {
    struct Case {
        const char* name;
        FullDescriptor leadOut;
    };
    const Case cases[] = {
        {"LeadOutAtNinetyMinutes", {1, 0x10, 0xA2, 90, 0, 0}},
        {"LeadOutSecondsOver59", {1, 0x10, 0xA2, 2, 60, 0}},
        {"LeadOutFramesOver74", {1, 0x10, 0xA2, 2, 0, 75}},
        {"SessionEndsBeforeItsTrack", At(1, 0x10, 0xA2, 4'000, false)},
    };
    for (const Case& c : cases) {
        Table table = AudioThenData();
        const Reply reply =
            FullTocReply({c.leadOut, At(1, 0x10, 1, 0, false), At(1, 0x10, 2, 5'000, false),
                          At(2, 0x14, 0xA2, 30'000, false), At(2, 0x14, 3, 20'400, false)});
        bool bcd = false;
        Sessions(&reply, bcd, table, 3);
        EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{5'000, 9'000, 30'000})) << c.name;
    }
}

TEST(DecodeSessions, FullTocWithoutAnySessionLeadOutFallsBack) {
    Table table = AudioThenData();
    const Reply reply = FullTocReply(
        {At(1, 0x10, 1, 0, false), At(1, 0x10, 2, 5'000, false), At(2, 0x14, 3, 20'400, false)});
    bool bcd = false;
    Sessions(&reply, bcd, table, 3);
    EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{5'000, 9'000, 30'000}));
}

TEST(DecodeSessions, DescriptorsPastTheBytesReceivedAreNotRead) {
    Table table = AudioThenData();
    const Reply reply = AudioThenDataFullToc(false);
    // Cut inside the first session's lead-out descriptor: no session end arrived, so the
    // track kinds decide.
    bool bcd = false;
    audio::DecodeSessions(reply.Bytes().first(4 + 11 * 2 + 5), bcd, std::span(table).first(4));
    EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{5'000, 9'000, 30'000}));
}

TEST(DecodeSessions, FirstMatchedTrackCalibratesTheSessionEnds) {
    Table table = AudioThenData();
    // The drive's full TOC runs 75 sectors ahead of its track list.
    const Reply reply = FullTocReply(
        {At(1, 0x10, 0xA2, 9'175, false), At(1, 0x10, 1, 75, false), At(1, 0x10, 2, 5'075, false),
         At(2, 0x14, 0xA2, 30'075, false), At(2, 0x14, 3, 20'475, false)});
    bool bcd = false;
    Sessions(&reply, bcd, table, 3);
    EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{5'000, 9'100, 30'000}));
}

TEST(DecodeSessions, FirstTrackMissingFromTheFullTocPutsAllInOneSession) {
    Table table = AudioThenData();
    const Reply reply =
        FullTocReply({At(1, 0x10, 2, 5'000, false), At(2, 0x14, 0xA2, 30'000, false)});
    bool bcd = false;
    Sessions(&reply, bcd, table, 3);
    EXPECT_EQ(Ends(table, 3), (std::vector<std::int64_t>{5'000, 20'400, 30'000}));
}

}  // namespace
