#include "frame_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace merrow {
namespace wire {
namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<FieldGroup> newMessage(const char* type)
{
    auto m = std::make_unique<FieldGroup>();
    m->setMsgType(type);
    return m;
}

Bytes encode(const IMessage& m, const FrameHeader& h = FrameHeader(), const Limits& l = Limits())
{
    Bytes out;
    const Status s = encodeFrame(h, m, out, l);
    EXPECT_TRUE(s.ok()) << s.reason();
    return out;
}

// Every frame the decoder gives until it needs more bytes or fails.
struct Drained {
    Status status;
    std::vector<Frame> frames;
};

Drained drain(FrameDecoder& d)
{
    Drained r;
    for (;;) {
        std::optional<Frame> f;
        r.status = d.next(f);
        if (!r.status.ok() || !f)
            return r;
        r.frames.push_back(std::move(*f));
    }
}

Drained decodeAll(const Bytes& bytes, const Limits& l = Limits())
{
    FrameDecoder d(l);
    d.feed(bytes.data(), bytes.size());
    return drain(d);
}

void putVarint(Bytes& b, uint64_t v)
{
    while (v >= 0x80) {
        b.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    b.push_back(static_cast<uint8_t>(v));
}

// A well-formed frame around any payload bytes, so the payload parser is reached.
Bytes frameOf(const Bytes& payload, uint8_t kind = 2, uint8_t channel = 1)
{
    Bytes f(kHeaderSize);
    const uint32_t n = static_cast<uint32_t>(payload.size());
    f[0] = static_cast<uint8_t>(n >> 24);
    f[1] = static_cast<uint8_t>(n >> 16);
    f[2] = static_cast<uint8_t>(n >> 8);
    f[3] = static_cast<uint8_t>(n);
    f[4] = kind;
    f[5] = channel;
    f.insert(f.end(), payload.begin(), payload.end());
    f.resize(f.size() + kTrailerSize);
    const uLong crc = crc32_z(crc32_z(0L, Z_NULL, 0), f.data(), f.size() - kTrailerSize);
    const size_t t = f.size() - kTrailerSize;
    f[t] = static_cast<uint8_t>(crc >> 24);
    f[t + 1] = static_cast<uint8_t>(crc >> 16);
    f[t + 2] = static_cast<uint8_t>(crc >> 8);
    f[t + 3] = static_cast<uint8_t>(crc);
    return f;
}

// Same fields in the same order with the same kinds and bit-identical values.
void expectSame(const FieldGroup& a, const FieldGroup& b, const std::string& where = "message")
{
    ASSERT_EQ(a.fields().size(), b.fields().size()) << where;
    for (uint32_t i = 0; i < a.fields().size(); ++i) {
        const Field& x = a.fields()[i];
        const Field& y = b.fields()[i];
        const std::string at = where + " field " + std::to_string(x.getTag());
        ASSERT_EQ(x.getTag(), y.getTag()) << at;
        ASSERT_EQ(x.kind(), y.kind()) << at;
        switch (x.kind()) {
        case FieldKind::Integer:
            EXPECT_EQ(x.rawInt(), y.rawInt()) << at;
            break;
        case FieldKind::Text:
            EXPECT_EQ(std::string(x.textData(), x.textSize()), std::string(y.textData(), y.textSize())) << at;
            break;
        case FieldKind::Double: {
            const double dx = x.rawDouble(), dy = y.rawDouble();
            EXPECT_EQ(std::memcmp(&dx, &dy, sizeof dx), 0) << at;
            break;
        }
        case FieldKind::GroupList: {
            const FieldGroupList& ex = *x.list();
            const FieldGroupList& ey = *y.list();
            ASSERT_EQ(ex.count(), ey.count()) << at;
            for (size_t e = 0; e < ex.count(); ++e)
                expectSame(ex.entry(e), ey.entry(e), at + " entry " + std::to_string(e));
            break;
        }
        }
    }
}

// A chain of group lists: depth 1 is a list in the message, depth n a list in an
// entry of depth n - 1.
std::unique_ptr<FieldGroup> nested(int depth)
{
    auto m = newMessage("N");
    IFieldGroup* g = m.get();
    for (int d = 1; d <= depth; ++d) {
        IFieldGroup* e = g->createGroupList(500 + d)->appendGroup();
        e->setIntValue(1, d);
        g = e;
    }
    return m;
}

TEST(FrameCodecTest, EveryKindAndValueRoundTripsExactly)
{
    auto m = newMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    const int64_t ints[] = {0, 1, -1, 63, -64, 64, -65, 127, 128, 300, -300,
                            std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min(),
                            std::numeric_limits<int64_t>::min() + 1};
    int tag = 1;
    for (int64_t v : ints)
        m->setIntValue(tag++, v);
    const std::string texts[] = {"", "a", std::string("\0\0", 2), std::string("x\0\xff\x80y", 5),
                                 std::string(200, '\xff'), std::string(70000, 'q')};
    for (const std::string& t : texts)
        m->setValue(tag++, t.data(), t.size());
    double nanWithPayload;
    const uint64_t nanBits = 0x7ff8dead0000beefULL;
    std::memcpy(&nanWithPayload, &nanBits, 8);
    const double doubles[] = {0.0, -0.0, 1.5, -2.25e-300, std::numeric_limits<double>::denorm_min(),
                              std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), std::nan(""), nanWithPayload};
    for (double d : doubles)
        m->setDoubleValue(tag++, d);
    IFieldGroupList* l = m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    l->appendGroup();  // an empty entry
    IFieldGroup* e = l->appendGroup();
    e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "DAS");
    e->setDoubleValue(IFixDefs::FLDTAG_QORAPARAMVALUE, 3.5);
    e->createGroupList(7);  // an empty list
    m->setIntValue(0x7fffffff, 1);  // the largest tag

