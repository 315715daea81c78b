#include "core/messages/fix_object_factory.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/messages/qora_request_reject.h"
#include "core/messages/qora_response.h"
#include "core/messages/response_batch.h"
#include "core/messages/rtmp_qora_object_response.h"
#include "merrow/fix_defs.h"
#include "merrow/message.h"
#include "vorntool/bound_exception.h"

namespace zel {
namespace {

using merrow::IFixDefs;

struct MessageDeleter {
    void operator()(merrow::IMessage* m) const { merrow::freeMessage(m); }
};
using MessagePtr = std::unique_ptr<merrow::IMessage, MessageDeleter>;

MessagePtr newMessage(const char* type)
{
    return MessagePtr(merrow::getMessageFactory()->createMessage(type));
}

using Params = std::vector<std::pair<const char*, const char*>>;

// Appends (name, value) entries to the group's FLDTAG_QORANOPARAM list; a null name
// or value leaves that field out.
void addParams(merrow::IFieldGroup* group, const Params& params)
{
    merrow::IFieldGroupList* list = group->getGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    if (list == nullptr)
        list = group->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    for (const auto& p : params) {
        merrow::IFieldGroup* entry = list->appendGroup();
        if (p.first)
            entry->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, p.first);
        if (p.second)
            entry->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, p.second);
    }
}

// The factory hands objects on at a count of 0; the test takes the first reference.
RefPtr<AFixObject> decode(merrow::IMessage* m)
{
    return RefPtr<AFixObject>(CFixObjectFactory::toObject(m));
}

template <class T>
T* as(const RefPtr<AFixObject>& o)
{
    return dynamic_cast<T*>(o.get());
}

MessagePtr dasResponse(const char* reqID, const Params& params)
{
    MessagePtr m = newMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    m->setValue(IFixDefs::FLDTAG_TESTREQID, reqID);
    addParams(m.get(), params);
    return m;
}

TEST(DasResponse, ReadsPayloadAndParameters)
{
    MessagePtr m = dasResponse("R1", {{"SYMBOL", "EUR/USD"}, {nullptr, "lost"}, {"DAS", "0;ok\nline"}, {"LAST", "7"}});
    m->setValue(IFixDefs::FLDTAG_REFMSGTYPE, IFixDefs::MSGTYPE_QORAREQUEST);
    RefPtr<AFixObject> o = decode(m.get());
    auto* r = as<CZDASQORAResponse>(o);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->getKind(), AFixObject::KIND_QORARESPONSE);
    EXPECT_EQ(r->getMessageProtocol(), 0);
    EXPECT_STREQ(r->getReqID(), "R1");
    EXPECT_STREQ(r->getMessage(), "0;ok\nline");
    EXPECT_STREQ(r->getRefMsgType(), IFixDefs::MSGTYPE_QORAREQUEST);
    EXPECT_STREQ(r->getParameter("SYMBOL"), "EUR/USD");
    EXPECT_STREQ(r->getParameter("LAST"), "7");
    EXPECT_STREQ(r->getParameter("DAS"), "");  // the payload is not a parameter
    EXPECT_STREQ(r->getParameter("absent"), "");
    EXPECT_EQ(r->getParameterCount(), 2);  // the entry without a name is skipped
    EXPECT_TRUE(r->isFilled());
    EXPECT_EQ(r->toMessage(nullptr), nullptr);
    r->reset();
    EXPECT_STREQ(r->getMessage(), "");
}

TEST(DasResponse, PayloadKeepsEveryByte)
{
    MessagePtr m = dasResponse("R1", {});
    merrow::IFieldGroup* entry = m->getGroupList(IFixDefs::FLDTAG_QORANOPARAM)->appendGroup();
    entry->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "DAS");
    const std::string payload("a\0b", 3);
    entry->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, payload.data(), payload.size());
    RefPtr<AFixObject> o = decode(m.get());
    ASSERT_NE(as<CZDASQORAResponse>(o), nullptr);
    EXPECT_EQ(std::string(as<CZDASQORAResponse>(o)->getMessage(), as<CZDASQORAResponse>(o)->getMessageLength()),
              payload);
}

