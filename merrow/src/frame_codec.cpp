#include "frame_codec.h"

#include "crc32.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <typeinfo>
#include <utility>

namespace merrow {
namespace wire {

namespace {

constexpr uint64_t kMaxTag = 0x7fffffff;
// Smallest wire size of one field (tag, kind, one value byte) and of one entry.
constexpr size_t kMinFieldBytes = 3;
constexpr size_t kMinEntryBytes = 1;
// A drained decoder gives back a buffer that a large frame left behind.
constexpr size_t kKeptCapacity = 256 * 1024;

uint32_t crcOf(const uint8_t* data, size_t size)
{
    return crc32(data, size);
}

// Byte order by shifts, which compilers turn into one load or store and a swap.
void putBE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void putBE64(uint8_t* p, uint64_t v)
{
    putBE32(p, static_cast<uint32_t>(v >> 32));
    putBE32(p + 4, static_cast<uint32_t>(v));
}

uint32_t getBE32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint64_t getBE64(const uint8_t* p)
{
    return (uint64_t{getBE32(p)} << 32) | getBE32(p + 4);
}

uint64_t getLE64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int b = 7; b >= 0; --b)
        v = (v << 8) | p[b];
    return v;
}

void putLE64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

size_t varintSize(uint64_t v)
{
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

uint64_t zigzag(int64_t v)
{
    return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}

int64_t unzigzag(uint64_t u)
{
    return static_cast<int64_t>((u >> 1) ^ (~(u & 1) + 1));
}

uint8_t* putVarint(uint8_t* p, uint64_t v)
{
    while (v >= 0x80) {
        *p++ = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<uint8_t>(v);
    return p;
}

bool validChannel(uint8_t c)
{
    return c == IFixDefs::CHANNEL_TRADING_DATA || c == IFixDefs::CHANNEL_MARKET_DATA;
}

bool validKind(uint8_t k)
{
    k &= static_cast<uint8_t>(~kResentFlag);
    return k == static_cast<uint8_t>(FrameKind::Admin) || k == static_cast<uint8_t>(FrameKind::Application);
}

// ---- encoding -------------------------------------------------------------

// Writes a payload in one pass through a local pointer, checking every limit
// before the output grows for it; on failure the caller cuts the output back.
class Writer {
public:
    Writer(std::vector<uint8_t>& out, size_t payloadStart, const Limits& limits)
        : m_out(out), m_start(payloadStart), m_limits(limits)
    {
        m_base = m_out.data() + m_start;
        m_end = m_out.data() + m_out.size();
    }

    uint8_t* begin() { return m_base; }

    bool text(uint8_t*& p, const char* data, size_t length)
    {
        if (written(p) + length + 10 > m_limits.maxPayload &&
            written(p) + varintSize(length) + length > m_limits.maxPayload)
            return tooLarge();
        uint8_t* q = room(p, length + 10);
        q = putVarint(q, length);
        std::memcpy(q, data, length);
        p = q + length;
        return true;
    }

    bool list(uint8_t*& p, const FieldGroup& g, int depth, const Field* skip)
    {
        const FieldArray& fields = g.fields();
        const uint64_t count = fields.size() - (skip ? 1 : 0);
        m_fields += count;
        if (m_fields > m_limits.maxFields)
            return failWith("more than " + std::to_string(m_limits.maxFields) + " fields in one frame");
        // Kept in locals: every byte stored may alias the members, which the
        // compiler would otherwise read again after each store.
        const size_t max = m_limits.maxPayload;
        uint8_t* q = putVarint(room(p, 10), count);
        uint8_t* base = m_base;
        uint8_t* end = m_end;
        for (const Field& f : fields) {
            if (&f == skip)
                continue;
            // Tag, kind and any number fit in 24 bytes.
            if (end - q < 24) {
                q = grow(q, 24);
                base = m_base;
                end = m_end;
            }
            q = putVarint(q, static_cast<uint64_t>(f.getTag()));
            *q++ = static_cast<uint8_t>(f.kind());
            switch (f.kind()) {
            case FieldKind::Integer:
                q = putVarint(q, zigzag(f.rawInt()));
                break;
            case FieldKind::Text:
                if (const char* inl = f.inlineText()) {
                    // Copied whole: a fixed-size copy is a few moves, and what lands
                    // past the text is overwritten or cut off.
                    if (end - q < static_cast<ptrdiff_t>(Field::kInline + 1)) {
                        q = grow(q, Field::kInline + 1);
                        base = m_base;
                        end = m_end;
                    }
                    *q++ = static_cast<uint8_t>(f.textSize());
                    std::memcpy(q, inl, Field::kInline);
                    q += f.textSize();
                    break;
                }
                if (!text(q, f.textData(), f.textSize()))
                    return false;
                base = m_base;
                end = m_end;
                break;
            case FieldKind::Double: {
                uint64_t bits;
                const double d = f.rawDouble();
                std::memcpy(&bits, &d, 8);
                putLE64(q, bits);
                q += 8;
                break;
            }
            case FieldKind::GroupList: {
                if (depth + 1 > m_limits.maxDepth)
                    return failWith("group lists nested deeper than " + std::to_string(m_limits.maxDepth));
                const FieldGroupList& l = *f.list();
                m_entries += l.count();
                if (m_entries > m_limits.maxFields)
                    return failWith("more than " + std::to_string(m_limits.maxFields) + " group entries in one frame");
                q = putVarint(q, l.count());
                for (size_t e = 0; e < l.count(); ++e)
                    if (!list(q, l.entry(e), depth + 1, nullptr))
                        return false;
                base = m_base;
                end = m_end;
                break;
            }
            }
            if (static_cast<size_t>(q - base) > max)
                return tooLarge();
        }
        if (static_cast<size_t>(q - base) > max)
            return tooLarge();
        p = q;
        return true;
    }

    size_t written(const uint8_t* p) const { return static_cast<size_t>(p - m_base); }
    const std::string& reason() const { return m_reason; }

private:
    uint8_t* room(uint8_t* p, size_t n) { return m_end - p < static_cast<ptrdiff_t>(n) ? grow(p, n) : p; }

    // The output grows by what this frame needs (at least what it has written so far,
    // so a large frame grows in few steps); never by the size of the whole buffer,
    // which may hold many frames queued ahead of this one.
    uint8_t* grow(uint8_t* p, size_t n)
    {
        const size_t at = static_cast<size_t>(p - m_out.data());
        const size_t written = at - m_start;
        m_out.resize(at + std::max(n, std::max<size_t>(written, 256)));
        m_base = m_out.data() + m_start;
        m_end = m_out.data() + m_out.size();
        return m_out.data() + at;
    }

    bool tooLarge()
    {
        return failWith("message exceeds the frame limit of " + std::to_string(m_limits.maxPayload) + " bytes");
    }

    bool failWith(std::string reason)
    {
        m_reason = std::move(reason);
        return false;
    }

    std::vector<uint8_t>& m_out;
    const size_t m_start;
    uint8_t* m_base;  // the payload's first byte
    uint8_t* m_end;
    const Limits& m_limits;
    uint64_t m_fields = 0;
    uint64_t m_entries = 0;
    std::string m_reason;
};

// ---- decoding -------------------------------------------------------------

uint64_t tagBit(uint64_t tag)
{
    return uint64_t{1} << ((static_cast<uint32_t>(tag) * 2654435761u) >> 26);
}

constexpr size_t align8(size_t n)
{
    return (n + 7) & ~size_t{7};
}

// Builds a payload's tree in one pass. Every array, list, entry and long text
// goes into the slab of the top message: a chain of chunks, the first sized from
// the payload, so a typical frame takes one chunk. Room is taken only for counts
// already checked against the limits and against the bytes left.
//
// The read position and the field being built travel in locals (p, out): the
// bytes stored into fields may alias any member, which would otherwise be read
// again after every store. A helper that fails returns null.
class Parser {
public:
    Parser(const uint8_t* data, size_t size, const Limits& limits)
        : m_begin(data), m_end(data + size), m_limits(limits)
    {
    }

    bool message(FieldGroup& m)
    {
        m_top = &m;
        const uint8_t* const end = m_end;
        uint64_t typeLength = 0;
        const uint8_t* p = varint(m_begin, end, typeLength, "message type");
        if (!p)
            return false;
        if (typeLength > static_cast<size_t>(end - p))
            return failAt(p, "message type longer than the payload");
        const uint8_t* type = p;
        p = list(p + typeLength, m, 0, type, static_cast<size_t>(typeLength));
        if (!p)
            return false;
        if (p != end)
            return failAt(p, std::to_string(end - p) + " bytes after the message");
        return true;
    }

    const std::string& reason() const { return m_reason; }

private:
    void* take(size_t bytes)
    {
        bytes = align8(bytes);
        if (static_cast<size_t>(m_chunkEnd - m_next) < bytes)
            newChunk(bytes);
        void* p = m_next;
        m_next += bytes;
        return p;
    }

    __attribute__((noinline)) void newChunk(size_t bytes)
    {
        // The first chunk fits a typical tree of this payload; later ones double.
        const size_t estimate =
            m_chunkSize ? m_chunkSize * 2 : std::min<size_t>(8 * static_cast<size_t>(m_end - m_begin) + 64, 64 * 1024);
        m_chunkSize = std::max(estimate, bytes);
        uint8_t* chunk = static_cast<uint8_t*>(FieldGroup::newSlabChunk(*m_top, kChunkHeader + m_chunkSize));
        m_next = chunk + kChunkHeader;
        m_chunkEnd = m_next + m_chunkSize;
    }

    // One- and two-byte varints (every tag below 16384) take the inline path.
    __attribute__((always_inline)) const uint8_t* varint(const uint8_t* p, const uint8_t* end, uint64_t& v,
                                                          const char* what)
    {
        if (end - p >= 2) {
            const uint8_t b0 = p[0];
            if (b0 < 0x80) {
                v = b0;
                return p + 1;
            }
            const uint8_t b1 = p[1];
            if (b1 < 0x80) {
                v = (b0 & 0x7fu) | (uint64_t{b1} << 7);
                return p + 2;
            }
        }
        return longVarint(p, end, v, what);
    }

    __attribute__((noinline)) const uint8_t* longVarint(const uint8_t* p, const uint8_t* end, uint64_t& v,
                                                        const char* what)
    {
        const uint8_t* const start = p;
        uint64_t result = 0;
        for (int shift = 0; p < end && shift < 64; shift += 7) {
            const uint8_t b = *p++;
            if (shift == 63 && b > 1)
                break;
            result |= uint64_t{b & 0x7fu} << shift;
            if (!(b & 0x80)) {
                v = result;
                return p;
            }
        }
        failAt(start, std::string("malformed or truncated varint in ") + what);
        return nullptr;
    }

    // A text of the payload: inside the field when short, else copied with a NUL
    // into the slab and borrowed.
    __attribute__((always_inline)) void text(Field* out, int tag, const uint8_t* data, size_t length,
                                             const uint8_t* end)
    {
        const char* bytes = reinterpret_cast<const char*>(data);
        if (length < Field::kInline) {
            // A copy of fixed size is a few moves; it may read past the text but
            // not past the payload.
            if (static_cast<size_t>(end - data) >= Field::kInline)
                new (out) Field(tag, bytes, length, Field::Padded());
            else
                new (out) Field(tag, bytes, length);
            return;
        }
        char* copy = static_cast<char*>(take(length + 1));
        std::memcpy(copy, bytes, length);
        copy[length] = '\0';
        new (out) Field(tag, copy, length, Field::Borrow());
    }

    // Keeps the array's size equal to the fields made, on every way out, so a
    // failure destroys exactly those.
    struct Made {
        FieldArray& fields;
        Field* const first;
        Field*& out;
        ~Made() { fields.setSize(static_cast<uint32_t>(out - first)); }
    };

    // The field list of g, read from p; the top list also holds the type.
    // Returns the position after it, or null.
    const uint8_t* list(const uint8_t* p, FieldGroup& g, int depth, const uint8_t* type, size_t typeLength)
    {
        const uint8_t* const end = m_end;
        const bool top = depth == 0;
        uint64_t count = 0;
        p = varint(p, end, count, "field count");
        if (!p)
            return nullptr;
        if (count > static_cast<size_t>(end - p) / kMinFieldBytes)
            return fail(p, "field count " + std::to_string(count) + " exceeds what the payload holds");
        m_fields += count;
        if (m_fields > m_limits.maxFields)
            return fail(p, "more than " + std::to_string(m_limits.maxFields) + " fields in one frame");
        const uint32_t capacity = static_cast<uint32_t>(count) + (top ? 1 : 0);
        if (capacity == 0)
            return p;
        FieldArray& fields = g.mutableFields();
        fields.adopt(take(capacity * sizeof(Field)), capacity);
        Field* const first = fields.begin();
        Field* out = first;
        Made made{fields, first, out};
        // Tags seen, hashed to one bit each: a tag whose bit is taken is compared
        // with the fields before it. Long lists are sorted once at the end instead.
        const bool shortList = capacity <= 64;
        uint64_t seen = 0;
        if (top) {
            text(out++, IFixDefs::FLDTAG_MSGTYPE, type, typeLength, end);
            seen = tagBit(IFixDefs::FLDTAG_MSGTYPE);
        }
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t tag = 0;
            p = varint(p, end, tag, "field tag");
            if (!p)
                return nullptr;
            if (tag == 0 || tag > kMaxTag)
                return fail(p, "field tag " + std::to_string(tag) + " out of range");
            if (p >= end)
                return fail(p, "truncated field " + std::to_string(tag));
            const int t = static_cast<int>(tag);
            if (shortList) {
                const uint64_t bit = tagBit(tag);
                if ((seen & bit) && hasTag(first, out, t))
                    return fail(p, "field " + std::to_string(tag) + " appears twice in one field list");
                seen |= bit;
            }
            const uint8_t kind = *p++;
            switch (kind) {
            case static_cast<uint8_t>(FieldKind::Integer): {
                uint64_t u = 0;
                p = varint(p, end, u, "integer value");
                if (!p)
                    return nullptr;
                new (out++) Field(t, unzigzag(u));
                break;
            }
            case static_cast<uint8_t>(FieldKind::Text): {
                uint64_t length = 0;
                p = varint(p, end, length, "text length");
                if (!p)
                    return nullptr;
                if (length > static_cast<size_t>(end - p))
                    return fail(p, "text of field " + std::to_string(tag) + " longer than the payload");
                text(out++, t, p, static_cast<size_t>(length), end);
                p += length;
                break;
            }
            case static_cast<uint8_t>(FieldKind::Double): {
                if (end - p < 8)
                    return fail(p, "truncated double of field " + std::to_string(tag));
                const uint64_t bits = getLE64(p);
                p += 8;
                double d;
                std::memcpy(&d, &bits, 8);
                new (out++) Field(t, d);
                break;
            }
            case static_cast<uint8_t>(FieldKind::GroupList): {
                if (depth + 1 > m_limits.maxDepth)
                    return fail(p, "group lists nested deeper than " + std::to_string(m_limits.maxDepth));
                uint64_t entries = 0;
                p = varint(p, end, entries, "entry count");
                if (!p)
                    return nullptr;
                if (entries > static_cast<size_t>(end - p) / kMinEntryBytes)
                    return fail(p, "entry count " + std::to_string(entries) + " exceeds what the payload holds");
                m_entries += entries;
                if (m_entries > m_limits.maxFields)
                    return fail(p, "more than " + std::to_string(m_limits.maxFields) + " group entries in one frame");
                // Owned by its field from here on, so a later failure ends it too.
                auto* l = new (take(sizeof(FieldGroupList))) FieldGroupList();
                l->setInSlab();
                new (out++) Field(t, l);
                if (entries)
                    l->adoptBlock(take(static_cast<size_t>(entries) * sizeof(FieldGroup)),
                                  static_cast<uint32_t>(entries));
                for (uint64_t e = 0; e < entries; ++e) {
                    p = list(p, l->entry(static_cast<size_t>(e)), depth + 1, nullptr, 0);
                    if (!p)
                        return nullptr;
                }
                break;
            }
            default:
                return fail(p, "unknown kind " + std::to_string(kind) + " of field " + std::to_string(tag));
            }
        }
        if (!shortList && !uniqueTags(first, out, p))
            return nullptr;
        return p;
    }

    static bool hasTag(const Field* first, const Field* last, int tag)
    {
        for (const Field* f = first; f != last; ++f)
            if (f->getTag() == tag)
                return true;
        return false;
    }

    bool uniqueTags(const Field* first, const Field* last, const uint8_t* p)
    {
        std::vector<int> tags;
        tags.reserve(static_cast<size_t>(last - first));
        for (const Field* f = first; f != last; ++f)
            tags.push_back(f->getTag());
        std::sort(tags.begin(), tags.end());
        const auto it = std::adjacent_find(tags.begin(), tags.end());
        if (it == tags.end())
            return true;
        return failAt(p, "field " + std::to_string(*it) + " appears twice in one field list");
    }

    bool failAt(const uint8_t* p, std::string reason)
    {
        m_reason = std::move(reason) + " (payload offset " + std::to_string(p - m_begin) + ")";
        return false;
    }

    const uint8_t* fail(const uint8_t* p, std::string reason)
    {
        failAt(p, std::move(reason));
        return nullptr;
    }

    static constexpr size_t kChunkHeader = FieldGroup::kSlabChunkHeader;

    const uint8_t* const m_begin;
    const uint8_t* const m_end;
    const Limits& m_limits;
    FieldGroup* m_top = nullptr;
    uint8_t* m_next = nullptr;
    uint8_t* m_chunkEnd = nullptr;
    size_t m_chunkSize = 0;
    uint64_t m_fields = 0;
    uint64_t m_entries = 0;
    std::string m_reason;
};

} // namespace

Status encodeFrame(const FrameHeader& header, const IMessage& message, std::vector<uint8_t>& out, const Limits& limits)
{
    if (!validChannel(header.channel))
        return Status::error("unknown channel " + std::to_string(header.channel));
    if (!validKind(static_cast<uint8_t>(header.kind)) || (static_cast<uint8_t>(header.kind) & kResentFlag))
        return Status::error("unknown frame kind " + std::to_string(static_cast<unsigned>(header.kind)));

    std::unique_ptr<FieldGroup> copy;
    // FieldGroup is final: comparing the type is enough, and cheaper than a cast.
    const FieldGroup* m = typeid(message) == typeid(FieldGroup) ? static_cast<const FieldGroup*>(&message) : nullptr;
    if (!m) {
        copy = FieldGroup::copyOf(message);
        copy->setMsgType(message.getMsgType());
        m = copy.get();
    }

    // The type travels ahead of the field list, not inside it.
    const Field* typeField = nullptr;
    for (const Field& f : m->fields())
        if (f.getTag() == IFixDefs::FLDTAG_MSGTYPE) {
            typeField = &f;
            break;
        }
    // getValue gives a number set as the type its decimal text; a group list in
    // its place is no type at all.
    const char* type = typeField ? typeField->getValue() : nullptr;
    const size_t typeLength = type ? typeField->getLength() : 0;
    if (!type)
        type = "";

    const size_t start = out.size();
    const size_t payloadStart = start + kHeaderSize;
    // Room for a typical frame up front, so most frames never grow the output.
    out.resize(std::max(payloadStart + 256, std::min(out.capacity(), payloadStart + size_t{4096})));
    Writer w(out, payloadStart, limits);
    uint8_t* p = w.begin();
    if (!w.text(p, type, typeLength) || !w.list(p, *m, 0, typeField)) {
        out.resize(start);
        return Status::error(w.reason());
    }
    const size_t payload = w.written(p);
    out.resize(payloadStart + payload + kTrailerSize);
    uint8_t* const frame = out.data() + start;
    putBE32(frame, static_cast<uint32_t>(payload));
    frame[4] = static_cast<uint8_t>(static_cast<uint8_t>(header.kind) | (header.resent ? kResentFlag : 0));
    frame[5] = header.channel;
    putBE64(frame + 6, header.sequence);
    putBE64(frame + 14, header.lastReceived);
    putBE32(frame + kHeaderSize + payload, crcOf(frame, kHeaderSize + payload));
    return Status();
}

Status restampFrame(uint8_t* frame, size_t size, uint64_t lastReceived, bool resent)
{
    if (!frame || size < kHeaderSize + kTrailerSize || getBE32(frame) != size - kHeaderSize - kTrailerSize)
        return Status::error("not a whole frame");
    putBE64(frame + 14, lastReceived);
    frame[4] = static_cast<uint8_t>((frame[4] & ~kResentFlag) | (resent ? kResentFlag : 0));
    putBE32(frame + size - kTrailerSize, crcOf(frame, size - kTrailerSize));
    return Status();
}

Status decodePayload(const uint8_t* data, size_t size, const Limits& limits, std::unique_ptr<FieldGroup>& message)
{
    message.reset();
    if (size > limits.maxPayload)
        return Status::error("payload of " + std::to_string(size) + " bytes exceeds the limit of " +
                             std::to_string(limits.maxPayload));
    auto m = std::make_unique<FieldGroup>();
    Parser parser(data, size, limits);
    if (!parser.message(*m))
        return Status::error(parser.reason());  // the partial tree goes with m
    message = std::move(m);
    return Status();
}

// ---- FrameDecoder ---------------------------------------------------------

FrameDecoder::FrameDecoder(const Limits& limits) : m_limits(limits) {}

void FrameDecoder::feed(const void* data, size_t size)
{
    if (m_failed || size == 0 || !data)
        return;
    std::memcpy(prepare(size), data, size);
    commit(size);
}

uint8_t* FrameDecoder::prepare(size_t size)
{
    if (m_begin == m_end)
        m_begin = m_end = 0;
    if (m_capacity - m_end < size && m_begin > 0) {
        std::memmove(m_data.get(), m_data.get() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_capacity - m_end < size) {
        const size_t want = std::max(m_end + size, m_capacity * 2);
        std::unique_ptr<uint8_t[]> grown(new uint8_t[want]);
        if (m_end > 0)
            std::memcpy(grown.get(), m_data.get(), m_end);
        m_data = std::move(grown);
        m_capacity = want;
    }
    m_prepared = size;
    return m_data.get() + m_end;
}

void FrameDecoder::commit(size_t size)
{
    if (m_failed)
        return;
    m_end += std::min(size, m_prepared);
    m_prepared = 0;
}

Status FrameDecoder::fail(std::string reason)
{
    m_failed = true;
    m_failure = std::move(reason);
    // Nothing more will be read from this connection.
    m_data.reset();
    m_capacity = m_begin = m_end = 0;
    return Status::error(m_failure);
}

void FrameDecoder::consume(size_t size)
{
    m_begin += size;
    if (m_begin == m_end) {
        m_begin = m_end = 0;
        if (m_capacity > kKeptCapacity) {
            m_data.reset();
            m_capacity = 0;
        }
    }
}

Status FrameDecoder::next(std::optional<Frame>& frame)
{
    frame.reset();
    if (m_failed)
        return Status::error(m_failure);
    const size_t avail = m_end - m_begin;
    if (avail < kHeaderSize)
        return Status();
    const uint8_t* h = m_data.get() + m_begin;
    const uint32_t length = getBE32(h);
    if (length > m_limits.maxPayload)
        return fail("frame payload of " + std::to_string(length) + " bytes exceeds the limit of " +
                    std::to_string(m_limits.maxPayload));
    if (!validKind(h[4]))
        return fail("unknown frame kind " + std::to_string(h[4]));
    if (!validChannel(h[5]))
        return fail("unknown channel " + std::to_string(h[5]));
    const size_t total = kHeaderSize + size_t{length} + kTrailerSize;
    if (avail < total)
        return Status();
    if (crcOf(h, kHeaderSize + length) != getBE32(h + kHeaderSize + length))
        return fail("frame CRC mismatch");

    Frame f;
    f.header.kind = static_cast<FrameKind>(h[4] & ~kResentFlag);
    f.header.resent = (h[4] & kResentFlag) != 0;
    f.header.channel = h[5];
    f.header.sequence = getBE64(h + 6);
    f.header.lastReceived = getBE64(h + 14);
    f.payloadSize = length;
    Status s = decodePayload(h + kHeaderSize, length, m_limits, f.message);
    if (!s.ok())
        return fail("bad frame payload: " + s.reason());
    consume(total);
    frame = std::move(f);
    return Status();
}

} // namespace wire
} // namespace merrow