    FrameHeader h;
    h.kind = FrameKind::Admin;
    h.resent = true;
    h.channel = IFixDefs::CHANNEL_MARKET_DATA;
    h.sequence = std::numeric_limits<uint64_t>::max();
    h.lastReceived = 0x0102030405060708ULL;
    const Drained r = decodeAll(encode(*m, h));
    ASSERT_TRUE(r.status.ok()) << r.status.reason();
    ASSERT_EQ(r.frames.size(), 1u);
    const Frame& f = r.frames[0];
    EXPECT_EQ(f.header.kind, FrameKind::Admin);
    EXPECT_TRUE(f.header.resent);
    EXPECT_EQ(f.header.channel, IFixDefs::CHANNEL_MARKET_DATA);
    EXPECT_EQ(f.header.sequence, h.sequence);
    EXPECT_EQ(f.header.lastReceived, h.lastReceived);
    expectSame(*m, *f.message);
    EXPECT_STREQ(f.message->getMsgType(), IFixDefs::MSGTYPE_QORARESPONSE);
    EXPECT_TRUE(std::signbit(f.message->getDoubleValue(tag - 9)));
}

TEST(FrameCodecTest, MessageTypeTravelsAsTextWhateverItsField)
{
    struct Case {
        const char* name;
        void (*set)(FieldGroup&);
        const char* type;
    };
    const Case cases[] = {
        {"empty", [](FieldGroup& g) { g.setMsgType(""); }, ""},
        {"none at all", [](FieldGroup&) {}, ""},
        {"an integer", [](FieldGroup& g) { g.setIntValue(IFixDefs::FLDTAG_MSGTYPE, 5); }, "5"},
        {"a group list", [](FieldGroup& g) { g.createGroupList(IFixDefs::FLDTAG_MSGTYPE); }, ""},
    };
    for (const Case& c : cases) {
        FieldGroup m;
        c.set(m);
        m.setValue(7, "x");
        const Drained r = decodeAll(encode(m));
        ASSERT_EQ(r.frames.size(), 1u) << c.name;
        const FieldGroup& got = *r.frames[0].message;
        EXPECT_STREQ(got.getValue(IFixDefs::FLDTAG_MSGTYPE), c.type) << c.name;
        EXPECT_STREQ(got.getValue(7), "x") << c.name;
        EXPECT_EQ(got.getFieldCount(), 2) << c.name;
    }
}