TEST(DasResponse, WithoutDasEntryDecodesToNothing)
{
    MessagePtr noDas = dasResponse("R1", {{"SYMBOL", "EUR/USD"}, {"das", "lower case is another name"}});
    EXPECT_EQ(CFixObjectFactory::toObject(noDas.get()), nullptr);
    MessagePtr noGroup = newMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    noGroup->setValue(IFixDefs::FLDTAG_TESTREQID, "R1");
    EXPECT_EQ(CFixObjectFactory::toObject(noGroup.get()), nullptr);
    MessagePtr emptyGroup = newMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    emptyGroup->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    EXPECT_EQ(CFixObjectFactory::toObject(emptyGroup.get()), nullptr);
    // The group under another wire kind is absent too.
    MessagePtr textGroup = newMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    textGroup->setValue(IFixDefs::FLDTAG_QORANOPARAM, "DAS");
    EXPECT_EQ(CFixObjectFactory::toObject(textGroup.get()), nullptr);
}

TEST(DasResponse, FillRefusesAnotherType)
{
    MessagePtr m = dasResponse("R1", {{"DAS", "x"}});
    m->setMsgType(IFixDefs::MSGTYPE_QORARTMPRESPONSE);
    RefPtr<CZDASQORAResponse> r(new CZDASQORAResponse());
    EXPECT_FALSE(r->fill(m.get()));
    EXPECT_FALSE(r->fill(nullptr));
}

TEST(RtmpResponse, ReadsTheText)
{
    MessagePtr m = newMessage(IFixDefs::MSGTYPE_QORARTMPRESPONSE);
    m->setValue(IFixDefs::FLDTAG_TESTREQID, "R2");
    m->setValue(IFixDefs::FLDTAG_TEXT, "<SysConfigMsg/>");
    RefPtr<AFixObject> o = decode(m.get());
    auto* r = as<CRTMPQORAResponse>(o);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->getKind(), AFixObject::KIND_QORARESPONSE);
    EXPECT_EQ(r->getMessageProtocol(), 1);
    EXPECT_STREQ(r->getReqID(), "R2");
    EXPECT_STREQ(r->getMessage(), "<SysConfigMsg/>");

    m->removeField(IFixDefs::FLDTAG_TEXT);
    EXPECT_EQ(CFixObjectFactory::toObject(m.get()), nullptr);
}

MessagePtr reject(const char* text, const char* details)
{
    MessagePtr m = newMessage(IFixDefs::MSGTYPE_QORAREQUESTREJECT);
    m->setValue(IFixDefs::FLDTAG_TESTREQID, "R3");
    if (text)
        m->setValue(IFixDefs::FLDTAG_TEXT, text);
    if (details)
        m->setValue(IFixDefs::FLDTAG_QORAERRORDETAILS, details);
    m->setIntValue(IFixDefs::FLDTAG_QORAREQUESTREJECT, 5);
    return m;
}

TEST(RequestReject, ReadsTextCodeAndParameters)
{
    MessagePtr m = reject("Not enough margin.", "ERR 17");
    addParams(m.get(), {{"Rate", "1.2345"}, {"Count", "42"}, {"Amount", "x"}, {"Rate", "9.9"}, {nullptr, "y"}});
    RefPtr<AFixObject> o = decode(m.get());
    auto* r = as<CQORARequestReject>(o);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->getKind(), AFixObject::KIND_QORAREQUESTREJECT);
    EXPECT_STREQ(r->getReqID(), "R3");
    EXPECT_STREQ(r->getText(), "Not enough margin.");
    EXPECT_STREQ(r->getMessage(), "ERR 17");
    EXPECT_EQ(r->getRequestReject(), 5);
    EXPECT_EQ(r->getErrorCode(), -1);
    // Name order; the repeated name keeps its first value.
    ASSERT_EQ(r->getParamCount(), 3);
    EXPECT_STREQ(r->getParamName(0), "Amount");
    EXPECT_STREQ(r->getParamName(1), "Count");
    EXPECT_STREQ(r->getParamName(2), "Rate");
    EXPECT_EQ(r->getParamName(3), nullptr);
    EXPECT_EQ(r->getParamName(-1), nullptr);
    EXPECT_STREQ(r->getValueString("Rate"), "1.2345");
    EXPECT_DOUBLE_EQ(r->getValueDouble("Rate"), 1.2345);
    EXPECT_EQ(r->getValueInt("Count"), 42);
    EXPECT_EQ(r->getValueInt("Amount"), 0);
    EXPECT_EQ(r->getValueString("absent"), nullptr);
    EXPECT_EQ(r->getValueInt("absent"), 0);
    EXPECT_EQ(r->getValueDouble("absent"), 0.0);
}

