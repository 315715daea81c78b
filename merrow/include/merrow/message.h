#pragma once
// Messages of the transport: tagged fields, repeating groups and whole messages.
//
// A field group is an ordered list of fields; each field has a tag (> 0) and one
// value of a wire kind: integer, text (any bytes), double, or a group list (an
// ordered list of field groups). A message is a field group with a message type,
// kept as its FLDTAG_MSGTYPE field. An entry of a group list that carries its own
// FLDTAG_MSGTYPE is a whole embedded message (a batch member), reached with
// asMessage().
//
// Reading never depends on the kind the sender chose: an integer reads as its
// decimal text, a text as its base-10 integer (0 when it does not start with a
// number) or its decimal double, and an integer field reports the text wire type.
//
// Ownership: what a factory creates belongs to the caller, who frees it with
// freeMessage / freeFieldGroup / freeFieldGroupList (ConnectionManagerEx::freeObject
// forwards to these). Sending, addGroup and setGroupList copy what they are given,
// so the caller frees its own object afterwards in every case. Groups, lists and
// fields reached through a getter belong to their parent: never free them (the
// free functions ignore them). Pointers and texts returned by getters stay valid
// until their group is changed or freed.
//
// Threads: nothing here is locked. Use a message from one thread at a time; even
// getters may fill a text cache, so concurrent readers need outside locking.
//
// Errors: bad arguments (tags <= 0, null pointers, indexes out of range) are
// ignored or answered with null, 0 or 0.0; only allocation failure throws.

#include <cstddef>
#include <cstdint>

#include "merrow/merrow_export.h"

namespace merrow {

class IField;
class IFieldGroup;
class IFieldGroupList;
class IMessage;

// Wire types reported by IField::getType.
enum WireType : int { WIRETYPE_TEXT = 2, WIRETYPE_GROUPLIST = 3, WIRETYPE_DOUBLE = 4 };

// Frees a group or message the caller owns (null, or a group that belongs to a
// list, is ignored).
MERROW_API void freeFieldGroup(IFieldGroup* group);
// Frees a message the caller owns.
MERROW_API void freeMessage(IMessage* message);
// Frees a group list the caller owns (null, or a list attached to a group, is ignored).
MERROW_API void freeFieldGroupList(IFieldGroupList* list);

// One field of a group; read-only. Owned by its group.
class MERROW_API IField {
public:
    virtual int getTag() const = 0;
    // WIRETYPE_TEXT for texts and integers, WIRETYPE_GROUPLIST, WIRETYPE_DOUBLE.
    virtual int getType() const = 0;
    // The value as NUL-terminated text (an integer or a double as its decimal
    // text); null for a group list. A text may hold NUL bytes: see getLength.
    virtual const char* getValue() const = 0;
    // Bytes of getValue without the terminating NUL; 0 for a group list.
    virtual size_t getLength() const = 0;
    // Integer value; a double is truncated toward zero and saturates, NaN gives 0.
    virtual int64_t getIntValue() const = 0;
    virtual double getDoubleValue() const = 0;
    // The group list of a WIRETYPE_GROUPLIST field, owned by the field; else null.
    virtual IFieldGroupList* getGroupList() const = 0;

    IField(const IField&) = delete;
    IField& operator=(const IField&) = delete;

protected:
    IField() = default;
    virtual ~IField() = default;
};

// An ordered list of fields. At most one field per tag: every setter replaces the
// field of that tag in place (keeping its position) or appends a new one.
class MERROW_API IFieldGroup {
public:
    // Text of the field, or null when absent or a group list.
    virtual const char* getValue(int tag) const = 0;
    // Integer of the field, 0 when absent.
    virtual int64_t getIntValue(int tag) const = 0;
    // Double of the field, 0.0 when absent.
    virtual double getDoubleValue(int tag) const = 0;
    virtual bool hasField(int tag) const = 0;
    // The field, or null; owned by this group.
    virtual IField* getField(int tag) const = 0;
    // Fields in order, for walking a group whose tags are not known in advance.
    virtual int getFieldCount() const = 0;
    virtual IField* getFieldAt(int index) const = 0;
    // The group list of the field, or null when absent or not a group list.
    virtual IFieldGroupList* getGroupList(int tag) const = 0;

