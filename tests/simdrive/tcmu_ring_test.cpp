// The TCMU handler's ring work against a ring laid out in memory as the kernel lays it out:
// the commands the kernel queues, the replies, sense, residual flags and data it must find.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "simdrive/description.h"
#include "simdrive/scsi.h"
#include "simdrive/tcmu/ring_layout.h"
#include "simdrive/tcmu/ring_server.h"

namespace {

using namespace simdrive;
using namespace simdrive::tcmu;

constexpr std::uint32_t kRingOffset = 128;
constexpr std::uint32_t kRingSize = 4096;
constexpr std::size_t kDataOffset = kRingOffset + kRingSize;
constexpr std::size_t kAreaBytes = kDataOffset + 256 * 1024;

struct alignas(64) Area {
    std::array<std::uint8_t, kAreaBytes> bytes{};
};

struct Reply {
    std::uint8_t status = 0;
    std::uint8_t userFlags = 0;
    std::uint32_t readLength = 0;
    std::array<std::uint8_t, kSenseBytes> sense{};
    std::vector<std::uint8_t> data;
};

// A ring with one drive behind it. `Queue` writes a command entry as the kernel does (the
// CDB cut to the length the kernel copies), `Serve` runs the handler and reads the reply.
class TcmuRing : public testing::Test {
protected:
    TcmuRing() : area_(std::make_unique<Area>()) {
        auto& mailbox = *reinterpret_cast<Mailbox*>(area_->bytes.data());
        mailbox.version = kMailboxVersion;
        mailbox.flags = kCapReadLength;
        mailbox.ringOffset = kRingOffset;
        mailbox.ringSize = kRingSize;
    }

    Mailbox& MailboxOf() { return *reinterpret_cast<Mailbox*>(area_->bytes.data()); }

    // Queues a command whose data buffer is split into `pieces` iovecs; returns its entry.
    std::uint32_t Queue(std::vector<std::uint8_t> cdb, std::size_t dataBytes,
                        std::size_t pieces = 1, std::vector<std::uint8_t> dataOut = {}) {
        Mailbox& mailbox = MailboxOf();
        const std::uint32_t at = mailbox.head;
        std::uint8_t* entry = area_->bytes.data() + kRingOffset + at;
        // As the kernel sizes an entry: room for the response at least, then the CDB.
        const std::size_t cdbAt =
            std::max(kVectorsOffset + pieces * sizeof(IoVector), kBodyOffset + sizeof(Response));
        const auto length =
            static_cast<std::uint32_t>(cdbAt + ((cdb.size() + 7) & ~std::size_t{7}));
        EntryHeader header{length | static_cast<std::uint32_t>(EntryKind::command), 1, 0, 0};
        std::memcpy(entry, &header, sizeof header);
        Request request{static_cast<std::uint32_t>(pieces), 0, 0, kRingOffset + at + cdbAt, 0, 0};
        std::memcpy(entry + kBodyOffset, &request, sizeof request);
        std::size_t dataAt = kDataOffset + nextData_;
        dataAt_[at] = dataAt;
        dataBytes_[at] = dataBytes;
        for (std::size_t i = 0; i < pieces; ++i) {
            const std::size_t part =
                dataBytes / pieces + (i + 1 == pieces ? dataBytes % pieces : 0);
            IoVector vector{dataAt, part};
            std::memcpy(entry + kVectorsOffset + i * sizeof(IoVector), &vector, sizeof vector);
            dataAt += part + 512;  // the pieces are not adjacent
        }
        nextData_ = dataAt - kDataOffset;
        std::fill_n(area_->bytes.data() + dataAt_[at], dataAt - dataAt_[at], 0xEE);
        std::copy(cdb.begin(), cdb.end(), entry + cdbAt);
        if (!dataOut.empty()) {
            std::copy(dataOut.begin(), dataOut.end(), area_->bytes.data() + dataAt_[at]);
        }
        mailbox.head = (at + length) % kRingSize;
        return at;
    }

