#pragma once
// The one implementation of the message interfaces. A group is a small array of
// fields (tag, kind, value) searched linearly: messages hold tens of fields, so a
// scan beats any map. Texts up to Field::kInline - 1 bytes live inside the field.
//
// A decoded message is built in a slab: every field array, list, entry and long
// text of the tree sits in chunks owned by the top message (one chunk for a
// typical frame), so a frame costs two allocations however many groups it holds.
// Changing a decoded message moves only the changed array to the heap; copies are
// always on the heap and never point into another message's slab. Entries of a
// list never move, so pointers to them survive appends.
//
// Inside the library groups are owned through std::unique_ptr; the public free
// functions end only objects that have no parent.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "merrow/message.h"

namespace merrow {

class FieldGroup;
class FieldGroupList;

// Wire kinds of a field value; kinds 2 to 4 double as the public wire types.
enum class FieldKind : uint8_t { Integer = 1, Text = 2, GroupList = 3, Double = 4 };

class Field final : public IField {
public:
    // Inline room for a text and its NUL; the decimal text of any number fits.
    static constexpr size_t kInline = 38;
    struct Borrow {};
    struct Padded {};

    Field(int tag, int64_t v) : m_tag(tag), m_kind(FieldKind::Integer) { m_v.i = v; }
    Field(int tag, double v) : m_tag(tag), m_kind(FieldKind::Double) { m_v.d = v; }
    // Copies the bytes.
    Field(int tag, const char* data, size_t length) : m_tag(tag), m_kind(FieldKind::Text)
    {
        m_v.i = 0;
        setText(data, length);
    }
    // A text shorter than kInline whose source has kInline readable bytes.
    Field(int tag, const char* data, size_t length, Padded) : m_tag(tag), m_kind(FieldKind::Text)
    {
        m_v.i = 0;
        m_length = static_cast<uint32_t>(length);
        std::memcpy(m_t, data, kInline);
        m_t[length] = '\0';
        m_mode = Mode::Inline;
    }
    // Points at NUL-terminated bytes that outlive the field (a decoded slab).
    Field(int tag, const char* terminated, size_t length, Borrow)
        : m_tag(tag), m_length(static_cast<uint32_t>(length)), m_kind(FieldKind::Text), m_mode(Mode::Borrowed)
    {
        m_v.i = 0;
        setPointer(terminated);
    }
    // Takes the list: deletes it, or destroys it in place when it lives in a slab.
    Field(int tag, FieldGroupList* list);
    // Deep copy; a borrowed text becomes the copy's own.
    Field(const Field& other);
    // Moves within one message tree; a borrowed text stays borrowed.
    Field(Field&& other) noexcept;
    Field& operator=(Field&& other) noexcept;
    Field& operator=(const Field& other) = delete;
    ~Field() override
    {
        if ((m_kind == FieldKind::Text && m_mode == Mode::Heap) || m_kind == FieldKind::GroupList)
            release();
    }

    int getTag() const override { return m_tag; }
    int getType() const override;
    const char* getValue() const override;
    size_t getLength() const override;
    int64_t getIntValue() const override;
    double getDoubleValue() const override;
    IFieldGroupList* getGroupList() const override;

    FieldKind kind() const { return m_kind; }
    int64_t rawInt() const { return m_v.i; }
    double rawDouble() const { return m_v.d; }
    // The bytes of a text field.
    const char* textData() const { return m_mode == Mode::Inline ? m_t : pointer(); }
    size_t textSize() const { return m_length; }
    // The kInline bytes holding a short text (its NUL and then anything), or null.
    const char* inlineText() const { return m_kind == FieldKind::Text && m_mode == Mode::Inline ? m_t : nullptr; }
    // A copy of the bytes of a text field.
    std::string rawText() const { return std::string(textData(), m_length); }
    FieldGroupList* list() const { return m_kind == FieldKind::GroupList ? m_v.list : nullptr; }

private:
    // Where the text (or a number's decimal cache) is: none yet, inside, owned
    // on the heap, or borrowed from a slab.
    enum class Mode : uint8_t { None, Inline, Heap, Borrowed };

    void setText(const char* data, size_t length)
    {
        m_length = static_cast<uint32_t>(length);
        if (length < kInline) {
            std::memcpy(m_t, data, length);
            m_t[length] = '\0';
            m_mode = Mode::Inline;
        } else {
            setHeapText(data, length);
        }
    }
    void setHeapText(const char* data, size_t length);
    void release() noexcept;
    void stealFrom(Field& other) noexcept;
    // A heap or borrowed text's address, kept in the inline bytes (unaligned, so
    // the field stays at 64 bytes).
    char* pointer() const
    {
        char* p;
        std::memcpy(&p, m_t, sizeof p);
        return p;
    }
    void setPointer(const char* p) { std::memcpy(m_t, &p, sizeof p); }

    union {
        int64_t i;
        double d;
        FieldGroupList* list;
    } m_v;
    int32_t m_tag;
    uint32_t m_length = 0;
    FieldKind m_kind;
    mutable Mode m_mode = Mode::None;
    mutable char m_t[kInline];
};

// The fields of a group: a growable array that starts either on the heap or in
// a slab (where it is never freed, only destroyed).
class FieldArray {
public:
    FieldArray() = default;
    FieldArray(const FieldArray& other);
    FieldArray& operator=(const FieldArray&) = delete;
    ~FieldArray();