TEST(FrameCodecTest, EmbeddedMessagesKeepTheirOwnType)
{
    auto batch = newMessage(IFixDefs::MSGTYPE_QORARESPONSEBATCH);
    IFieldGroupList* members = batch->createGroupList(IFixDefs::FLDTAG_EMBMSG);
    const char* types[] = {IFixDefs::MSGTYPE_QORARESPONSE, IFixDefs::MSGTYPE_QORAREQUESTREJECT};
    for (const char* t : types) {
        auto member = newMessage(t);
        member->setValue(IFixDefs::FLDTAG_TESTREQID, t);
        members->addGroup(member.get());
    }
    const Drained r = decodeAll(encode(*batch));
    ASSERT_EQ(r.frames.size(), 1u);
    IFieldGroupList* got = r.frames[0].message->getGroupList(IFixDefs::FLDTAG_EMBMSG);
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(got->size(), 2);
    for (int i = 0; i < 2; ++i) {
        IMessage* member = got->get(i)->asMessage();
        EXPECT_STREQ(member->getMsgType(), types[i]);
        EXPECT_STREQ(member->getValue(IFixDefs::FLDTAG_TESTREQID), types[i]);
    }
}

TEST(FrameCodecTest, SixteenLevelsOfNestingPassAndSeventeenAreRefusedOnBothSides)
{
    auto ok = nested(16);
    const Drained r = decodeAll(encode(*ok));
    ASSERT_TRUE(r.status.ok()) << r.status.reason();
    ASSERT_EQ(r.frames.size(), 1u);
    expectSame(*ok, *r.frames[0].message);

    auto deep = nested(17);
    Bytes out;
    const Status s = encodeFrame(FrameHeader(), *deep, out);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.reason().find("nested deeper than 16"), std::string::npos) << s.reason();
    EXPECT_TRUE(out.empty()) << "nothing written on failure";

    // A peer with a looser limit sent it anyway.
    Limits loose;
    loose.maxDepth = 17;
    const Drained refused = decodeAll(encode(*deep, FrameHeader(), loose));
    EXPECT_FALSE(refused.status.ok());
    EXPECT_TRUE(refused.frames.empty());
    EXPECT_NE(refused.status.reason().find("nested deeper than 16"), std::string::npos);
}

TEST(FrameCodecTest, PayloadLimitHoldsAtTheExactSizeOnBothSides)
{
    auto m = newMessage("X");
    m->setValue(100, std::string(5000, 'p').c_str());
    const Bytes frame = encode(*m);
    const uint32_t payload = static_cast<uint32_t>(frame.size() - kHeaderSize - kTrailerSize);

    Limits exact;
    exact.maxPayload = payload;
    Limits below;
    below.maxPayload = payload - 1;
    EXPECT_EQ(encode(*m, FrameHeader(), exact), frame);
    Bytes out = {0xAA};
    const Status s = encodeFrame(FrameHeader(), *m, out, below);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(out, Bytes{0xAA}) << "the output is left as it was";

    EXPECT_EQ(decodeAll(frame, exact).frames.size(), 1u);
    // Refused as soon as the header is complete: the payload is never awaited.
    FrameDecoder d(below);
    d.feed(frame.data(), kHeaderSize);
    const Drained r = drain(d);
    EXPECT_FALSE(r.status.ok());
    EXPECT_NE(r.status.reason().find("exceeds the limit"), std::string::npos) << r.status.reason();
    EXPECT_EQ(Limits().maxPayload, 64u << 20);
}

TEST(FrameCodecTest, DeclaredLengthIsNeverReservedAhead)
{
    // A header declaring the largest allowed payload, then a trickle of bytes.
    Bytes header(kHeaderSize, 0);
    const uint32_t n = Limits().maxPayload;
    header[0] = static_cast<uint8_t>(n >> 24);
    header[1] = static_cast<uint8_t>(n >> 16);
    header[2] = static_cast<uint8_t>(n >> 8);
    header[3] = static_cast<uint8_t>(n);
    header[4] = 2;
    header[5] = 1;
    FrameDecoder d;
    d.feed(header.data(), header.size());
    const Bytes some(1000, 0);
    d.feed(some.data(), some.size());
    const Drained r = drain(d);
    EXPECT_TRUE(r.status.ok());
    EXPECT_TRUE(r.frames.empty());
    EXPECT_LT(d.capacity(), 4096u);
}