TEST(RequestReject, WithoutTextShowsTheDetails)
{
    MessagePtr m = reject(nullptr, "The order was not found.");
    RefPtr<AFixObject> o = decode(m.get());
    ASSERT_NE(as<CQORARequestReject>(o), nullptr);
    EXPECT_STREQ(as<CQORARequestReject>(o)->getText(), "The order was not found.");

    // With neither, every text is empty and the reject still decodes.
    MessagePtr bare = newMessage(IFixDefs::MSGTYPE_QORAREQUESTREJECT);
    RefPtr<AFixObject> b = decode(bare.get());
    auto* r = as<CQORARequestReject>(b);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->getReqID(), "");
    EXPECT_STREQ(r->getText(), "");
    EXPECT_EQ(r->getParamCount(), 0);
}

void addMember(merrow::IFieldGroupList* list, const MessagePtr& member)
{
    list->addGroup(member.get());
}

TEST(ResponseBatch, KeepsTheMembersThatDecodeAndWalksThem)
{
    MessagePtr batch = newMessage(IFixDefs::MSGTYPE_QORARESPONSEBATCH);
    merrow::IFieldGroupList* list = batch->createGroupList(IFixDefs::FLDTAG_EMBMSG);
    addMember(list, dasResponse("A", {{"DAS", "first"}}));
    addMember(list, newMessage("U4242"));  // a type outside the table
    addMember(list, reject("refused", nullptr));
    addMember(list, dasResponse("B", {{"NO", "payload"}}));  // of the wrong form

    RefPtr<AFixObject> o = decode(batch.get());
    auto* b = as<CResponseBatch>(o);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->getKind(), AFixObject::KIND_RESPONSEBATCH);
    ASSERT_EQ(b->getResponseCount(), 2);

    b->toFirst();
    EXPECT_TRUE(b->hasNext());
    RefPtr<AFixObject> first = adoptRef(b->next());
    RefPtr<AFixObject> second = adoptRef(b->next());
    EXPECT_FALSE(b->hasNext());
    EXPECT_EQ(b->next(), nullptr);
    ASSERT_NE(as<CZDASQORAResponse>(first), nullptr);
    EXPECT_STREQ(as<CZDASQORAResponse>(first)->getMessage(), "first");
    ASSERT_NE(as<CQORARequestReject>(second), nullptr);
    EXPECT_STREQ(as<CQORARequestReject>(second)->getText(), "refused");

    // Walking again from the start hands out the same objects.
    b->toFirst();
    RefPtr<AFixObject> again = adoptRef(b->next());
    EXPECT_EQ(again.get(), first.get());
    RefPtr<AFixObject> byIndex = adoptRef(b->getResponse(1));
    EXPECT_EQ(byIndex.get(), second.get());
    EXPECT_THROW(b->getResponse(2), vorntool::BoundException);
    EXPECT_THROW(b->getResponse(-1), vorntool::BoundException);
}

TEST(ResponseBatch, MembersOutliveTheBatchOnlyThroughTheirReferences)
{
    MessagePtr batch = newMessage(IFixDefs::MSGTYPE_QORARESPONSEBATCH);
    addMember(batch->createGroupList(IFixDefs::FLDTAG_EMBMSG), dasResponse("A", {{"DAS", "kept"}}));
    RefPtr<AFixObject> member;
    {
        RefPtr<AFixObject> o = decode(batch.get());
        ASSERT_NE(as<CResponseBatch>(o), nullptr);
        member = adoptRef(as<CResponseBatch>(o)->getResponse(0));
        // The batch's reference and ours.
        EXPECT_EQ(member->addRef(), 3);
        EXPECT_EQ(member->release(), 2);
    }
    EXPECT_EQ(member->addRef(), 2);  // the batch let go of its own
    EXPECT_EQ(member->release(), 1);
    EXPECT_STREQ(as<CZDASQORAResponse>(member)->getMessage(), "kept");
}

