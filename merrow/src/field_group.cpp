#include "field_group.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "merrow/fix_defs.h"

namespace merrow {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int64_t doubleToInt(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9223372036854775807.0)
        return std::numeric_limits<int64_t>::max();
    if (d <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

template <class T>
T* allocate(size_t n)
{
    return static_cast<T*>(::operator new(n * sizeof(T)));
}

} // namespace

int64_t textToInt(const char* data, size_t length)
{
    const char* p = data;
    const char* end = data + length;
    while (p < end && isBlank(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // Accumulate as a negative number: its range holds INT64_MIN.
    int64_t acc = 0;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        if (acc < (kMin + digit) / 10)
            return negative ? kMin : std::numeric_limits<int64_t>::max();
        acc = acc * 10 - digit;
    }
    if (negative)
        return acc;
    return acc == kMin ? std::numeric_limits<int64_t>::max() : -acc;
}

double textToDouble(const char* text)
{
    // Never the process locale: an application may have set a decimal comma.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (!text || !*text)
        return 0.0;
    char* endp = nullptr;
    const double v = cLocale ? strtod_l(text, &endp, cLocale) : std::strtod(text, &endp);
    return endp == text ? 0.0 : v;
}

// ---- Field ----------------------------------------------------------------

Field::Field(int tag, FieldGroupList* list) : m_tag(tag), m_kind(FieldKind::GroupList)
{
    list->setAttached(true);
    m_v.list = list;
}

Field::Field(const Field& other) : IField(), m_tag(other.m_tag), m_kind(other.m_kind)
{
    m_v = other.m_v;
    switch (m_kind) {
    case FieldKind::Text:
        setText(other.textData(), other.m_length);
        break;
    case FieldKind::GroupList: {
        auto* copy = new FieldGroupList(*other.m_v.list);
        copy->setAttached(true);
        m_v.list = copy;
        break;
    }
    default:
        break;  // a number's decimal text is made again when asked for
    }
}

Field::Field(Field&& other) noexcept : IField(), m_tag(other.m_tag), m_kind(other.m_kind)
{
    stealFrom(other);
}

Field& Field::operator=(Field&& other) noexcept
{
    if (this != &other) {
        release();
        m_tag = other.m_tag;
        m_kind = other.m_kind;
        stealFrom(other);
    }
    return *this;
}

void Field::stealFrom(Field& other) noexcept
{
    m_v = other.m_v;
    m_length = other.m_length;
    m_mode = other.m_mode;
    std::memcpy(m_t, other.m_t, kInline);
    // The moved-from field becomes a bare integer that frees nothing.
    other.m_kind = FieldKind::Integer;
    other.m_mode = Mode::None;
    other.m_length = 0;
    other.m_v.i = 0;
}

void Field::release() noexcept
{
    if (m_kind == FieldKind::Text && m_mode == Mode::Heap)
        delete[] pointer();
    if (m_kind == FieldKind::GroupList) {
        if (m_v.list->inSlab())
            m_v.list->~FieldGroupList();
        else
            delete m_v.list;
    }
    m_kind = FieldKind::Integer;
    m_mode = Mode::None;
    m_length = 0;
    m_v.i = 0;
}

void Field::setHeapText(const char* data, size_t length)
{
    char* p = new char[length + 1];
    std::memcpy(p, data, length);
    p[length] = '\0';
    setPointer(p);
    m_mode = Mode::Heap;
}

int Field::getType() const
{
    switch (m_kind) {
    case FieldKind::GroupList:
        return WIRETYPE_GROUPLIST;
    case FieldKind::Double:
        return WIRETYPE_DOUBLE;
    default:
        return WIRETYPE_TEXT;
    }
}

const char* Field::getValue() const
{
    switch (m_kind) {
    case FieldKind::Text:
        return textData();
    case FieldKind::Integer:
    case FieldKind::Double:
        if (m_mode == Mode::None) {
            // Shortest decimal text; a double's reads back as the same double.
            const auto r = m_kind == FieldKind::Integer ? std::to_chars(m_t, m_t + kInline - 1, m_v.i)
                                                        : std::to_chars(m_t, m_t + kInline - 1, m_v.d);
            *r.ptr = '\0';
            const_cast<Field*>(this)->m_length = static_cast<uint32_t>(r.ptr - m_t);
            m_mode = Mode::Inline;
        }
        return m_t;
    case FieldKind::GroupList:
        break;
    }
    return nullptr;
}

size_t Field::getLength() const
{
    if (m_kind == FieldKind::GroupList)
        return 0;
    getValue();
    return m_length;
}

int64_t Field::getIntValue() const
{
    switch (m_kind) {
    case FieldKind::Integer:
        return m_v.i;
    case FieldKind::Text:
        return textToInt(textData(), m_length);
    case FieldKind::Double:
        return doubleToInt(m_v.d);
    case FieldKind::GroupList:
        break;
    }
    return 0;
}

double Field::getDoubleValue() const
{
    switch (m_kind) {
    case FieldKind::Integer:
        return static_cast<double>(m_v.i);
    case FieldKind::Text:
        return textToDouble(textData());
    case FieldKind::Double:
        return m_v.d;
    case FieldKind::GroupList:
        break;
    }
    return 0.0;
}

IFieldGroupList* Field::getGroupList() const
{
    return list();
}

// ---- FieldArray -----------------------------------------------------------

FieldArray::FieldArray(const FieldArray& other)
{
    if (other.m_size == 0)
        return;
    Field* data = allocate<Field>(other.m_size);
    uint32_t made = 0;
    try {
        for (; made < other.m_size; ++made)
            new (data + made) Field(other.m_data[made]);
    } catch (...) {
        while (made > 0)
            data[--made].~Field();
        ::operator delete(data);
        throw;
    }
    m_data = data;
    m_size = m_capacity = other.m_size;
    m_owned = true;
}

FieldArray::~FieldArray()
{
    for (uint32_t i = m_size; i > 0; --i)
        m_data[i - 1].~Field();
    if (m_owned)
        ::operator delete(m_data);
}

void FieldArray::reserve(uint32_t capacity)
{
    if (capacity > m_capacity)
        grow(capacity);
}

void FieldArray::grow(uint32_t capacity)
{
    Field* data = allocate<Field>(capacity);
    for (uint32_t i = 0; i < m_size; ++i) {
        new (data + i) Field(std::move(m_data[i]));
        m_data[i].~Field();
    }
    if (m_owned)
        ::operator delete(m_data);
    m_data = data;
    m_capacity = capacity;
    m_owned = true;
}

void FieldArray::insertFront(Field&& f)
{
    emplace_back(std::move(f));
    std::rotate(begin(), end() - 1, end());
}

void FieldArray::erase(uint32_t index)
{
    for (uint32_t j = index; j + 1 < m_size; ++j)
        m_data[j] = std::move(m_data[j + 1]);
    m_data[--m_size].~Field();
}

// ---- FieldGroup -----------------------------------------------------------

FieldGroup::FieldGroup(const FieldGroup& other) : IMessage(), m_fields(other.m_fields) {}

FieldGroup::~FieldGroup() = default;

namespace {

// Each decoded message takes a slab chunk and gives it back when the application is
// done with it, usually on the same thread moments later; chunks are mostly larger
// than malloc's per-thread cache takes. A few freed chunks per thread are kept and
// handed out again, so a steady stream of frames does not go to malloc's arena for
// every one. A chunk records its size beside the link to the older one.
struct SlabCache {
    static constexpr size_t kKept = 4;
    static constexpr size_t kLargest = 64 * 1024 + FieldGroup::kSlabChunkHeader;
    void* chunks[kKept] = {};
    size_t count = 0;
    bool ended = false;  // the thread is exiting: chunks freed from here on go to malloc
    ~SlabCache()
    {
        for (size_t i = 0; i < count; ++i)
            ::operator delete(chunks[i]);
        count = 0;
        ended = true;
    }
};
thread_local SlabCache t_slabs;

size_t chunkSize(const void* chunk)
{
    size_t size;
    std::memcpy(&size, static_cast<const char*>(chunk) + sizeof(void*), sizeof size);
    return size;
}

} // namespace

void FieldGroup::SlabFree::operator()(void* chunk) const
{
    while (chunk) {
        void* older;
        std::memcpy(&older, chunk, sizeof older);
        SlabCache& cache = t_slabs;
        if (!cache.ended && cache.count < SlabCache::kKept && chunkSize(chunk) <= SlabCache::kLargest)
            cache.chunks[cache.count++] = chunk;
        else
            ::operator delete(chunk);
        chunk = older;
    }
}

void* FieldGroup::newSlabChunk(FieldGroup& top, size_t bytes)
{
    static_assert(kSlabChunkHeader >= sizeof(void*) + sizeof(size_t), "a chunk's header holds its link and size");
    void* chunk = nullptr;
    SlabCache& cache = t_slabs;
    for (size_t i = cache.count; i-- > 0;) {
        if (chunkSize(cache.chunks[i]) >= bytes) {
            chunk = cache.chunks[i];
            cache.chunks[i] = cache.chunks[--cache.count];
            bytes = chunkSize(chunk);
            break;
        }
    }
    if (!chunk)
        chunk = ::operator new(bytes);
    void* older = top.m_slab.release();
    std::memcpy(chunk, &older, sizeof older);
    std::memcpy(static_cast<char*>(chunk) + sizeof older, &bytes, sizeof bytes);
    top.m_slab.reset(chunk);
    return chunk;
}

std::unique_ptr<FieldGroup> FieldGroup::copyOf(const IFieldGroup& source)
{
    if (auto* ours = dynamic_cast<const FieldGroup*>(&source))
        return std::make_unique<FieldGroup>(*ours);
    auto copy = std::make_unique<FieldGroup>();
    const int n = source.getFieldCount();
    for (int i = 0; i < n; ++i) {
        const IField* f = source.getFieldAt(i);
        if (!f || f->getTag() <= 0)
            continue;
        switch (f->getType()) {
        case WIRETYPE_GROUPLIST:
            if (const IFieldGroupList* l = f->getGroupList())
                copy->setGroupList(f->getTag(), l);
            break;
        case WIRETYPE_DOUBLE:
            copy->setDoubleValue(f->getTag(), f->getDoubleValue());
            break;
        default:
            if (const char* v = f->getValue())
                copy->setValue(f->getTag(), v, f->getLength());
            break;
        }
    }
    return copy;
}

const Field* FieldGroup::find(int tag) const
{
    for (const Field& f : m_fields)
        if (f.getTag() == tag)
            return &f;
    return nullptr;
}

Field* FieldGroup::find(int tag)
{
    for (Field& f : m_fields)
        if (f.getTag() == tag)
            return &f;
    return nullptr;
}

void FieldGroup::put(Field&& field)
{
    // The new field is whole before the old one goes or the array grows, so its
    // value may come from a field of this very group.
    if (Field* f = find(field.getTag()))
        *f = std::move(field);
    else
        m_fields.emplace_back(std::move(field));
}

const char* FieldGroup::getValue(int tag) const
{
    const Field* f = find(tag);
    return f ? f->getValue() : nullptr;
}

int64_t FieldGroup::getIntValue(int tag) const
{
    const Field* f = find(tag);
    return f ? f->getIntValue() : 0;
}

double FieldGroup::getDoubleValue(int tag) const
{
    const Field* f = find(tag);
    return f ? f->getDoubleValue() : 0.0;
}

IField* FieldGroup::getField(int tag) const
{
    return const_cast<Field*>(find(tag));
}

IField* FieldGroup::getFieldAt(int index) const
{
    if (index < 0 || static_cast<uint32_t>(index) >= m_fields.size())
        return nullptr;
    return const_cast<Field*>(&m_fields[static_cast<size_t>(index)]);
}

IFieldGroupList* FieldGroup::getGroupList(int tag) const
{
    const Field* f = find(tag);
    return f ? f->list() : nullptr;
}

void FieldGroup::setValue(int tag, const char* text)
{
    if (!text) {
        removeField(tag);
        return;
    }
    setValue(tag, text, std::strlen(text));
}

void FieldGroup::setValue(int tag, const char* data, size_t length)
{
    if (tag <= 0 || (!data && length != 0) || length > std::numeric_limits<uint32_t>::max())
        return;
    put(Field(tag, data ? data : "", length));
}

void FieldGroup::setIntValue(int tag, int64_t value)
{
    if (tag > 0)
        put(Field(tag, value));
}

void FieldGroup::setDoubleValue(int tag, double value)
{
    if (tag > 0)
        put(Field(tag, value));
}

void FieldGroup::setGroupList(int tag, const IFieldGroupList* list)
{
    if (tag <= 0)
        return;
    if (!list) {
        removeField(tag);
        return;
    }
    // The copy is complete before anything is replaced, so a list may be set from
    // one of its own entries or ancestors.
    put(Field(tag, FieldGroupList::copyOf(*list).release()));
}

IFieldGroupList* FieldGroup::createGroupList(int tag)
{
    if (tag <= 0)
        return nullptr;
    auto* list = new FieldGroupList();
    put(Field(tag, list));
    return list;
}

bool FieldGroup::removeField(int tag)
{
    for (uint32_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].getTag() == tag) {
            m_fields.erase(i);
            return true;
        }
    }
    return false;
}