TEST(FrameCodecTest, FieldAndEntryLimitsCountEveryDepth)
{
    Limits l;
    l.maxFields = 10;
    // 6 fields at the top (one a list) and 4 in two entries: exactly 10.
    auto m = newMessage("X");
    for (int t = 1; t <= 5; ++t)
        m->setIntValue(t, t);
    IFieldGroupList* list = m->createGroupList(50);
    for (int e = 0; e < 2; ++e) {
        IFieldGroup* g = list->appendGroup();
        g->setIntValue(1, e);
        g->setIntValue(2, e);
    }
    const Bytes atLimit = encode(*m, FrameHeader(), l);
    EXPECT_EQ(decodeAll(atLimit, l).frames.size(), 1u);

    m->setIntValue(6, 6);
    Bytes out;
    EXPECT_FALSE(encodeFrame(FrameHeader(), *m, out, l).ok());
    const Drained r = decodeAll(encode(*m), l);
    EXPECT_FALSE(r.status.ok());
    EXPECT_NE(r.status.reason().find("more than 10 fields"), std::string::npos) << r.status.reason();

    // Empty entries cost a byte each on the wire: they are bounded too.
    auto entries = newMessage("X");
    IFieldGroupList* many = entries->createGroupList(1);
    for (int e = 0; e < 11; ++e)
        many->appendGroup();
    EXPECT_FALSE(encodeFrame(FrameHeader(), *entries, out, l).ok());
    const Drained re = decodeAll(encode(*entries), l);
    EXPECT_FALSE(re.status.ok());
    EXPECT_NE(re.status.reason().find("more than 10 group entries"), std::string::npos) << re.status.reason();
}

// A payload of count integer fields with tags 1000 and up, built on the bytes so
// a million fields cost no message building.
Bytes manyIntFields(uint64_t count)
{
    Bytes p = {1, 'X'};
    putVarint(p, count);
    for (uint64_t t = 1000; t < 1000 + count; ++t) {
        putVarint(p, t);
        p.push_back(1);
        p.push_back(0);
    }
    return p;
}

TEST(FrameCodecTest, DefaultFieldLimitIsOneMillion)
{
    const Drained ok = decodeAll(frameOf(manyIntFields(1000000)));
    ASSERT_TRUE(ok.status.ok()) << ok.status.reason();
    ASSERT_EQ(ok.frames.size(), 1u);
    EXPECT_EQ(ok.frames[0].message->getFieldCount(), 1000001);  // with the type

    // One more field is refused on its count, before any field is allocated.
    Bytes p = {1, 'X'};
    putVarint(p, 1000001);
    p.resize(p.size() + 3 * 1000001, 0);
    const Drained r = decodeAll(frameOf(p));
    EXPECT_FALSE(r.status.ok());
    EXPECT_NE(r.status.reason().find("more than 1000000 fields"), std::string::npos) << r.status.reason();
}

TEST(FrameCodecTest, MalformedPayloadsAreRefusedWithAReason)
{
    struct Case {
        const char* name;
        Bytes payload;
        const char* reason;
    };
    Bytes overlong = {1, 'X', 1, 5, 1};
    overlong.insert(overlong.end(), 10, 0xff);
    overlong.push_back(0x01);
    Bytes bigList = manyIntFields(20);
    bigList.insert(bigList.end(), {0xef, 0x07, 1, 0});  // tag 1007 again, after the first 16
    bigList[2] = 21;
    const Case cases[] = {
        {"empty", {}, "varint in message type"},
        {"type beyond payload", {5, 'X'}, "message type longer"},
        {"no field count", {1, 'X'}, "field count"},
        {"unknown kind", {1, 'X', 1, 5, 9, 0}, "unknown kind 9"},
        {"tag 0", {1, 'X', 1, 0, 1, 0}, "tag 0 out of range"},
        {"tag above 2^31-1", {1, 'X', 1, 0x80, 0x80, 0x80, 0x80, 0x08, 1, 0}, "out of range"},
        {"truncated varint", {1, 'X', 1, 5, 1, 0x85}, "truncated varint in integer value"},
        {"overlong varint", overlong, "varint in integer value"},
        {"text beyond payload", {1, 'X', 1, 5, 2, 10, 'a'}, "longer than the payload"},
        {"count beyond payload", {1, 'X', 50, 5, 1, 0}, "field count 50 exceeds"},
        {"truncated double", {1, 'X', 1, 5, 4, 1, 2, 3}, "truncated double"},
        {"field without kind", {1, 'X', 2, 5, 2, 3, 'a', 'b', 'c', 6}, "truncated field 6"},
        {"entries beyond payload", {1, 'X', 1, 5, 3, 100}, "entry count 100 exceeds"},
        {"duplicate tag", {1, 'X', 2, 5, 1, 0, 5, 1, 2}, "field 5 appears twice"},
        {"duplicate in a long list", bigList, "field 1007 appears twice"},
        {"type repeated as a field", {1, 'X', 1, 35, 2, 1, 'Y'}, "field 35 appears twice"},
        {"trailing bytes", {1, 'X', 0, 0xaa}, "1 bytes after the message"},
    };
    for (const Case& c : cases) {
        const Drained r = decodeAll(frameOf(c.payload));
        EXPECT_FALSE(r.status.ok()) << c.name;
        EXPECT_TRUE(r.frames.empty()) << c.name;
        EXPECT_NE(r.status.reason().find(c.reason), std::string::npos) << c.name << ": " << r.status.reason();
    }
    // The same payloads parse when well formed.
    const Drained fine = decodeAll(frameOf({1, 'X', 2, 5, 1, 0, 6, 2, 1, 'z'}));
    ASSERT_EQ(fine.frames.size(), 1u);
    EXPECT_STREQ(fine.frames[0].message->getValue(6), "z");
}

