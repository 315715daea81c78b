#include "vorntool/containers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using vorntool::BoundException;

struct Tracked {
    explicit Tracked(int* d) : destroyed(d) {}
    ~Tracked() { ++*destroyed; }
    int* destroyed;
};

TEST(TXVector, IndexOutsideTheElementsThrows)
{
    vorntool::TXVector<int> v;
    EXPECT_THROW(v[0], BoundException);
    EXPECT_THROW(v.remove(0), BoundException);
    for (int i = 0; i < 100; ++i)
        v.add(i);
    EXPECT_EQ(v.size(), 100);
    EXPECT_EQ(v[99], 99);
    EXPECT_THROW(v[100], BoundException);
    EXPECT_THROW(v[-1], BoundException);
    EXPECT_THROW(v.insert(101, 5), BoundException);
    v.insert(100, 100);  // at size() appends
    v.insert(0, -1);
    EXPECT_EQ(v[0], -1);
    EXPECT_EQ(v[101], 100);
    v.remove(0);
    EXPECT_EQ(v[0], 0);
    v.clear();
    EXPECT_TRUE(v.isEmpty());
    EXPECT_THROW(v.at(0), BoundException);
}

TEST(TVector, HoldsPointersWithoutOwningThem)
{
    int destroyed = 0;
    Tracked a(&destroyed);
    {
        vorntool::TVector<Tracked*> v;
        v.add(&a);
        v.remove(0);
        v.add(&a);
    }
    EXPECT_EQ(destroyed, 0);
}

TEST(TPtrVector, DestroysEveryElementOnRemoveClearAndDestruction)
{
    int destroyed = 0;
    {
        vorntool::TPtrVector<Tracked*> v;
        for (int i = 0; i < 5; ++i)
            v.add(new Tracked(&destroyed));
        v.remove(1);
        EXPECT_EQ(destroyed, 1);
        Tracked* kept = v.detach(0);
        EXPECT_EQ(v.size(), 3);
        delete kept;
        EXPECT_EQ(destroyed, 2);
        v.clear();
        EXPECT_EQ(destroyed, 5);
        v.add(new Tracked(&destroyed));
    }
    EXPECT_EQ(destroyed, 6);
}

TEST(TPtrArrVector, FreesStringsWithArrayDelete)
{
    // AddressSanitizer reports a new[]/delete mismatch if the wrong delete is used.
    vorntool::TPtrArrVector<char*> v;
    char* s = new char[4];
    std::strcpy(s, "abc");
    v.add(s);
    v.add(new char[1]());
    EXPECT_STREQ(v[0], "abc");
    v.remove(1);
    EXPECT_EQ(v.size(), 1);
}

TEST(TStrVector, CopyingAndAdoptingVariants)
{
    std::string source = "EUR/USD";
    vorntool::TStrVector<char, true> copies;
    copies.add(source.c_str());
    copies.add(nullptr);
    source[0] = 'X';
    EXPECT_STREQ(copies.get(0), "EUR/USD");
    EXPECT_STREQ(copies.get(1), "");
    EXPECT_THROW(copies.get(2), BoundException);

    vorntool::TStrVector<char, false> adopted;
    char* owned = new char[8];
    std::strcpy(owned, "GBP/JPY");
    adopted.add(owned);
    EXPECT_EQ(adopted.get(0), owned);

    vorntool::TStrVector<wchar_t, true> wide;
    wide.add(L"USD");
    EXPECT_EQ(std::wstring(wide.get(0)), L"USD");
}

} // namespace