const char* FieldGroup::getMsgType() const
{
    const char* t = getValue(IFixDefs::FLDTAG_MSGTYPE);
    return t ? t : "";
}

void FieldGroup::setMsgType(const char* msgType)
{
    if (!msgType)
        msgType = "";
    Field type(IFixDefs::FLDTAG_MSGTYPE, msgType, std::strlen(msgType));
    if (Field* f = find(IFixDefs::FLDTAG_MSGTYPE))
        *f = std::move(type);
    else
        m_fields.insertFront(std::move(type));  // leads the fields, as it leads the message on the wire
}

void FieldGroup::destroy()
{
    if (!m_attached)
        delete this;
}

// ---- FieldGroupList -------------------------------------------------------

FieldGroupList::FieldGroupList(const FieldGroupList& other) : IFieldGroupList()
{
    const size_t n = other.count();
    if (n == 0)
        return;
    FieldGroup* block = allocate<FieldGroup>(n);
    size_t made = 0;
    try {
        for (; made < n; ++made)
            new (block + made) FieldGroup(other.entry(made));
    } catch (...) {
        while (made > 0)
            block[--made].~FieldGroup();
        ::operator delete(block);
        throw;
    }
    for (size_t i = 0; i < n; ++i)
        block[i].setAttached(true);
    m_block = block;
    m_blockSize = static_cast<uint32_t>(n);
    m_blockOwned = true;
}