TEST(ResponseBatch, NestedBatchAndEmptyOrMissingList)
{
    MessagePtr inner = newMessage(IFixDefs::MSGTYPE_QORARESPONSEBATCH);
    addMember(inner->createGroupList(IFixDefs::FLDTAG_EMBMSG), dasResponse("A", {{"DAS", "deep"}}));
    MessagePtr outer = newMessage(IFixDefs::MSGTYPE_QORARESPONSEBATCH);
    addMember(outer->createGroupList(IFixDefs::FLDTAG_EMBMSG), inner);
    RefPtr<AFixObject> o = decode(outer.get());
    ASSERT_NE(as<CResponseBatch>(o), nullptr);
    RefPtr<AFixObject> nested = adoptRef(as<CResponseBatch>(o)->getResponse(0));
    ASSERT_NE(as<CResponseBatch>(nested), nullptr);
    EXPECT_EQ(as<CResponseBatch>(nested)->getResponseCount(), 1);

    MessagePtr empty = newMessage(IFixDefs::MSGTYPE_QORARESPONSEBATCH);
    empty->createGroupList(IFixDefs::FLDTAG_EMBMSG);
    RefPtr<AFixObject> e = decode(empty.get());
    ASSERT_NE(as<CResponseBatch>(e), nullptr);
    EXPECT_EQ(as<CResponseBatch>(e)->getResponseCount(), 0);
    EXPECT_FALSE(as<CResponseBatch>(e)->hasNext());
    EXPECT_EQ(as<CResponseBatch>(e)->next(), nullptr);

    MessagePtr missing = newMessage(IFixDefs::MSGTYPE_QORARESPONSEBATCH);
    EXPECT_EQ(CFixObjectFactory::toObject(missing.get()), nullptr);
}