    // For the decoder, which constructs the fields in place: how many are made.
    void setSize(uint32_t size) { m_size = size; }
    // Uses slab room for up to capacity fields.
    void adopt(void* storage, uint32_t capacity)
    {
        m_data = static_cast<Field*>(storage);
        m_size = 0;
        m_capacity = capacity;
        m_owned = false;
    }
    void reserve(uint32_t capacity);

    uint32_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    Field& operator[](size_t i) { return m_data[i]; }
    const Field& operator[](size_t i) const { return m_data[i]; }
    Field* begin() { return m_data; }
    Field* end() { return m_data + m_size; }
    const Field* begin() const { return m_data; }
    const Field* end() const { return m_data + m_size; }

    template <class... Args>
    Field& emplace_back(Args&&... args)
    {
        if (m_size == m_capacity)
            grow(m_capacity ? m_capacity * 2 : 4);
        Field* f = new (m_data + m_size) Field(std::forward<Args>(args)...);
        ++m_size;
        return *f;
    }
    void insertFront(Field&& f);
    void erase(uint32_t index);

private:
    void grow(uint32_t capacity);

    Field* m_data = nullptr;
    uint32_t m_size = 0;
    uint32_t m_capacity = 0;
    bool m_owned = false;
};

class FieldGroup final : public IMessage {
public:
    FieldGroup() = default;
    FieldGroup(const FieldGroup& other);
    ~FieldGroup() override;

    // Copies any implementation of the interface into a new group of ours; our own
    // groups copy every kind exactly, others as their wire types.
    static std::unique_ptr<FieldGroup> copyOf(const IFieldGroup& source);

    const char* getValue(int tag) const override;
    int64_t getIntValue(int tag) const override;
    double getDoubleValue(int tag) const override;
    bool hasField(int tag) const override { return find(tag) != nullptr; }
    IField* getField(int tag) const override;
    int getFieldCount() const override { return static_cast<int>(m_fields.size()); }
    IField* getFieldAt(int index) const override;
    IFieldGroupList* getGroupList(int tag) const override;

    void setValue(int tag, const char* text) override;
    void setValue(int tag, const char* data, size_t length) override;
    void setIntValue(int tag, int64_t value) override;
    void setDoubleValue(int tag, double value) override;
    void setGroupList(int tag, const IFieldGroupList* list) override;
    IFieldGroupList* createGroupList(int tag) override;
    bool removeField(int tag) override;
    IMessage* asMessage() override { return this; }

    const char* getMsgType() const override;
    void setMsgType(const char* msgType) override;

    // For the codec: fields in order, appended without the one-per-tag check (the
    // decoder checks duplicates itself, once per list).
    const FieldArray& fields() const { return m_fields; }
    FieldArray& mutableFields() { return m_fields; }
    void setAttached(bool attached) { m_attached = attached; }
    // The slab of a decoded tree: a chain of chunks owned by its top message,
    // each starting with the address of the one made before it.
    static constexpr size_t kSlabChunkHeader = 16;
    static void* newSlabChunk(FieldGroup& top, size_t bytes);

protected:
    void destroy() override;

private:
    struct SlabFree {
        void operator()(void* chunk) const;
    };

    const Field* find(int tag) const;
    Field* find(int tag);
    void put(Field&& field);

    // Declared before the fields, so the fields, which may live in it, go first.
    std::unique_ptr<void, SlabFree> m_slab;  // the newest chunk
    FieldArray m_fields;
    bool m_attached = false;  // an entry of a list: its list ends it
};

class FieldGroupList final : public IFieldGroupList {
public:
    FieldGroupList() = default;
    FieldGroupList(const FieldGroupList& other);
    ~FieldGroupList() override;

    static std::unique_ptr<FieldGroupList> copyOf(const IFieldGroupList& source);

    IFieldGroup* first() override;
    IFieldGroup* next() override;
    int size() const override { return static_cast<int>(count()); }
    IFieldGroup* get(int index) const override;
    IFieldGroup* addGroup(const IFieldGroup* group) override;
    IFieldGroup* appendGroup() override;

    size_t count() const { return m_blockSize + m_more.size(); }
    FieldGroup& entry(size_t i) const { return i < m_blockSize ? m_block[i] : *m_more[i - m_blockSize]; }
    // For the decoder: count empty entries in slab room (the list's first entries).
    void adoptBlock(void* storage, uint32_t count);
    void setAttached(bool attached) { m_attached = attached; }
    // The list lives in a slab: its field destroys it in place.
    void setInSlab() { m_inSlab = true; }
    bool inSlab() const { return m_inSlab; }

protected:
    void destroy() override;

private:
    FieldGroup* append(std::unique_ptr<FieldGroup> entry);

    // Entries never move once made, so pointers to them stay valid: the first
    // ones in one block, later ones one by one.
    FieldGroup* m_block = nullptr;
    uint32_t m_blockSize = 0;
    bool m_blockOwned = false;
    bool m_attached = false;  // the list of a field: its field ends it
    bool m_inSlab = false;
    std::vector<std::unique_ptr<FieldGroup>> m_more;
    size_t m_cursor = 0;
};

// The process-wide factory behind getMessageFactory().
class MessageFactory final : public IMessageFactory {
public:
    IMessage* createMessage(const char* msgType) override;
    IFieldGroup* createFieldGroup() override;
    IFieldGroupList* createFieldGroupList() override;
};

// Base-10 reading of a text as the public getters do it (strtoll rules: leading
// blanks, a sign, digits up to the first other byte, saturating; else 0).
int64_t textToInt(const char* data, size_t length);
// Decimal reading of a NUL-terminated text (strtod rules in the C locale,
// whatever the process locale); 0.0 when it does not start with a number.
double textToDouble(const char* text);

} // namespace merrow