    Reply ReplyAt(std::uint32_t at, std::size_t pieces = 1) {
        const std::uint8_t* entry = area_->bytes.data() + kRingOffset + at;
        Response response{};
        std::memcpy(&response, entry + kBodyOffset, sizeof response);
        Reply reply{response.scsiStatus, entry[7], response.readLength, response.sense, {}};
        std::size_t dataAt = dataAt_[at];
        const std::size_t total = dataBytes_[at];
        for (std::size_t i = 0; i < pieces; ++i) {
            const std::size_t part = total / pieces + (i + 1 == pieces ? total % pieces : 0);
            reply.data.insert(reply.data.end(), area_->bytes.data() + dataAt,
                              area_->bytes.data() + dataAt + part);
            dataAt += part + 512;
        }
        return reply;
    }

    std::size_t Serve() {
        RingServer server(area_->bytes, drive_);
        return server.ServePending();
    }

    static std::unique_ptr<Drive> MakeDrive(const char* keys) {
        std::string error;
        auto set = DriveSet::Parse(std::string("[drive]\ndisc = pattern 300 3\n") + keys, ".", {},
                                   "ring", error);
        EXPECT_TRUE(set) << error;
        return std::make_unique<Drive>(set->At(0).Settings(), set->At(0).EjectDisc());
    }

    std::unique_ptr<Area> area_;
    std::unique_ptr<Drive> driveOwner_ = MakeDrive(
        "read_cd = 0x10 0x12 0x14\nvendor_d8 = 0x00 0x04\ndensity_c2 = yes\nunreadable = 40\n"
        "scratch = 10 20 0.05 8\n");
    Drive& drive_ = *driveOwner_;
    std::unique_ptr<Drive> twin_ = MakeDrive(
        "read_cd = 0x10 0x12 0x14\nvendor_d8 = 0x00 0x04\ndensity_c2 = yes\nunreadable = 40\n"
        "scratch = 10 20 0.05 8\n");
    std::size_t nextData_ = 0;
    std::array<std::size_t, kRingSize> dataAt_{};
    std::array<std::size_t, kRingSize> dataBytes_{};
};

std::vector<std::uint8_t> Delivered(Drive& drive, std::span<const std::uint8_t> cdb,
                                    std::size_t bytes) {
    std::vector<std::uint8_t> data(bytes, 0);
    std::array<std::uint8_t, 18> sense{};
    const auto result = drive.Execute(cdb, Direction::in, data, sense);
    data.resize(result.transferred);
    return data;
}

TEST_F(TcmuRing, EveryQueuedCommandIsRetiredAndTheTailMeetsTheHead) {
    Queue({opcode::testUnitReady, 0, 0, 0, 0, 0}, 0);
    Queue({opcode::inquiry, 0, 0, 0, 36, 0}, 36);
    Queue({opcode::testUnitReady, 0, 0, 0, 0, 0}, 0);
    EXPECT_EQ(Serve(), 3u);
    EXPECT_EQ(MailboxOf().tail, MailboxOf().head);
    EXPECT_EQ(Serve(), 0u);
}

TEST_F(TcmuRing, PaddingAtTheRingsEndIsSkippedAndServingWrapsAround) {
    MailboxOf().head = MailboxOf().tail = kRingSize - 64;
    EntryHeader pad{64 | static_cast<std::uint32_t>(EntryKind::pad), 0, 0, 0};
    std::memcpy(area_->bytes.data() + kRingOffset + kRingSize - 64, &pad, sizeof pad);
    MailboxOf().head = 0;
    const auto at = Queue({opcode::inquiry, 0, 0, 0, 36, 0}, 36);
    EXPECT_EQ(Serve(), 2u);
    EXPECT_EQ(MailboxOf().tail, MailboxOf().head);
    EXPECT_EQ(ReplyAt(at).data[0], 0x05);  // a CD-ROM device
}

TEST_F(TcmuRing, ReadCdDataArrivesAcrossScatteredPiecesAsTheDriveSendsIt) {
    const auto cdb = ReadCdCommand(5, 24, 0x14);
    const std::size_t bytes = 24 * 2648;
    const auto at = Queue({cdb.begin(), cdb.end()}, bytes, 3);
    Serve();
    const Reply reply = ReplyAt(at, 3);
    EXPECT_EQ(reply.status, status::good);
    EXPECT_EQ(reply.userFlags & kReadLengthValid, 0);
    EXPECT_EQ(reply.data, Delivered(*twin_, cdb, bytes));
}

TEST_F(TcmuRing, AShortReplyCarriesItsLengthSoTheInitiatorSeesTheResidual) {
    const auto at = Queue({opcode::inquiry, 0, 0, 0, 96, 0}, 96);
    Serve();
    const Reply reply = ReplyAt(at);
    EXPECT_EQ(reply.status, status::good);
    EXPECT_NE(reply.userFlags & kReadLengthValid, 0);
    EXPECT_EQ(reply.readLength, 36u);
}

TEST_F(TcmuRing, AnUnreadableSectorEndsTheReadWithMediumErrorAfterTheGoodBlocks) {
    const auto cdb = ReadCdCommand(36, 8, 0x12);
    const std::size_t bytes = 8 * 2646;
    const auto at = Queue({cdb.begin(), cdb.end()}, bytes);
    Serve();
    const Reply reply = ReplyAt(at);
    EXPECT_EQ(reply.status, status::checkCondition);
    EXPECT_EQ(reply.sense[2] & 0x0F, 0x03);
    EXPECT_EQ(reply.sense[12], 0x11);
    EXPECT_NE(reply.userFlags & kReadLengthValid, 0);
    EXPECT_EQ(reply.readLength, 4u * 2646);
    const auto good = Delivered(*twin_, cdb, bytes);
    ASSERT_EQ(good.size(), 4u * 2646);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), reply.data.begin()));
}