TEST(FrameCodecTest, UnknownFrameKindsAndChannelsAreRefused)
{
    const Bytes payload = {1, 'X', 0};
    for (uint8_t kind : {0, 3, 0x7f, 0x80, 0x83})
        EXPECT_FALSE(decodeAll(frameOf(payload, kind, 1)).status.ok()) << int(kind);
    for (uint8_t channel : {0, 3, 4, 0xff})
        EXPECT_FALSE(decodeAll(frameOf(payload, 2, channel)).status.ok()) << int(channel);
    EXPECT_EQ(decodeAll(frameOf(payload, 0x81, 2)).frames.size(), 1u) << "a resent admin frame";

    auto m = newMessage("X");
    FrameHeader h;
    h.channel = 3;
    Bytes out;
    EXPECT_FALSE(encodeFrame(h, *m, out).ok());
    h.channel = IFixDefs::CHANNEL_TRADING_DATA;
    h.kind = static_cast<FrameKind>(0x82);
    EXPECT_FALSE(encodeFrame(h, *m, out).ok());
    EXPECT_TRUE(out.empty());
}

std::unique_ptr<FieldGroup> smallMessage()
{
    auto m = newMessage(IFixDefs::MSGTYPE_QORAREQUEST);
    m->setValue(IFixDefs::FLDTAG_TESTREQID, "r-1");
    m->setIntValue(IFixDefs::FLDTAG_QORACOMMANDID, -3);
    m->setDoubleValue(IFixDefs::FLDTAG_MDENTRYPX, 1.25);
    m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM)->appendGroup()->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "QID");
    return m;
}

