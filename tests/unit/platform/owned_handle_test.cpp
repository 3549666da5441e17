// However an owner of a system handle is moved, reset or let go of, every
// value is closed exactly once, and the one it replaces first.
#include <gtest/gtest.h>

#include <ostream>
#include <utility>
#include <vector>

#include "platform/owned_handle.h"

namespace {

std::vector<int> g_closed;

struct Recorded {
    static constexpr int invalid = -1;
    static void close(int value) noexcept { g_closed.push_back(value); }
};
using Owner = platform::OwnedHandle<Recorded>;

struct OwnerCase {
    const char* name;
    void (*steps)();
    std::vector<int> closed;  // in order, once all owners are gone
};

const OwnerCase kOwnerCases[] = {
    {"ClosedWhenDestroyed", [] { Owner a(3); }, {3}},
    {"ZeroIsAValue", [] { Owner a(0); EXPECT_TRUE(a); }, {0}},
    {"EmptyClosesNothing", [] { Owner a, b(Recorded::invalid); EXPECT_FALSE(a || b); }, {}},
    {"MovedOnce",
     [] {
         Owner a(3);
         Owner b(std::move(a));
         EXPECT_FALSE(a.valid());
         EXPECT_EQ(b.get(), 3);
     },
     {3}},
    {"MoveAssignClosesTheReplacedFirst",
     [] {
         Owner a(3), b(4);
         b = std::move(a);
         EXPECT_EQ(g_closed, std::vector<int>{4});
     },
     {4, 3}},
    {"MoveOntoItselfKeepsTheValue",
     [] {
         Owner a(3);
         Owner& same = a;
         a = std::move(same);
         EXPECT_EQ(a.get(), 3);
     },
     {3}},
    {"ReleasedIsNotClosed", [] { Owner a(3); EXPECT_EQ(a.release(), 3); EXPECT_FALSE(a); }, {}},
    {"ResetClosesAtOnce",
     [] {
         Owner a(3);
         a.reset(5);
         EXPECT_EQ(g_closed, std::vector<int>{3});
         a.reset();
         EXPECT_FALSE(a);
     },
     {3, 5}},
};

void PrintTo(const OwnerCase& c, std::ostream* out) { *out << c.name; }

class OwnedHandle : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(OwnedHandle, ClosesEveryValueOnce) {
    g_closed.clear();
    GetParam().steps();
    EXPECT_EQ(g_closed, GetParam().closed);
}

INSTANTIATE_TEST_SUITE_P(Table, OwnedHandle, ::testing::ValuesIn(kOwnerCases),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
