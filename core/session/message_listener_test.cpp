#include "core/session/message_listener.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/requests/request.h"
#include "core/session/server_communicator.h"
#include "core/session/session_test_support.h"
#include "core/tables/tables_manager.h"

namespace zel {
namespace {

using namespace zel::testing;
using Lines = std::vector<std::string>;

class Dispatch : public ::testing::Test {
protected:
    RefPtr<ResponseRecorder> recorder(const std::string& name)
    {
        return adoptRef(new ResponseRecorder(name, &log, &logMutex));
    }
    void pending(const char* id, int32_t cmd = 9)
    {
        RefPtr<IZelRequest> r = adoptRef<IZelRequest>(new CommandRequest(id, cmd));
        comm.messageListener()->requests().add(r.get());
    }
    void deliver(const MessagePtr& m) { comm.messageListener()->update(nullptr, m.get()); }
    Lines take()
    {
        std::lock_guard<std::mutex> lock(logMutex);
        return std::exchange(log, Lines());
    }

    ServerCommunicator comm{ServerCommunicator::Callbacks()};
    std::mutex logMutex;
    Lines log;
};

TEST_F(Dispatch, InternalListenersFirstMostRecentAddFirstAtTheFront)
{
    auto app1 = recorder("app1"), app2 = recorder("app2"), a = recorder("internalA"), b = recorder("internalB");
    comm.subscribeResponse(app1.get());
    comm.subscribeMessageResponseAsFirst(a.get());
    comm.subscribeResponse(app2.get());
    comm.subscribeMessageResponseAsFirst(b.get());
    deliver(dasUpdate("0;01052026100000"));
    EXPECT_EQ(take(), (Lines{"internalB update", "internalA update", "app1 update", "app2 update"}));
}

TEST_F(Dispatch, AnswersReachListenersOnlyForPendingRequests)
{
    auto app = recorder("app");
    comm.subscribeResponse(app.get());
    comm.subscribeResponse(app.get());  // twice: hears everything twice
    deliver(dasAnswer("R1", "0;ok"));
    EXPECT_TRUE(take().empty()) << "no request R1 is pending";

    pending("R1");
    deliver(dasAnswer("R1", "0;ok"));
    EXPECT_EQ(take(), (Lines{"app completed R1", "app completed R1"}));
    deliver(dasAnswer("R1", "0;ok"));
    EXPECT_TRUE(take().empty()) << "an answered request is no longer pending";

    pending("R2");
    deliver(dasAnswer("R2", "3;The account is blocked."));
    EXPECT_EQ(take(), (Lines{"app failed R2: The account is blocked.", "app failed R2: The account is blocked."}));

    pending("R3");
    deliver(dasAnswer("", "0;ok"));
    EXPECT_TRUE(take().empty()) << "an answer without identifier routes nowhere";
    EXPECT_EQ(comm.messageListener()->requests().size(), 1);
}

TEST_F(Dispatch, RejectFailsThePendingRequestOncePerListener)
{
    auto a = recorder("a"), b = recorder("b");
    comm.subscribeResponse(a.get());
    comm.subscribeResponse(b.get());
    pending("R9");
    deliver(requestReject("R9", "Unknown offer."));
    EXPECT_EQ(take(), (Lines{"a failed R9: Desc=Unknown offer.", "b failed R9: Desc=Unknown offer."}));
    EXPECT_EQ(comm.messageListener()->requests().size(), 0);
    deliver(requestReject("R9", "Unknown offer."));
    EXPECT_TRUE(take().empty());
}

TEST_F(Dispatch, ListenerUnsubscribingItselfStillLetsTheOthersHearTheSameUpdate)
{
    auto first = recorder("first"), second = recorder("second");
    first->onCall = [this](ResponseRecorder& self) { comm.unsubscribeResponse(&self); };
    comm.subscribeResponse(first.get());
    comm.subscribeResponse(second.get());
    first.reset();  // the list's reference is the only one left
    deliver(dasUpdate("0;01052026100000"));
    deliver(dasUpdate("0;01052026100001"));
    EXPECT_EQ(take(), (Lines{"first update", "second update", "second update"}));
}

TEST_F(Dispatch, ThrowingListenerDoesNotStopTheOthers)
{
    auto thrower = recorder("thrower"), after = recorder("after");
    thrower->onCall = [](ResponseRecorder&) { throw std::runtime_error("application bug"); };
    comm.subscribeResponse(thrower.get());
    comm.subscribeResponse(after.get());
    deliver(dasUpdate("0;01052026100000"));
    EXPECT_EQ(take(), (Lines{"thrower update", "after update"}));
}

TEST_F(Dispatch, InstrumentLinesReachTheInstrumentsBeforeTheApplication)
{
    RefPtr<TablesManager> manager = adoptRef(new TablesManager());
    comm.setTablesManager(manager.get());
    auto app = recorder("app");
    bool seenFirst = false;
    app->onCall = [&](ResponseRecorder&) { seenFirst = static_cast<bool>(manager->instruments()->find("7")); };
    comm.subscribeResponse(app.get());
    std::string line = "INSTRMT;I;7";
    for (int f = 1; f <= 40; ++f)
        line += f == 9 ? ";EUR/USD" : ";";
    deliver(dasUpdate("0;01052026100000\nOFFER;U;1;Q\n" + line + "\n"));
    EXPECT_TRUE(seenFirst);
    EXPECT_EQ(manager->instruments()->find("7")->symbol, "EUR/USD");
}

TEST_F(Dispatch, MessagesOfOtherTypesAreIgnored)
{
    auto app = recorder("app");
    comm.subscribeResponse(app.get());
    deliver(newMessage("0"));  // a heart-beat-like type
    deliver(MessagePtr(merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_QORAREQUEST)));
    EXPECT_TRUE(take().empty());
}

TEST(InitMessageListener, AnswersByItsOwnRegistryAndUpdatesWithoutIdentifier)
{
    std::mutex m;
    Lines log;
    RefPtr<ResponseRecorder> init = adoptRef(new ResponseRecorder("init", &log, &m));
    RefPtr<InitMessageListener> listener = adoptRef(new InitMessageListener(init.get()));
    RefPtr<IZelRequest> r = adoptRef<IZelRequest>(new CommandRequest("I1", 3));
    listener->requests().add(r.get());
    listener->update(nullptr, dasAnswer("I0", "0;unknown").get());
    listener->update(nullptr, dasAnswer("I1", "0;props").get());
    listener->update(nullptr, dasUpdate("0;01052026100000").get());
    listener->requests().add(r.get());
    listener->update(nullptr, requestReject("I1", "no").get());
    EXPECT_EQ(log, (Lines{"init completed I1", "init update", "init failed I1: "}));
}

} // namespace
} // namespace zel