TEST(FrameCodecTest, EveryCorruptedBitIsRefusedOrAwaitedNeverDelivered)
{
    FrameHeader h;
    h.sequence = 5;
    h.lastReceived = 4;
    const Bytes frame = encode(*smallMessage(), h);
    const uint32_t length = static_cast<uint32_t>(frame.size() - kHeaderSize - kTrailerSize);
    int refused = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        for (int mask : {1, 2, 4, 8, 16, 32, 64, 128, 0xff}) {
            Bytes bad = frame;
            bad[i] ^= static_cast<uint8_t>(mask);
            const Drained r = decodeAll(bad);
            ASSERT_TRUE(r.frames.empty()) << "byte " << i << " mask " << mask;
            if (r.status.ok()) {
                // Only a longer declared length may leave the decoder waiting.
                ASSERT_LT(i, 4u) << "byte " << i << " mask " << mask;
                const uint32_t declared = (uint32_t{bad[0]} << 24) | (uint32_t{bad[1]} << 16) |
                                          (uint32_t{bad[2]} << 8) | bad[3];
                ASSERT_GT(declared, length);
            } else {
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(FrameCodecTest, EverySplitPointWaitsThenDeliversTheFrame)
{
    const auto m = smallMessage();
    const Bytes frame = encode(*m);
    for (size_t k = 0; k < frame.size(); ++k) {
        FrameDecoder d;
        d.feed(frame.data(), k);
        Drained first = drain(d);
        ASSERT_TRUE(first.status.ok()) << k;
        ASSERT_TRUE(first.frames.empty()) << k;
        EXPECT_EQ(d.buffered(), k);
        d.feed(frame.data() + k, frame.size() - k);
        Drained rest = drain(d);
        ASSERT_TRUE(rest.status.ok()) << k;
        ASSERT_EQ(rest.frames.size(), 1u) << k;
        expectSame(*m, *rest.frames[0].message);
        EXPECT_EQ(d.buffered(), 0u);
    }
}

TEST(FrameCodecTest, StreamInRandomChunksDecodesEveryFrameInOrder)
{
    std::mt19937 rng(12345);
    Bytes stream;
    std::vector<std::unique_ptr<FieldGroup>> sent;
    for (uint64_t seq = 1; seq <= 200; ++seq) {
        auto m = newMessage(seq % 2 ? IFixDefs::MSGTYPE_QORARESPONSE : IFixDefs::MSGTYPE_DASMESSAGE);
        m->setIntValue(IFixDefs::FLDTAG_QORACOMMANDID, static_cast<int64_t>(seq));
        m->setValue(IFixDefs::FLDTAG_TEXT, std::string(rng() % 3000, static_cast<char>('a' + seq % 26)).c_str());
        FrameHeader h;
        h.sequence = seq;
        h.channel = seq % 3 ? IFixDefs::CHANNEL_TRADING_DATA : IFixDefs::CHANNEL_MARKET_DATA;
        const Status s = encodeFrame(h, *m, stream);
        ASSERT_TRUE(s.ok());
        sent.push_back(std::move(m));
    }
    for (int pass = 0; pass < 3; ++pass) {
        FrameDecoder d;
        std::vector<Frame> got;
        size_t at = 0;
        while (at < stream.size()) {
            const size_t n = std::min<size_t>(stream.size() - at, pass == 2 ? stream.size() : 1 + rng() % 700);
            if (pass == 1) {
                // Read straight into the decoder, as a socket read does; the read may be short.
                uint8_t* room = d.prepare(n + 64);
                std::memcpy(room, stream.data() + at, n);
                d.commit(n);
            } else {
                d.feed(stream.data() + at, n);
            }
            at += n;
            Drained r = drain(d);
            ASSERT_TRUE(r.status.ok()) << r.status.reason();
            for (Frame& f : r.frames)
                got.push_back(std::move(f));
        }
        ASSERT_EQ(got.size(), sent.size()) << "pass " << pass;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].header.sequence, i + 1);
            expectSame(*sent[i], *got[i].message);
        }
    }
}

// A send queue is one buffer that frames are appended to. Each frame grows it by what
// that frame needs, so filling it is linear: the buffer is reallocated a logarithmic
// number of times, never once per frame (which copied and zero-filled the whole
// queue for each frame, under the sender's lock).
TEST(FrameCodecTest, AppendingManyFramesToOneBufferGrowsItLinearly)
{
    constexpr int kFrames = 1000;
    const std::string text(5000, 'q');  // beyond the room a frame is given up front
    Bytes queue;
    int reallocations = 0;
    for (int i = 0; i < kFrames; ++i) {
        auto m = newMessage(IFixDefs::MSGTYPE_DASMESSAGE);
        m->setIntValue(IFixDefs::FLDTAG_QORACOMMANDID, i);
        m->setValue(IFixDefs::FLDTAG_TEXT, text.c_str());
        FrameHeader h;
        h.sequence = static_cast<uint64_t>(i + 1);
        const size_t capacity = queue.capacity();
        ASSERT_TRUE(encodeFrame(h, *m, queue).ok());
        reallocations += queue.capacity() != capacity;
    }
    EXPECT_LE(reallocations, 40) << "for " << queue.size() << " bytes";
    EXPECT_LE(queue.capacity(), queue.size() * 2 + 8192);

    FrameDecoder d;
    d.feed(queue.data(), queue.size());
    Drained r = drain(d);
    ASSERT_TRUE(r.status.ok()) << r.status.reason();
    ASSERT_EQ(size_t(kFrames), r.frames.size());
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(r.frames[i].message->getIntValue(IFixDefs::FLDTAG_QORACOMMANDID), i);
        EXPECT_EQ(text.size(), std::strlen(r.frames[i].message->getValue(IFixDefs::FLDTAG_TEXT)));
    }
}