FieldGroupList::~FieldGroupList()
{
    m_more.clear();
    for (uint32_t i = m_blockSize; i > 0; --i)
        m_block[i - 1].~FieldGroup();
    if (m_blockOwned)
        ::operator delete(m_block);
}

std::unique_ptr<FieldGroupList> FieldGroupList::copyOf(const IFieldGroupList& source)
{
    if (auto* ours = dynamic_cast<const FieldGroupList*>(&source))
        return std::make_unique<FieldGroupList>(*ours);
    auto copy = std::make_unique<FieldGroupList>();
    const int n = source.size();
    for (int i = 0; i < n; ++i)
        if (const IFieldGroup* g = source.get(i))
            copy->append(FieldGroup::copyOf(*g));
    return copy;
}

void FieldGroupList::adoptBlock(void* storage, uint32_t count)
{
    FieldGroup* block = static_cast<FieldGroup*>(storage);
    for (uint32_t i = 0; i < count; ++i)
        new (block + i) FieldGroup();
    for (uint32_t i = 0; i < count; ++i)
        block[i].setAttached(true);
    m_block = block;
    m_blockSize = count;
    m_blockOwned = false;
}

IFieldGroup* FieldGroupList::first()
{
    m_cursor = 0;
    return count() ? &entry(0) : nullptr;
}

