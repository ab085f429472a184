#include "userlist/ldbusr.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/sqlite/lockinfo.h"

namespace {

namespace fs = std::filesystem;
using oskara::db::LockInfoFile;

// An array as a caller prepares it: one dimension, two empty entries.
struct Prepared {
  Prepared() { EXPECT_EQ(LDBUser_Redim(&array, 0, 1), 0); }
  ~Prepared() { LDBUser_FreeArray(&array); }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (int64_t i = 0; i <= int64_t{array.upper} - array.lower; ++i)
      out.push_back(array.items[i] ? array.items[i] : "");
    return out;
  }
  LdbStringArray array{0, 0, -1, nullptr};
};

class LdbUsersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ldbusr_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    database_ = (dir_ / "dt.db").string();
    std::ofstream(database_) << "not opened by this library";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Each join is an open file description of its own, so the library sees it
  // as another user exactly as it would see another process.
  std::unique_ptr<LockInfoFile> join(const std::string& machine, const std::string& user) {
    return LockInfoFile::join(database_, {machine, user});
  }

  fs::path dir_;
  std::string database_;
};

TEST_F(LdbUsersTest, ListsEveryOpenInSlotOrderAndForgetsThoseWhoLeave) {
  auto anna = join("PC-1", "anna");
  auto boris = join("PC-2", "boris");
  auto annaAgain = join("PC-1", "anna");

  Prepared users;
  ASSERT_EQ(LDBUser_GetUsers(&users.array, database_.c_str(), LDB_OPTION_CURRENT_USERS), 3);
  EXPECT_EQ(users.array.dims, 1);
  EXPECT_EQ(users.array.lower, 0);
  EXPECT_EQ(users.array.upper, 2);
  EXPECT_EQ(users.entries(), (std::vector<std::string>{"anna@PC-1", "boris@PC-2", "anna@PC-1"}));

  anna.reset();
  annaAgain.reset();
  ASSERT_EQ(LDBUser_GetUsers(&users.array, database_.c_str(), LDB_OPTION_CURRENT_USERS), 1);
  EXPECT_EQ(users.entries(), std::vector<std::string>{"boris@PC-2"});
}

TEST_F(LdbUsersTest, NamesLeftInAnUnlockedSlotAreNotAUser) {
  auto boris = join("PC-2", "boris");
  {
    // What a killed process leaves behind: its names in slot 3, no lock.
    std::fstream lock(LockInfoFile::pathFor(database_), std::ios::in | std::ios::out | std::ios::binary);
    char slot[64] = "PC-9";
    std::memcpy(slot + 32, "ghost", 6);
    lock.seekp(3 * 64);
    lock.write(slot, sizeof slot);
  }
  Prepared users;
  ASSERT_EQ(LDBUser_GetUsers(&users.array, database_.c_str(), LDB_OPTION_CURRENT_USERS), 1);
  EXPECT_EQ(users.entries(), std::vector<std::string>{"boris@PC-2"});
}

TEST_F(LdbUsersTest, NobodyIsAnEmptyArrayAndNoLockFileIsMade) {
  Prepared users;
  ASSERT_EQ(LDBUser_GetUsers(&users.array, database_.c_str(), LDB_OPTION_CURRENT_USERS), 0);
  EXPECT_EQ(users.array.dims, 1);
  EXPECT_LT(users.array.upper, users.array.lower);
  EXPECT_FALSE(fs::exists(LockInfoFile::pathFor(database_)));

  // A lock file whose users have all gone reads the same.
  join("PC-1", "anna").reset();
  ASSERT_EQ(LDBUser_GetUsers(&users.array, database_.c_str(), LDB_OPTION_CURRENT_USERS), 0);
}

TEST_F(LdbUsersTest, FailuresAreNegativeAndLeaveTheArrayAsPassed) {
  auto anna = join("PC-1", "anna");
  Prepared users;
  ASSERT_EQ(LDBUser_SetItem(&users.array, 1, "kept"), 0);
  const std::string missing = (dir_ / "missing.db").string();

  EXPECT_EQ(LDBUser_GetUsers(&users.array, "", LDB_OPTION_CURRENT_USERS), LDB_ERR_ARGUMENT);
  EXPECT_EQ(LDBUser_GetUsers(&users.array, nullptr, LDB_OPTION_CURRENT_USERS), LDB_ERR_ARGUMENT);
  EXPECT_EQ(LDBUser_GetUsers(nullptr, database_.c_str(), LDB_OPTION_CURRENT_USERS), LDB_ERR_ARGUMENT);
  EXPECT_EQ(LDBUser_GetUsers(&users.array, missing.c_str(), LDB_OPTION_CURRENT_USERS),
            LDB_ERR_DATABASE);
  EXPECT_EQ(LDBUser_GetUsers(&users.array, database_.c_str(), 1), LDB_ERR_OPTION);

  EXPECT_EQ(users.entries(), (std::vector<std::string>{"", "kept"}));
}

TEST(LdbArrayTest, RedimSetAndFreeKeepTheBounds) {
  LdbStringArray array{0, 0, -1, nullptr};
  ASSERT_EQ(LDBUser_Redim(&array, -2, 1), 0);
  EXPECT_EQ(LDBUser_SetItem(&array, -2, "first"), 0);
  EXPECT_EQ(LDBUser_SetItem(&array, 1, "last"), 0);
  EXPECT_EQ(LDBUser_SetItem(&array, 1, "last again"), 0);  // replaces, frees the old text
  EXPECT_EQ(LDBUser_SetItem(&array, 2, "outside"), LDB_ERR_ARGUMENT);
  EXPECT_EQ(LDBUser_SetItem(&array, -3, "outside"), LDB_ERR_ARGUMENT);
  EXPECT_STREQ(array.items[0], "first");
  EXPECT_EQ(array.items[1], nullptr);
  EXPECT_STREQ(array.items[3], "last again");

  LDBUser_FreeArray(&array);
  EXPECT_EQ(array.dims, 0);
  EXPECT_EQ(array.items, nullptr);
  EXPECT_EQ(LDBUser_SetItem(&array, 0, "unallocated"), LDB_ERR_ARGUMENT);
  LDBUser_FreeArray(&array);  // twice is harmless
}

}  // namespace
