#include "core/base/ref_ptr.h"

#include "vorntool/add_ref.h"

#include <gtest/gtest.h>

namespace {

class Counted : public CThreadSafeAddRefImpl {
public:
    explicit Counted(int* destroyed) : m_destroyed(destroyed) {}
    long count()
    {
        addRef();
        return release();
    }

protected:
    ~Counted() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

TEST(RefPtr, AdoptTakesOverAndBorrowAddsAReference)
{
    int destroyed = 0;
    {
        zel::RefPtr<Counted> owner = zel::adoptRef(new Counted(&destroyed));
        EXPECT_EQ(owner->count(), 1);
        zel::RefPtr<Counted> borrowed(owner.get());
        EXPECT_EQ(owner->count(), 2);
        zel::RefPtr<Counted> moved(std::move(borrowed));
        EXPECT_FALSE(borrowed);
        EXPECT_EQ(owner->count(), 2);
        zel::RefPtr<Counted> copy = owner;
        EXPECT_EQ(owner->count(), 3);
        copy = nullptr;
        EXPECT_EQ(owner->count(), 2);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtr, ShareAndDetachHandTheCallerAReference)
{
    int destroyed = 0;
    zel::RefPtr<Counted> owner = zel::adoptRef(new Counted(&destroyed));
    Counted* shared = owner.share();
    EXPECT_EQ(owner->count(), 2);
    Counted* detached = owner.detach();
    EXPECT_FALSE(owner);
    EXPECT_EQ(shared, detached);
    shared->release();
    EXPECT_EQ(destroyed, 0);
    detached->release();
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtr, SelfAssignmentKeepsTheObject)
{
    int destroyed = 0;
    zel::RefPtr<Counted> p = zel::adoptRef(new Counted(&destroyed));
    zel::RefPtr<Counted>& alias = p;
    p = alias;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(p->count(), 1);
}

} // namespace