IFieldGroup* FieldGroupList::next()
{
    if (m_cursor < count())
        ++m_cursor;
    return m_cursor < count() ? &entry(m_cursor) : nullptr;
}

IFieldGroup* FieldGroupList::get(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= count())
        return nullptr;
    return &entry(static_cast<size_t>(index));
}

IFieldGroup* FieldGroupList::addGroup(const IFieldGroup* group)
{
    if (!group)
        return nullptr;
    return append(FieldGroup::copyOf(*group));
}

IFieldGroup* FieldGroupList::appendGroup()
{
    return append(std::make_unique<FieldGroup>());
}

FieldGroup* FieldGroupList::append(std::unique_ptr<FieldGroup> entry)
{
    entry->setAttached(true);
    m_more.push_back(std::move(entry));
    return m_more.back().get();
}

void FieldGroupList::destroy()
{
    if (!m_attached)
        delete this;
}

// ---- factory and free functions -------------------------------------------

IMessage* MessageFactory::createMessage(const char* msgType)
{
    auto* m = new FieldGroup();
    m->setMsgType(msgType);
    return m;
}

IFieldGroup* MessageFactory::createFieldGroup()
{
    return new FieldGroup();
}

IFieldGroupList* MessageFactory::createFieldGroupList()
{
    return new FieldGroupList();
}

IMessageFactory* getMessageFactory()
{
    static MessageFactory factory;
    return &factory;
}

void freeFieldGroup(IFieldGroup* group)
{
    if (group)
        group->destroy();
}

void freeMessage(IMessage* message)
{
    freeFieldGroup(message);
}

void freeFieldGroupList(IFieldGroupList* list)
{
    if (list)
        list->destroy();
}

} // namespace merrow