TEST(ObjectResponse, BuildsTheTreeInEntryOrder)
{
    MessagePtr m = newMessage(IFixDefs::MSGTYPE_QORARTMPOBJECTRESPONSE);
    m->setValue(IFixDefs::FLDTAG_TESTREQID, "R4");
    merrow::IFieldGroupList* top = m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    merrow::IFieldGroup* e = top->appendGroup();
    e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Instrument");
    e->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, "EUR/USD");
    e = top->appendGroup();
    e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Bid");
    e->setDoubleValue(IFixDefs::FLDTAG_QORAPARAMVALUE, 1.2345);
    e = top->appendGroup();  // a value without a name
    e->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, "orphan");
    e = top->appendGroup();  // a name without a value
    e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Empty");
    e = top->appendGroup();
    e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Bar");
    merrow::IFieldGroupList* level1 = e->createGroupList(IFixDefs::FLDTAG_QORAPARAMVALUE);
    merrow::IFieldGroup* e1 = level1->appendGroup();
    e1->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Open");
    e1->setDoubleValue(IFixDefs::FLDTAG_QORAPARAMVALUE, 1.5);
    e1 = level1->appendGroup();
    e1->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Ask");
    merrow::IFieldGroupList* level2 = e1->createGroupList(IFixDefs::FLDTAG_QORAPARAMVALUE);
    merrow::IFieldGroup* e2 = level2->appendGroup();
    e2->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Close");
    e2->setDoubleValue(IFixDefs::FLDTAG_QORAPARAMVALUE, 1.25);
    e2 = level2->appendGroup();
    e2->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Volume");
    e2->setIntValue(IFixDefs::FLDTAG_QORAPARAMVALUE, 17);  // integers travel as text
    e1 = level1->appendGroup();
    e1->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, "Open");
    e1->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, "second of the name");

    RefPtr<AFixObject> o = decode(m.get());
    auto* r = as<CRTMPQORAObjectResponse>(o);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->getKind(), AFixObject::KIND_RTMPQORAOBJECTRESPONSE);
    EXPECT_STREQ(r->getReqID(), "R4");
    const CResponseObject* root = r->getObject();
    ASSERT_EQ(root->getFieldCount(), 3);
    EXPECT_STREQ(root->getField(0)->getName(), "Instrument");
    EXPECT_EQ(root->getField(0)->getType(), CResponseObjectField::TypeString);
    EXPECT_STREQ(root->getField(0)->getValueString(), "EUR/USD");
    EXPECT_EQ(root->getField(0)->getValueDouble(), 0.0);
    EXPECT_EQ(root->getField(0)->getValueObject(), nullptr);
    EXPECT_EQ(root->getField(1)->getType(), CResponseObjectField::TypeDouble);
    EXPECT_EQ(root->getField(1)->getValueDouble(), 1.2345);
    EXPECT_EQ(root->getField(1)->getValueString(), nullptr);
    EXPECT_EQ(root->getField(3), nullptr);
    EXPECT_EQ(root->getField(-1), nullptr);
    EXPECT_EQ(root->getFieldByName("Empty"), nullptr);

    const CResponseObjectField* bar = root->getFieldByName("Bar");
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->getType(), CResponseObjectField::TypeObject);
    const CResponseObject* barObject = bar->getValueObject();
    ASSERT_EQ(barObject->getFieldCount(), 3);
    EXPECT_EQ(barObject->getFieldByName("Open")->getValueDouble(), 1.5);  // the first of the name
    EXPECT_STREQ(barObject->getField(2)->getValueString(), "second of the name");
    const CResponseObject* ask = barObject->getFieldByName("Ask")->getValueObject();
    ASSERT_NE(ask, nullptr);
    ASSERT_EQ(ask->getFieldCount(), 2);
    EXPECT_STREQ(ask->getField(0)->getName(), "Close");
    EXPECT_EQ(ask->getField(0)->getValueDouble(), 1.25);
    EXPECT_STREQ(ask->getField(1)->getName(), "Volume");
    EXPECT_STREQ(ask->getField(1)->getValueString(), "17");
    EXPECT_EQ(ask->getFieldByName("close"), nullptr);  // names match exactly

    MessagePtr missing = newMessage(IFixDefs::MSGTYPE_QORARTMPOBJECTRESPONSE);
    EXPECT_EQ(CFixObjectFactory::toObject(missing.get()), nullptr);
}

TEST(FixObjectFactory, UnknownOrUntypedMessagesDecodeToNothing)
{
    EXPECT_EQ(CFixObjectFactory::toObject(nullptr), nullptr);
    const char* types[] = {"", "U9999", "u9002", "U9002 ", IFixDefs::MSGTYPE_QORAREQUEST,
                           IFixDefs::MSGTYPE_QORAREQUESTBATCH};
    for (const char* type : types) {
        MessagePtr m = newMessage(type);
        addParams(m.get(), {{"DAS", "x"}});
        m->setValue(IFixDefs::FLDTAG_TEXT, "x");
        EXPECT_EQ(CFixObjectFactory::toObject(m.get()), nullptr) << type;
    }
}

TEST(FixObjectFactory, RejectTypes)
{
    struct Case {
        const char* type;
        bool reject;
    } cases[] = {
        {IFixDefs::MSGTYPE_QORAREQUESTREJECT, true},
        {IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT, true},
        {IFixDefs::MSGTYPE_QORARESPONSE, false},
        {"", false},
    };
    for (const Case& c : cases) {
        MessagePtr m = newMessage(c.type);
        EXPECT_EQ(CFixObjectFactory::isRejectObject(m.get()), c.reject) << c.type;
    }
    EXPECT_FALSE(CFixObjectFactory::isRejectObject(nullptr));
}

TEST(FixObjectFactory, DecodedObjectsStartAtZeroReferences)
{
    MessagePtr m = dasResponse("R1", {{"DAS", "x"}});
    AFixObject* raw = CFixObjectFactory::toObject(m.get());
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->addRef(), 1);  // the consumer's first reference
    EXPECT_EQ(raw->release(), 0);  // and the object is gone
}

} // namespace
} // namespace zel
