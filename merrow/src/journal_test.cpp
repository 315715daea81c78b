#include "journal.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>

namespace merrow::detail {
namespace {

using Code = JournalStatus::Code;

SharedFrame frameOf(const std::string& text)
{
    return std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end());
}

SharedFrame frameOfSize(std::size_t n)
{
    return std::make_shared<const std::vector<std::uint8_t>>(n, std::uint8_t(0x5a));
}

std::string textOf(const SharedFrame& f)
{
    return std::string(f->begin(), f->end());
}

// Appends frames "f<seq>" up to `last`.
void fill(Journal& j, std::uint64_t last)
{
    while (j.lastSequence() < last)
        ASSERT_TRUE(j.append(frameOf("f" + std::to_string(j.nextSequence()))).ok());
}

TEST(Journal, NumbersFromOneAndTrimsOnAcknowledgement)
{
    Journal j;
    EXPECT_EQ(j.nextSequence(), 1u);
    fill(j, 5);
    EXPECT_EQ(j.lastSequence(), 5u);
    EXPECT_EQ(j.size(), 5u);
    EXPECT_EQ(j.bytes(), 10u);

    EXPECT_TRUE(j.ack(3).ok());
    EXPECT_EQ(j.acknowledged(), 3u);
    EXPECT_EQ(j.size(), 2u);
    EXPECT_EQ(j.bytes(), 4u);
    EXPECT_TRUE(j.ack(2).ok());  // an older acknowledgement changes nothing
    EXPECT_EQ(j.size(), 2u);
    EXPECT_TRUE(j.ack(5).ok());
    EXPECT_EQ(j.size(), 0u);
    EXPECT_EQ(j.bytes(), 0u);
    EXPECT_EQ(j.nextSequence(), 6u);  // acknowledgement never renumbers
}

TEST(Journal, AcknowledgedFramesOwnedByNobodyElseComeBackEmptyForReuse)
{
    // Made mutable and shared as const, as the client's sends make them.
    auto frame = [](const std::string& text) {
        return SharedFrame(std::make_shared<std::vector<std::uint8_t>>(text.begin(), text.end()));
    };
    Journal j(Journal::kDefaultMaxFrames, Journal::kDefaultMaxBytes, true);
    EXPECT_EQ(j.takeSpare(), nullptr);
    ASSERT_TRUE(j.append(frame("f1")).ok());
    ASSERT_TRUE(j.append(frame("f2")).ok());
    SharedFrame inFlight = frame("f3");  // a write still holds it
    ASSERT_TRUE(j.append(inFlight).ok());
    ASSERT_TRUE(j.ack(3).ok());
    // f1 and f2 come back, emptied; f3 never does while the write holds it.
    std::vector<const void*> spares;
    while (auto spare = j.takeSpare()) {
        EXPECT_TRUE(spare->empty());
        EXPECT_EQ(spare.use_count(), 1);
        spares.push_back(spare.get());
    }
    EXPECT_EQ(spares.size(), 2u);
    EXPECT_EQ(std::count(spares.begin(), spares.end(), inFlight.get()), 0);
    EXPECT_EQ(textOf(inFlight), "f3");

    Journal plain;  // the server's: nothing kept
    fill(plain, 2);
    ASSERT_TRUE(plain.ack(2).ok());
    EXPECT_EQ(plain.takeSpare(), nullptr);
}

TEST(Journal, FramesAfterGivesWhatThePeerMissedSharedNotCopied)
{
    Journal j;
    const SharedFrame third = frameOf("f3");
    fill(j, 2);
    ASSERT_TRUE(j.append(third).ok());
    fill(j, 6);
    ASSERT_TRUE(j.ack(1).ok());

    std::vector<JournalEntry> out;
    ASSERT_TRUE(j.framesAfter(2, out).ok());
    ASSERT_EQ(out.size(), 4u);
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].sequence, 3 + i);
        EXPECT_EQ(textOf(out[i].frame), "f" + std::to_string(3 + i));
    }
    EXPECT_EQ(out[0].frame.get(), third.get());

    ASSERT_TRUE(j.framesAfter(1, out).ok());  // exactly at the acknowledged number
    EXPECT_EQ(out.size(), 5u);
    ASSERT_TRUE(j.framesAfter(6, out).ok());  // the peer has everything
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(j.size(), 5u);  // asking does not trim
}