TEST(FrameCodecTest, FirstProtocolErrorIsFinal)
{
    const Bytes good = encode(*smallMessage());
    Bytes bad = good;
    bad[kHeaderSize + 3] ^= 0x10;
    FrameDecoder d;
    d.feed(good.data(), good.size());
    d.feed(bad.data(), bad.size());
    d.feed(good.data(), good.size());
    const Drained r = drain(d);
    ASSERT_EQ(r.frames.size(), 1u) << "frames before the bad one are whole";
    EXPECT_FALSE(r.status.ok());
    EXPECT_EQ(r.status.reason(), "frame CRC mismatch");
    EXPECT_TRUE(d.failed());
    d.feed(good.data(), good.size());
    const Drained again = drain(d);
    EXPECT_TRUE(again.frames.empty());
    EXPECT_EQ(again.status.reason(), "frame CRC mismatch");
}

TEST(FrameCodecTest, RestampChangesAcknowledgementAndResentFlagOnly)
{
    const auto m = smallMessage();
    FrameHeader h;
    h.sequence = 9;
    h.lastReceived = 1;
    Bytes f = encode(*m, h);
    ASSERT_TRUE(restampFrame(f.data(), f.size(), 77, true).ok());
    Drained r = decodeAll(f);
    ASSERT_EQ(r.frames.size(), 1u) << r.status.reason();
    EXPECT_EQ(r.frames[0].header.sequence, 9u);
    EXPECT_EQ(r.frames[0].header.lastReceived, 77u);
    EXPECT_TRUE(r.frames[0].header.resent);
    EXPECT_EQ(r.frames[0].header.kind, FrameKind::Application);
    expectSame(*m, *r.frames[0].message);
    ASSERT_TRUE(restampFrame(f.data(), f.size(), 78, false).ok());
    EXPECT_FALSE(decodeAll(f).frames.at(0).header.resent);

    EXPECT_FALSE(restampFrame(f.data(), f.size() - 1, 1, false).ok());
    EXPECT_FALSE(restampFrame(nullptr, 0, 1, false).ok());
}

TEST(FrameCodecTest, DrainedDecoderGivesBackALargeBuffer)
{
    auto m = newMessage("X");
    m->setValue(IFixDefs::FLDTAG_TEXT, std::string(1 << 20, 'z').c_str());
    const Bytes f = encode(*m);
    FrameDecoder d;
    d.feed(f.data(), f.size());
    EXPECT_GE(d.capacity(), f.size());
    EXPECT_EQ(drain(d).frames.size(), 1u);
    EXPECT_EQ(d.capacity(), 0u);
}

// Decoded trees live in their top message's slab: changing them, and copies taken
// from them, must never point into a slab that is gone.
TEST(FrameCodecTest, DecodedMessagesCanBeChangedAndCopiedOut)
{
    const std::string longText(300, 'L');
    auto m = newMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    m->setValue(1, "short");
    m->setValue(2, longText.c_str());
    IFieldGroupList* l = m->createGroupList(3);
    for (int i = 0; i < 3; ++i) {
        IFieldGroup* e = l->appendGroup();
        e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, (longText + std::to_string(i)).c_str());
        e->setIntValue(IFixDefs::FLDTAG_QORAPARAMVALUE, i);
    }
    Drained r = decodeAll(encode(*m));
    ASSERT_EQ(r.frames.size(), 1u);
    std::unique_ptr<FieldGroup> decoded = std::move(r.frames[0].message);

    // Copies taken out of the decoded tree, then the tree freed.
    auto whole = FieldGroup::copyOf(*decoded);
    FieldGroupList kept;
    kept.addGroup(decoded->getGroupList(3)->get(1));
    decoded.reset();
    EXPECT_EQ(whole->getValue(2), longText);
    EXPECT_EQ(kept.get(0)->getValue(IFixDefs::FLDTAG_QORAPARAMNAME), longText + "1");
    expectSame(*m, *whole);

    // A decoded tree changed in every way, then sent again.
    Drained again = decodeAll(encode(*m));
    FieldGroup& d = *again.frames.at(0).message;
    for (int t = 100; t < 140; ++t)  // grows the top array out of the slab
        d.setIntValue(t, t);
    d.setValue(2, d.getValue(2));  // a borrowed text set from itself
    d.setValue(1, longText.c_str());
    IFieldGroupList* dl = d.getGroupList(3);
    dl->get(0)->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "renamed");
    dl->appendGroup()->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "appended");
    EXPECT_TRUE(dl->get(2)->removeField(IFixDefs::FLDTAG_QORAPARAMVALUE));
    d.getGroupList(3)->get(1)->setGroupList(9, dl);  // a snapshot of its own list
    ASSERT_EQ(dl->size(), 4);
    EXPECT_STREQ(dl->get(3)->getValue(IFixDefs::FLDTAG_QORAPARAMNAME), "appended");
    const Drained round = decodeAll(encode(d));
    ASSERT_EQ(round.frames.size(), 1u) << round.status.reason();
    expectSame(d, *round.frames[0].message);
    d.setGroupList(3, nullptr);  // the slab list goes while the message lives on
    EXPECT_EQ(d.getGroupList(3), nullptr);
    EXPECT_EQ(d.getValue(2), longText);
}