    // Sets a text field; null text removes the field.
    virtual void setValue(int tag, const char* text) = 0;
    // Sets a text field of any bytes; null data with length 0 sets the empty text.
    virtual void setValue(int tag, const char* data, size_t length) = 0;
    virtual void setIntValue(int tag, int64_t value) = 0;
    virtual void setDoubleValue(int tag, double value) = 0;
    // Attaches a copy of the list (the caller keeps and frees its own); null removes.
    virtual void setGroupList(int tag, const IFieldGroupList* list) = 0;
    // Attaches a new empty list under the tag and returns it, owned by this group.
    virtual IFieldGroupList* createGroupList(int tag) = 0;
    // True when a field was removed.
    virtual bool removeField(int tag) = 0;

    // This group seen as a message: its type is its FLDTAG_MSGTYPE field ("" when
    // it has none). Null only for groups of another implementation.
    virtual IMessage* asMessage() = 0;

    IFieldGroup(const IFieldGroup&) = delete;
    IFieldGroup& operator=(const IFieldGroup&) = delete;

protected:
    IFieldGroup() = default;
    virtual ~IFieldGroup() = default;
    // Ends the life of a group its caller owns; does nothing for an entry of a list.
    virtual void destroy() = 0;
    friend void freeFieldGroup(IFieldGroup* group);
};

// An ordered list of field groups (a FIX repeating group). first/next walk it with
// one cursor kept in the list, so one walk at a time; get(index) needs no cursor.
class MERROW_API IFieldGroupList {
public:
    // Moves the cursor to the first entry and returns it, or null when empty.
    virtual IFieldGroup* first() = 0;
    // Advances the cursor and returns that entry, or null past the end.
    virtual IFieldGroup* next() = 0;
    virtual int size() const = 0;
    // The entry at the index, or null out of range; owned by the list.
    virtual IFieldGroup* get(int index) const = 0;
    // Appends a copy of the group (the caller keeps and frees its own) and returns
    // the copy, owned by the list; null group: nothing appended, null returned.
    virtual IFieldGroup* addGroup(const IFieldGroup* group) = 0;
    // Appends a new empty entry and returns it, owned by the list.
    virtual IFieldGroup* appendGroup() = 0;

    IFieldGroupList(const IFieldGroupList&) = delete;
    IFieldGroupList& operator=(const IFieldGroupList&) = delete;

protected:
    IFieldGroupList() = default;
    virtual ~IFieldGroupList() = default;
    // Ends the life of a list its caller owns; does nothing for an attached list.
    virtual void destroy() = 0;
    friend void freeFieldGroupList(IFieldGroupList* list);
};

// A message: a field group with a type. getValue(FLDTAG_MSGTYPE) returns the type.
class MERROW_API IMessage : public IFieldGroup {
public:
    // The message type, never null ("" when none was set).
    virtual const char* getMsgType() const = 0;
    // Sets the FLDTAG_MSGTYPE field; null sets "".
    virtual void setMsgType(const char* msgType) = 0;

protected:
    IMessage() = default;
    ~IMessage() override = default;
};

// Creates outgoing messages, groups and lists. Every result belongs to the caller
// (see the ownership rule above). Stateless: any thread may call it at any time.
class MERROW_API IMessageFactory {
public:
    // A new message of the type (null: ""), holding only its FLDTAG_MSGTYPE field.
    virtual IMessage* createMessage(const char* msgType) = 0;
    virtual IFieldGroup* createFieldGroup() = 0;
    virtual IFieldGroupList* createFieldGroupList() = 0;

    IMessageFactory(const IMessageFactory&) = delete;
    IMessageFactory& operator=(const IMessageFactory&) = delete;

protected:
    IMessageFactory() = default;
    virtual ~IMessageFactory() = default;
};

// The process-wide factory; it lives as long as the library and is never freed.
MERROW_API IMessageFactory* getMessageFactory();

} // namespace merrow