TEST(Journal, ResendThatCannotBeHonouredFails)
{
    Journal j;
    fill(j, 6);
    ASSERT_TRUE(j.ack(4).ok());
    std::vector<JournalEntry> out{{99, frameOf("stale")}};
    EXPECT_EQ(j.framesAfter(3, out).code, Code::kCannotResend);  // frame 4 is gone
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(j.framesAfter(7, out).code, Code::kCannotResend);  // never sent
    EXPECT_FALSE(j.framesAfter(7, out).reason.empty());
}

TEST(Journal, AcknowledgementOfUnsentFramesIsRefusedAndChangesNothing)
{
    Journal j;
    fill(j, 3);
    const JournalStatus s = j.ack(4);
    EXPECT_EQ(s.code, Code::kBadAck);
    EXPECT_NE(s.reason.find('4'), std::string::npos);
    EXPECT_EQ(j.size(), 3u);
    EXPECT_EQ(j.acknowledged(), 0u);
}

TEST(Journal, BoundsRefuseWithoutLosingOrRenumbering)
{
    struct Case {
        const char* name;
        std::size_t maxFrames;
        std::size_t maxBytes;
        std::vector<std::size_t> accepted;  // frame sizes that fit
        std::size_t refused;                // the size that does not
    };
    const Case cases[] = {
        {"frame count", 3, 1000, {1, 1, 1}, 1},
        {"bytes", 100, 10, {4, 4}, 3},
        {"bytes exactly full", 100, 10, {4, 6}, 1},
        {"one frame above the byte bound", 100, 10, {}, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Journal j(c.maxFrames, c.maxBytes);
        for (std::size_t size : c.accepted)
            ASSERT_TRUE(j.append(frameOfSize(size)).ok());
        const std::uint64_t next = j.nextSequence();
        const JournalStatus s = j.append(frameOfSize(c.refused));
        EXPECT_EQ(s.code, Code::kOverflow);
        EXPECT_FALSE(s.reason.empty());
        EXPECT_EQ(j.nextSequence(), next);
        EXPECT_EQ(j.size(), c.accepted.size());
        // Once the peer acknowledges, there is room again under the next number.
        ASSERT_TRUE(j.ack(j.lastSequence()).ok());
        if (c.refused <= c.maxBytes) {
            EXPECT_TRUE(j.append(frameOfSize(c.refused)).ok());
            EXPECT_EQ(j.lastSequence(), next);
        }
    }
}

TEST(Journal, DefaultBoundIs65536FramesOr64MiB)
{
    Journal j;
    const SharedFrame one = frameOfSize(1);
    for (std::size_t i = 0; i < 65536; ++i)
        ASSERT_TRUE(j.append(one).ok()) << i;
    EXPECT_EQ(j.append(one).code, Code::kOverflow);

    Journal k;
    ASSERT_TRUE(k.append(frameOfSize((std::size_t(64) << 20) - 1)).ok());
    ASSERT_TRUE(k.append(one).ok());
    EXPECT_EQ(k.append(one).code, Code::kOverflow);
}

TEST(Journal, EmptyFramesAreRefused)
{
    Journal j;
    EXPECT_EQ(j.append(nullptr).code, Code::kInvalid);
    EXPECT_EQ(j.append(frameOfSize(0)).code, Code::kInvalid);
    EXPECT_EQ(j.nextSequence(), 1u);
}

TEST(Journal, ResetStartsANewLogicalSessionFromOne)
{
    Journal j;
    fill(j, 4);
    j.reset();
    EXPECT_EQ(j.nextSequence(), 1u);
    EXPECT_EQ(j.size(), 0u);
    EXPECT_EQ(j.bytes(), 0u);
    std::vector<JournalEntry> out;
    EXPECT_TRUE(j.framesAfter(0, out).ok());
    EXPECT_TRUE(out.empty());
}

} // namespace
} // namespace merrow::detail
