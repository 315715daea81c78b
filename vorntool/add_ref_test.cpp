#include "vorntool/add_ref.h"
#include "vorntool/aobject.h"
#include "vorntool/bound_exception.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

class IProbe : public IAddRef {
public:
    virtual int value() = 0;
};

// Counts destructions so a test sees exactly when the last release destroyed it.
class Probe : public TThreadSafeAddRefImpl<IProbe> {
public:
    explicit Probe(int* destroyed) : m_destroyed(destroyed) {}
    int value() override { return 7; }

protected:
    ~Probe() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

class PlainProbe : public CThreadSafeAddRefImpl {
public:
    explicit PlainProbe(int* destroyed) : m_destroyed(destroyed) {}

protected:
    ~PlainProbe() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

class ReferenceProbe : public TThreadSafeAddReferenceImpl<IAddReference> {
public:
    explicit ReferenceProbe(int* destroyed) : m_destroyed(destroyed) {}

protected:
    ~ReferenceProbe() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

class Message : public vorntool::AObject {
public:
    explicit Message(int* destroyed) : m_destroyed(destroyed) {}

protected:
    ~Message() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

template <class Obj>
void expectStartsAtOne()
{
    int destroyed = 0;
    auto* obj = new Obj(&destroyed);
    EXPECT_EQ(obj->addRef(), 2);
    EXPECT_EQ(obj->release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(obj->release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(AddRef, PublicObjectsStartWithTheCreatorsReference)
{
    expectStartsAtOne<Probe>();
    expectStartsAtOne<PlainProbe>();
    expectStartsAtOne<ReferenceProbe>();
}

TEST(AddRef, ReleaseThroughTheInterfaceDestroysTheImplementation)
{
    int destroyed = 0;
    IProbe* p = new Probe(&destroyed);
    EXPECT_EQ(p->value(), 7);
    EXPECT_EQ(p->release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(AObject, StartsAtZeroAndTheFirstReleaseToZeroDeletes)
{
    int destroyed = 0;
    auto* m = new Message(&destroyed);
    EXPECT_EQ(m->AddRef(), 1);
    EXPECT_EQ(m->addRef(), 2);
    EXPECT_EQ(m->Release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(m->release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(BoundException, NamesItsClass)
{
    vorntool::BoundException e;
    EXPECT_STREQ(e.getClass(), "BoundException");
    EXPECT_EQ(std::wcscmp(e.getClassW(), L"BoundException"), 0);
    EXPECT_STREQ(e.what(), "BoundException");
}

} // namespace
