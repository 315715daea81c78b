#include "core/requests/request.h"

#include <gtest/gtest.h>

#include <atomic>

#include "core/base/ref_ptr.h"
#include "core/requests/zel_const.h"

namespace zel {
namespace {

// Counts destructions, so that tests see who releases what.
class CountedCommand : public CommandRequest {
public:
    CountedCommand(const char* id, std::atomic<int>* destroyed) : CommandRequest(id, 34), m_destroyed(destroyed) {}

protected:
    ~CountedCommand() override { m_destroyed->fetch_add(1); }

private:
    std::atomic<int>* m_destroyed;
};

class CountedObject : public AFixObject {
public:
    explicit CountedObject(std::atomic<int>* destroyed) : m_destroyed(destroyed) {}
    int getKind() const override { return KIND_MARKETDATAREQUEST; }
    merrow::IMessage* toMessage(merrow::IUserSession*) override { return nullptr; }
    bool fill(merrow::IMessage*) override { return false; }

protected:
    ~CountedObject() override { m_destroyed->fetch_add(1); }

private:
    std::atomic<int>* m_destroyed;
};

TEST(CommandRequest, ParametersKeepFirstInsertionOrder)
{
    RefPtr<CommandRequest> r = adoptRef(new CommandRequest("Q1", 34));
    r->addParam("Stage", "O");
    r->addParam("OfferID", "1");
    r->addParam("Stage", "C");  // replaced in place
    r->addParam("stage", "x");  // another name: appended
    r->addParam(nullptr, "ignored");
    r->addParam("QTXT", nullptr);
    ASSERT_EQ(r->getParamCount(), 4);
    EXPECT_STREQ(r->getParamName(0), "Stage");
    EXPECT_STREQ(r->getParamValue(0), "C");
    EXPECT_STREQ(r->getParamName(1), "OfferID");
    EXPECT_STREQ(r->getParamName(2), "stage");
    EXPECT_STREQ(r->getParamValue(3), "");
    EXPECT_EQ(r->getParamName(4), nullptr);
    EXPECT_EQ(r->getParamValue(-1), nullptr);

    EXPECT_TRUE(r->isParamExists("offerid"));
    EXPECT_FALSE(r->isParamExists("CONTINGENCY_TYPE"));
    EXPECT_FALSE(r->isParamExists(nullptr));
    EXPECT_EQ(r->getCommandID(), 34);
    EXPECT_STREQ(r->getRequestID(), "Q1");
}

TEST(CommandRequest, ChildrenAreOwnedAndHandedOutWithAReference)
{
    std::atomic<int> destroyed{0};
    {
        RefPtr<CommandRequest> batch = adoptRef(new CommandRequest("B", 34));
        EXPECT_TRUE(batch->addChild(new CountedCommand("C1", &destroyed)));  // the new reference goes to the batch
        EXPECT_TRUE(batch->addChild(new CountedCommand("C2", &destroyed)));
        ASSERT_EQ(batch->getChildrenCount(), 2);

        RefPtr<IZelRequest> second = adoptRef(batch->getChildRequest(1));
        ASSERT_NE(second.get(), nullptr);
        EXPECT_STREQ(second->getRequestID(), "C2");
        EXPECT_EQ(second->addRef(), 3);  // the batch's, ours and the probe's
        second->release();
        EXPECT_EQ(batch->getChildRequest(2), nullptr);
        EXPECT_EQ(batch->getChildRequest(-1), nullptr);
        EXPECT_STREQ(batch->getChild(0)->getRequestID(), "C1");

        batch.reset();
        EXPECT_EQ(destroyed.load(), 1);  // C1 went with the batch; C2 is still ours
    }
    EXPECT_EQ(destroyed.load(), 2);
}

TEST(CommandRequest, AddChildRefusesCyclesAndReleasesWhatItRefuses)
{
    RefPtr<CommandRequest> top = adoptRef(new CommandRequest("T", 34));
    RefPtr<CommandRequest> middle = adoptRef(new CommandRequest("M", 34));
    top->addChild(middle.share());
    EXPECT_FALSE(middle->addChild(top.share()));  // top holds middle
    EXPECT_FALSE(top->addChild(top.share()));
    EXPECT_FALSE(top->addChild(nullptr));
    EXPECT_EQ(middle->getChildrenCount(), 0);
    EXPECT_EQ(top->getChildrenCount(), 1);
    // The refused references were dropped: only ours is left on top.
    EXPECT_EQ(top->addRef(), 2);
    top->release();
}

TEST(Requests, SingleRequestsHaveNoChildren)
{
    RefPtr<BaseRequest> base = adoptRef(new BaseRequest(nullptr));
    EXPECT_STREQ(base->getRequestID(), "");
    EXPECT_EQ(base->getChildrenCount(), 0);
    EXPECT_EQ(base->getChildRequest(0), nullptr);

    RefPtr<RTMPCommandRequest> rtmp = adoptRef(new RTMPCommandRequest("R", 139, "SubscrList"));
    EXPECT_STREQ(rtmp->getName(), "SubscrList");
    EXPECT_EQ(rtmp->getCommandID(), 139);
    RefPtr<RTMPCommandRequest> unnamed = adoptRef(new RTMPCommandRequest(nullptr, 3, nullptr));
    EXPECT_STREQ(unnamed->getName(), "");
    EXPECT_STREQ(unnamed->getRequestID(), "");

    RefPtr<RTMPInitRequest> init = adoptRef(new RTMPInitRequest());
    EXPECT_STREQ(init->getRequestID(), "");
    EXPECT_STREQ(init->getName(), "SessionInitMsg");
    EXPECT_STREQ(init->getName(), ZelConst::RTMP_INIT_REQUEST_NAME);
}

TEST(FixRequest, HoldsItsMessageObjectByReference)
{
    std::atomic<int> destroyed{0};
    RefPtr<AFixObject> object(new CountedObject(&destroyed));  // a message object starts at 0
    RefPtr<FixRequest> request = adoptRef(new FixRequest("F1", object.get()));
    object.reset();
    EXPECT_EQ(destroyed.load(), 0);  // the request keeps it alive

    RefPtr<AFixObject> got = adoptRef(request->getFixObject());
    ASSERT_NE(got.get(), nullptr);
    EXPECT_EQ(got->getKind(), AFixObject::KIND_MARKETDATAREQUEST);
    got.reset();
    request.reset();
    EXPECT_EQ(destroyed.load(), 1);

    RefPtr<FixRequest> empty = adoptRef(new FixRequest("F2", nullptr));
    EXPECT_EQ(empty->getFixObject(), nullptr);
}

} // namespace
} // namespace zel
