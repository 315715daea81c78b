#include "core/requests/requests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "core/base/ref_ptr.h"
#include "core/requests/request.h"

namespace zel {
namespace {

class CountedCommand : public CommandRequest {
public:
    CountedCommand(const char* id, std::atomic<int>* destroyed) : CommandRequest(id, 34), m_destroyed(destroyed) {}

protected:
    ~CountedCommand() override { m_destroyed->fetch_add(1); }

private:
    std::atomic<int>* m_destroyed;
};

// Registry fixture: every request counts its destruction.
class RegistryTest : public ::testing::Test {
protected:
    RefPtr<CommandRequest> make(const char* id) { return adoptRef<CommandRequest>(new CountedCommand(id, &destroyed)); }
    // An OTO: a primary order and an OCO of two legs.
    RefPtr<CommandRequest> oto()
    {
        RefPtr<CommandRequest> top = make("OTO");
        top->addChild(make("primary").detach());
        RefPtr<CommandRequest> oco = make("OCO");
        oco->addChild(make("leg1").detach());
        oco->addChild(make("leg2").detach());
        top->addChild(oco.detach());
        return top;
    }
    // Takes the request out and says whether it was there under that identifier.
    bool take(const char* id)
    {
        RefPtr<IZelRequest> r = adoptRef(registry.findAndRemove(id));
        return r && std::string(r->getRequestID()) == id;
    }

    std::atomic<int> destroyed{0};
    Requests registry;
};

TEST_F(RegistryTest, NestedBatchesRegisterOnlyTheirLeaves)
{
    RefPtr<CommandRequest> batch = oto();
    registry.add(batch.get());
    EXPECT_EQ(registry.size(), 3);
    EXPECT_FALSE(take("OTO"));
    EXPECT_FALSE(take("OCO"));
    EXPECT_TRUE(take("leg2"));
    EXPECT_TRUE(take("primary"));
    EXPECT_TRUE(take("leg1"));
    // Each leaf is handed back once.
    EXPECT_FALSE(take("leg1"));
    EXPECT_FALSE(take("primary"));
    EXPECT_EQ(registry.size(), 0);
    // The registry kept no reference to the batches.
    EXPECT_EQ(batch->addRef(), 2);
    batch->release();
    batch.reset();
    EXPECT_EQ(destroyed.load(), 5);
}

TEST_F(RegistryTest, HandsTheRegistrysReferenceToTheCaller)
{
    RefPtr<CommandRequest> r = make("A");
    registry.add(r.get());
    EXPECT_EQ(r->addRef(), 3);  // ours, the registry's, the probe's
    r->release();
    r.reset();
    EXPECT_EQ(destroyed.load(), 0);
    IZelRequest* taken = registry.findAndRemove("A");
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->release(), 0);
    EXPECT_EQ(destroyed.load(), 1);
}

TEST_F(RegistryTest, UnknownIdentifiersChangeNothing)
{
    RefPtr<CommandRequest> r = make("A");
    registry.add(r.get());
    EXPECT_EQ(registry.findAndRemove("B"), nullptr);
    EXPECT_EQ(registry.findAndRemove("a"), nullptr);  // identifiers compare exactly
    EXPECT_EQ(registry.findAndRemove(""), nullptr);
    EXPECT_EQ(registry.findAndRemove(nullptr), nullptr);
    EXPECT_EQ(registry.size(), 1);
    EXPECT_TRUE(take("A"));
}

TEST_F(RegistryTest, SameIdentifierReplacesAndReleasesTheOld)
{
    registry.add(make("A").get());
    EXPECT_EQ(destroyed.load(), 0);
    RefPtr<CommandRequest> newer = make("A");
    newer->addParam("Stage", "new");
    registry.add(newer.get());
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(registry.size(), 1);
    RefPtr<IZelRequest> got = adoptRef(registry.findAndRemove("A"));
    EXPECT_EQ(got.get(), newer.get());
}

TEST_F(RegistryTest, NullEmptyIdentifiersAndChildlessBatchesAreNotStored)
{
    registry.add(nullptr);
    registry.add(make("").get());
    RefPtr<CommandRequest> batch = make("B");
    batch->addChild(make("").detach());
    registry.add(batch.get());
    EXPECT_EQ(registry.size(), 0);
    batch.reset();
    EXPECT_EQ(destroyed.load(), 3);
}

TEST_F(RegistryTest, DestructionReleasesWhatIsStillPending)
{
    {
        Requests local;
        local.add(oto().get());
    }
    EXPECT_EQ(destroyed.load(), 5);
}

} // namespace
} // namespace zel
