// The owner of every handle: each handle is closed exactly once, whichever
// way its owner lets go of it, and never one that it gave up.
#include "sys/UniqueAny.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace kestrune {
namespace {

std::vector<int> closedHandles;
void CloseHandleNumber(int handle) { closedHandles.push_back(handle); }
using Owner = sys::UniqueAny<int, -1, CloseHandleNumber>;

// A handle that is a record, empty when its id is 0 (as a VARIANT is when
// VT_EMPTY); closing clears it in place.
struct Record {
  int Id = 0;
};
std::vector<int> clearedRecords;
bool IsEmptyRecord(const Record& record) { return record.Id == 0; }
void ClearRecord(Record& record) {
  clearedRecords.push_back(record.Id);
  record.Id = 0;
}
using RecordOwner = sys::UniqueAny<Record, IsEmptyRecord, ClearRecord>;

class UniqueAnyTest : public ::testing::Test {
 protected:
  UniqueAnyTest() {
    closedHandles.clear();
    clearedRecords.clear();
  }
};

TEST_F(UniqueAnyTest, AHeldHandleIsClosedOnceWhenTheOwnerGoes) {
  { const Owner empty; }
  EXPECT_TRUE(closedHandles.empty());
  {
    const Owner owner(7);
    EXPECT_TRUE(owner.Valid());
    EXPECT_EQ(owner.Get(), 7);
  }
  EXPECT_EQ(closedHandles, std::vector<int>{7});
}

TEST_F(UniqueAnyTest, ResetPutAndReleaseCloseOnlyWhatTheOwnerStillHolds) {
  Owner owner(1);
  owner.Reset(2);           // closes 1
  int* slot = owner.Put();  // closes 2
  EXPECT_EQ(*slot, -1);
  *slot = 3;                      // as a call that hands out a new handle
  EXPECT_EQ(owner.Release(), 3);  // given up: never closed
  EXPECT_FALSE(owner.Valid());
  owner.Reset();
  EXPECT_EQ(closedHandles, (std::vector<int>{1, 2}));
}

TEST_F(UniqueAnyTest, MovesHandTheHandleOverWithoutClosingIt) {
  {
    Owner first(4);
    Owner second(std::move(first));
    EXPECT_FALSE(first.Valid());
    Owner third(5);
    third = std::move(second);  // closes 5, takes 4
    EXPECT_EQ(closedHandles, std::vector<int>{5});
    Owner& same = third;
    third = std::move(same);  // a move onto itself keeps the handle
    EXPECT_EQ(third.Get(), 4);
  }
  EXPECT_EQ(closedHandles, (std::vector<int>{5, 4}));
}

TEST_F(UniqueAnyTest, ARecordHandleIsEmptyByItsPredicateAndClearedInPlace) {
  {
    const RecordOwner empty;
    EXPECT_FALSE(empty.Valid());
    RecordOwner owner(Record{9});
    EXPECT_TRUE(owner.Valid());
    owner.Put()->Id = 10;  // clears 9, then filled in by a call
    EXPECT_EQ(owner.Release().Id, 10);
    EXPECT_FALSE(owner.Valid());
    owner.Reset(Record{11});
  }
  EXPECT_EQ(clearedRecords, (std::vector<int>{9, 11}));
}

}  // namespace
}  // namespace kestrune
