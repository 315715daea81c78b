#pragma once
// An RTMP answer that carries a tree of named values rather than a text: each
// parameter entry is a number, a text, or a nested list of entries.

#include <memory>
#include <string>

#include "core/messages/fix_object.h"
#include "vorntool/containers.h"

namespace zel {

class CResponseObject;

// One named value; owned by its CResponseObject.
class CResponseObjectField {
public:
    enum Type : int { TypeDouble = 0, TypeString = 1, TypeObject = 2 };

    // Null names are stored as "".
    CResponseObjectField(const char* name, double value);
    CResponseObjectField(const char* name, const char* value);
    // A text of any bytes.
    CResponseObjectField(const char* name, std::string value);
    // Takes ownership of the object; a null object is stored as an empty one.
    CResponseObjectField(const char* name, CResponseObject* object);
    ~CResponseObjectField();
    CResponseObjectField(const CResponseObjectField&) = delete;
    CResponseObjectField& operator=(const CResponseObjectField&) = delete;

    // The name lives as long as the field.
    const char* getName() const { return m_name.c_str(); }
    int getType() const { return m_type; }
    // 0.0 unless the field is a number.
    double getValueDouble() const { return m_type == TypeDouble ? m_double : 0.0; }
    // Null unless the field is a text; the text lives as long as the field.
    const char* getValueString() const { return m_type == TypeString ? m_string.c_str() : nullptr; }
    // Null unless the field is an object; the object lives as long as the field.
    const CResponseObject* getValueObject() const { return m_type == TypeObject ? m_object.get() : nullptr; }

private:
    std::string m_name;
    int m_type;
    double m_double = 0.0;
    std::string m_string;
    std::unique_ptr<CResponseObject> m_object;
};

// An ordered list of fields; owns them.
class CResponseObject {
public:
    CResponseObject() = default;
    CResponseObject(const CResponseObject&) = delete;
    CResponseObject& operator=(const CResponseObject&) = delete;

    int getFieldCount() const { return m_fields.size(); }
    // Null for an index outside the list; the field lives as long as this object.
    const CResponseObjectField* getField(int index) const;
    // The first field whose name matches exactly, or null.
    const CResponseObjectField* getFieldByName(const char* name) const;
    // Takes ownership of the field; null is ignored.
    void addField(CResponseObjectField* field);

    // Appends a field for each entry of the list that has a name and a value: a
    // group list nests, a double is a number, a text stays a text; other entries
    // are skipped.
    void build(merrow::IFieldGroupList* entries);

private:
    vorntool::TPtrVector<CResponseObjectField*> m_fields;
};

class CRTMPQORAObjectResponse : public AFixObject {
public:
    CRTMPQORAObjectResponse();

    int getKind() const override { return KIND_RTMPQORAOBJECTRESPONSE; }
    merrow::IMessage* toMessage(merrow::IUserSession* session) override { return nullptr; }
    // False unless the message is a MSGTYPE_QORARTMPOBJECTRESPONSE with a
    // FLDTAG_QORANOPARAM list.
    bool fill(merrow::IMessage* message) override;

    const char* getReqID() const { return m_reqID.c_str(); }
    // The root of the tree; lives as long as this object and until the next fill.
    const CResponseObject* getObject() const { return m_object.get(); }

    // Empties the tree.
    void reset();

protected:
    ~CRTMPQORAObjectResponse() override;

private:
    std::string m_reqID;
    std::unique_ptr<CResponseObject> m_object;
};

} // namespace zel
