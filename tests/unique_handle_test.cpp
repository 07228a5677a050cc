#include "core/unique_handle.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <utility>
#include <vector>

namespace {

// Handles are small numbers, -1 none; every close is recorded in order.
std::vector<int> closed;

struct CountingTraits {
  static int Invalid() { return -1; }
  static void Close(int handle) { closed.push_back(handle); }
};
using Owner = core::UniqueHandle<CountingTraits>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

static_assert(!std::is_copy_constructible_v<Owner>);
static_assert(!std::is_copy_assignable_v<Owner>);
static_assert(std::is_nothrow_move_constructible_v<Owner>);
static_assert(std::is_nothrow_move_assignable_v<Owner>);
static_assert(!std::is_convertible_v<Owner, bool>, "only an explicit test for a handle");
static_assert(!std::is_convertible_v<int, Owner>, "taking ownership is never implicit");

TEST_F(UniqueHandleTest, ClosesItsHandleOnceWhenLeavingTheScope) {
  {
    Owner owner(7);
    EXPECT_TRUE(owner);
    EXPECT_EQ(owner.get(), 7);
    EXPECT_TRUE(closed.empty());
  }
  EXPECT_EQ(closed, std::vector<int>{7});
}

TEST_F(UniqueHandleTest, AnEmptyOwnerClosesNothing) {
  {
    Owner empty;
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.get(), -1);
    Owner invalid(-1);
    EXPECT_FALSE(invalid);
  }
  EXPECT_TRUE(closed.empty());
}

TEST_F(UniqueHandleTest, MovingTransfersTheHandleAndItIsClosedOnceByTheNewOwner) {
  {
    Owner first(3);
    Owner second(std::move(first));
    EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(second.get(), 3);
    Owner third;
    third = std::move(second);
    EXPECT_FALSE(second);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(third.get(), 3);
    EXPECT_TRUE(closed.empty());
  }
  EXPECT_EQ(closed, std::vector<int>{3});
}

TEST_F(UniqueHandleTest, MoveAssignmentClosesTheHandleItReplaces) {
  Owner target(1);
  Owner source(2);
  target = std::move(source);
  EXPECT_EQ(closed, std::vector<int>{1});
  EXPECT_EQ(target.get(), 2);
  target = Owner();
  EXPECT_EQ(closed, (std::vector<int>{1, 2}));
  EXPECT_FALSE(target);
}

TEST_F(UniqueHandleTest, MovingAnOwnerOntoItselfKeepsTheHandleOpen) {
  {
    Owner owner(5);
    Owner& same = owner;
    owner = std::move(same);
    EXPECT_EQ(owner.get(), 5);
    EXPECT_TRUE(closed.empty());
  }
  EXPECT_EQ(closed, std::vector<int>{5});
}

TEST_F(UniqueHandleTest, ResetClosesTheOldHandleAndKeepsTheNewOne) {
  struct Step {
    int Start;
    int Next;
    std::vector<int> Closed;
    int Held;
  };
  const Step steps[] = {
      {4, 6, {4}, 6},    // a new handle replaces an open one
      {4, -1, {4}, -1},  // reset to nothing closes
      {-1, 6, {}, 6},    // an empty owner takes a handle
      {4, 4, {}, 4},     // the handle already held stays open
      {-1, -1, {}, -1},  // nothing to close
  };
  for (const Step& step : steps) {
    closed.clear();
    Owner owner(step.Start);
    owner.reset(step.Next);
    EXPECT_EQ(closed, step.Closed) << step.Start << " -> " << step.Next;
    EXPECT_EQ(owner.get(), step.Held) << step.Start << " -> " << step.Next;
    closed.clear();
    owner.reset();
    EXPECT_EQ(closed, step.Held == -1 ? std::vector<int>{} : std::vector<int>{step.Held});
  }
}

TEST_F(UniqueHandleTest, ReleaseHandsTheHandleOverWithoutClosingIt) {
  int handed = -1;
  {
    Owner owner(9);
    handed = owner.release();
    EXPECT_FALSE(owner);
    EXPECT_EQ(owner.release(), -1);
  }
  EXPECT_EQ(handed, 9);
  EXPECT_TRUE(closed.empty());
}

}  // namespace