// Another implementation of the interface, as a test double of the core may be:
// the encoder copies it and sends every value as its wire type.
class ForeignMessage final : public IMessage {
public:
    FieldGroup inner;

    const char* getValue(int tag) const override { return inner.getValue(tag); }
    int64_t getIntValue(int tag) const override { return inner.getIntValue(tag); }
    double getDoubleValue(int tag) const override { return inner.getDoubleValue(tag); }
    bool hasField(int tag) const override { return inner.hasField(tag); }
    IField* getField(int tag) const override { return inner.getField(tag); }
    int getFieldCount() const override { return inner.getFieldCount(); }
    IField* getFieldAt(int index) const override { return inner.getFieldAt(index); }
    IFieldGroupList* getGroupList(int tag) const override { return inner.getGroupList(tag); }
    void setValue(int tag, const char* text) override { inner.setValue(tag, text); }
    void setValue(int tag, const char* data, size_t length) override { inner.setValue(tag, data, length); }
    void setIntValue(int tag, int64_t value) override { inner.setIntValue(tag, value); }
    void setDoubleValue(int tag, double value) override { inner.setDoubleValue(tag, value); }
    void setGroupList(int tag, const IFieldGroupList* list) override { inner.setGroupList(tag, list); }
    IFieldGroupList* createGroupList(int tag) override { return inner.createGroupList(tag); }
    bool removeField(int tag) override { return inner.removeField(tag); }
    IMessage* asMessage() override { return this; }
    const char* getMsgType() const override { return inner.getMsgType(); }
    void setMsgType(const char* t) override { inner.setMsgType(t); }

protected:
    void destroy() override {}
};

TEST(FrameCodecTest, OtherImplementationsEncodeAsTheirWireTypes)
{
    ForeignMessage m;
    m.setMsgType(IFixDefs::MSGTYPE_QORAXMLMESSAGE);
    m.setIntValue(1, -42);
    m.setValue(2, std::string("a\0b", 3).c_str(), 3);
    m.setDoubleValue(3, 0.5);
    m.createGroupList(4)->appendGroup()->setIntValue(5, 6);
    const Drained r = decodeAll(encode(m));
    ASSERT_EQ(r.frames.size(), 1u) << r.status.reason();
    const FieldGroup& got = *r.frames[0].message;
    EXPECT_STREQ(got.getMsgType(), IFixDefs::MSGTYPE_QORAXMLMESSAGE);
    EXPECT_EQ(got.getIntValue(1), -42);
    EXPECT_EQ(got.getField(2)->getLength(), 3u);
    EXPECT_EQ(got.getField(3)->getType(), WIRETYPE_DOUBLE);
    EXPECT_EQ(got.getDoubleValue(3), 0.5);
    ASSERT_NE(got.getGroupList(4), nullptr);
    EXPECT_EQ(got.getGroupList(4)->get(0)->getIntValue(5), 6);
}

} // namespace
} // namespace wire
} // namespace merrow
