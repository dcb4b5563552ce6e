// Exceptions, the growable array, vectors and the counted handle.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cb/CbRefPtr.h"
#include "zt/array1.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/vec.h"
#include "zt/ztx.h"

TEST(Exceptions, TextSurvivesCatchAsStandardException) {
    try {
        throw ztx::base(zt::cat("Cannot find shape '", "Particle", "' in Body ", "water", " ", 3));
    } catch (const std::exception& e) {
        EXPECT_STREQ("Cannot find shape 'Particle' in Body water 3", e.what());
    }
    try {
        throw ztx::eof("End of file reached reading Cb::String");
    } catch (const ztx::base& e) {
        EXPECT_STREQ("End of file reached reading Cb::String", e.what());
        EXPECT_NE(nullptr, dynamic_cast<const ztx::eof*>(&e));
    }
    ztx::base copy = ztx::base("x");
    EXPECT_EQ("x", copy.message());
}

TEST(Array1, GrowsToTwiceCapacityPlusOne) {
    zt::array1<int> a;
    EXPECT_EQ(0, a.count());
    EXPECT_EQ(0, a.capacity());
    a.push_back(1);
    EXPECT_EQ(1, a.capacity());
    a.push_back(2);
    EXPECT_EQ(3, a.capacity());
    a.push_back(3);
    a.push_back(4);
    EXPECT_EQ(7, a.capacity());
    EXPECT_EQ(4, a.count());
    EXPECT_EQ(4, a.back());
}

TEST(Array1, CopySwapRemoveInsertAndSqueeze) {
    zt::array1<int64_t> a;
    for (int i = 0; i < 5; ++i) a.push_back(i * 10);
    zt::array1<int64_t> b = a;
    a.swapRemove(1);  // last moves into the hole
    EXPECT_EQ(4, a.count());
    EXPECT_EQ(40, a[1]);
    EXPECT_EQ(10, b[1]);  // the copy is deep
    a.insert(0, -1);
    a.erase(2);
    EXPECT_EQ((std::vector<int64_t>{-1, 0, 20, 30}), std::vector<int64_t>(a.begin(), a.end()));
    a.squeeze();
    EXPECT_EQ(a.count(), a.capacity());
    a.resize(6, 7);
    EXPECT_EQ(7, a[5]);
    a.clear();
    EXPECT_EQ(0, a.capacity());
    EXPECT_EQ(nullptr, a.data());
}

TEST(Array1, FailedAllocationIsOutOfMemory) {
    zt::array1<double> a;
    // 2^61 doubles overflow the byte count; 2^59 do not but cannot be had.
    for (int64_t n : {int64_t(1) << 61, int64_t(1) << 59}) {
        try {
            a.reserve(n);
            FAIL() << "allocation of " << n << " doubles succeeded";
        } catch (const ztx::base& e) {
            EXPECT_STREQ("Out of memory.", e.what());
        }
    }
    EXPECT_EQ(0, a.capacity());
}

TEST(Vec, MemoryImageIsThePlainComponents) {
    zt::vec3f v{{1.0f, 2.0f, 3.0f}};
    float raw[3];
    std::memcpy(raw, &v, sizeof raw);
    EXPECT_EQ(2.0f, raw[1]);
    EXPECT_EQ(3.0f, v.z());
    EXPECT_EQ(16u, sizeof(zt::vec4f));
    EXPECT_EQ(8u, sizeof(zt::vec2i));
    EXPECT_TRUE((zt::vec3i{{1, 2, 3}} == zt::vec3i{{1, 2, 3}}));
}

namespace {
struct Counted {
    static int live;
    int value;
    explicit Counted(int v) : value(v) { ++live; }
    Counted(const Counted& o) : value(o.value) { ++live; }
    ~Counted() { --live; }
    Counted* clone() const { return new Counted(*this); }
};
int Counted::live = 0;
}  // namespace

TEST(CbRefPtr, CopiesShareUntilOneSideWrites) {
    {
        Cb::CbRefPtr<Counted> a(new Counted(1));
        Cb::CbRefPtr<Counted> b = a;
        EXPECT_EQ(2, a.refCount());
        EXPECT_EQ(a.get(), b.get());
        b.mutableGet()->value = 2;  // detaches b only
        EXPECT_EQ(1, a->value);
        EXPECT_EQ(2, b->value);
        EXPECT_EQ(1, a.refCount());
        EXPECT_EQ(1, b.refCount());
        EXPECT_EQ(2, Counted::live);
        Counted* before = a.get();
        a.detach();  // not shared: no copy
        EXPECT_EQ(before, a.get());
    }
    EXPECT_EQ(0, Counted::live);
}

TEST(CbRefPtr, NoDeleteFlagKeepsTheObject) {
    Counted stack(5);
    {
        Cb::CbRefPtr<Counted> a(&stack, true);
        Cb::CbRefPtr<Counted> b = a;
        b.reset();
        EXPECT_EQ(1, a.refCount());
        EXPECT_FALSE(b);
    }
    EXPECT_EQ(1, Counted::live);  // only `stack`
}

TEST(CbRefPtr, TypesWithoutCloneDetachByCopy) {
    Cb::CbRefPtr<std::string> a(new std::string("abc"));
    Cb::CbRefPtr<std::string> b = a;
    *b.mutableGet() += "d";
    EXPECT_EQ("abc", *a);
    EXPECT_EQ("abcd", *b);
}

TEST(ParallelErrors, FirstFailureComesBackOnTheCallingThread) {
    zt::parallel_errors errors;
    int ran = 0;
#pragma omp parallel for reduction(+ : ran)
    for (int i = 0; i < 64; ++i) {
        errors.capture([&] {
            ++ran;
            if (i % 7 == 3) throw ztx::base("piece failed");
        });
    }
    EXPECT_EQ(64, ran);
    EXPECT_TRUE(errors.failed());
    EXPECT_THROW(errors.rethrow(), ztx::base);
    EXPECT_NO_THROW(errors.rethrow());  // raised once
}