// The kernel copies 10 CDB bytes of a 0xC0-0xDF opcode: byte 10 of 0xD8 never arrives.
TEST_F(TcmuRing, TheVendorReadsLostSubCodeFollowsFromTheBytesPerSector) {
    const std::vector<std::uint8_t> cut{opcode::vendorReadCdda, 0, 0, 0, 0, 12, 0, 0, 0, 6};
    const auto withC2 = Queue(cut, 6 * 2646);
    const auto audioOnly = Queue(cut, 6 * 2352);
    Serve();
    std::array<std::uint8_t, 12> full{opcode::vendorReadCdda, 0, 0, 0, 0, 12, 0, 0, 0, 6, 0x04, 0};
    EXPECT_EQ(ReplyAt(withC2).status, status::good);
    EXPECT_EQ(ReplyAt(withC2).data, Delivered(*twin_, full, 6 * 2646));
    full[10] = 0x00;
    EXPECT_EQ(ReplyAt(audioOnly).status, status::good);
    EXPECT_EQ(ReplyAt(audioOnly).data, Delivered(*twin_, full, 6 * 2352));
}

TEST_F(TcmuRing, ModeSelectCarriesItsParameterListToTheDrive) {
    const std::vector<std::uint8_t> list{0, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x0A, 0x56};
    const auto select = Queue({opcode::modeSelect6, 0x10, 0, 0, 12, 0}, 12, 1, list);
    const auto read = Queue({opcode::read10, 0, 0, 0, 0, 3, 0, 0, 2, 0}, 2 * 2646);
    Serve();
    EXPECT_EQ(ReplyAt(select).status, status::good);
    EXPECT_EQ(ReplyAt(read).status, status::good);
    EXPECT_EQ(ReplyAt(read).data.size(), 2u * 2646);
}

TEST_F(TcmuRing, AReadLargerThanItsBufferFailsAsADataPhaseError) {
    const auto cdb = ReadCdCommand(0, 4, 0x10);
    const auto at = Queue({cdb.begin(), cdb.end()}, 3 * 2352);
    Serve();
    const Reply reply = ReplyAt(at);
    EXPECT_EQ(reply.status, status::checkCondition);
    EXPECT_EQ(reply.sense[2] & 0x0F, 0x0B);
    EXPECT_EQ(reply.sense[12], 0x4B);
    EXPECT_EQ(reply.readLength, 0u);
    EXPECT_NE(reply.userFlags & kReadLengthValid, 0);
}

TEST(TcmuDirection, FollowsTheOpcodeAndTheDataLength) {
    EXPECT_EQ(DirectionOf(opcode::modeSelect6, 12), Direction::out);
    EXPECT_EQ(DirectionOf(0x55, 24), Direction::out);  // MODE SELECT(10)
    EXPECT_EQ(DirectionOf(opcode::readCd, 2352), Direction::in);
    EXPECT_EQ(DirectionOf(0x46, 8), Direction::in);  // GET CONFIGURATION, sent by sr on attach
    EXPECT_EQ(DirectionOf(opcode::modeSelect6, 0), Direction::none);
    EXPECT_EQ(DirectionOf(opcode::testUnitReady, 0), Direction::none);
}

}  // namespace
