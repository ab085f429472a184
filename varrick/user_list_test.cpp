#include "varrick/user_list.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "contract/schema.h"
#include "dbengine/dbengine.h"

namespace varrick {
namespace {

namespace fs = std::filesystem;

// Binds the routine to `library` for one test and puts the real one back.
class ScopedUserLibrary {
 public:
  explicit ScopedUserLibrary(UserLibrary library) : previous_(setUserLibrary(std::move(library))) {}
  ~ScopedUserLibrary() { setUserLibrary(previous_); }

 private:
  UserLibrary previous_;
};

class UserListStandInTest : public ::testing::Test {
 protected:
  ScopedUserLibrary standIn_{UserLibrary{USER_LIST_STANDIN, "LDBUser_GetUsers"}};
};

TEST_F(UserListStandInTest, JoinsEntriesSkippingEmptyOnesAndRepeats) {
  EXPECT_EQ(GetDbUsers("entries:A,,B,A"), "A;B");
  EXPECT_EQ(GetDbUsers("entries:anna@PC-1,boris@PC-2"), "anna@PC-1;boris@PC-2");
  EXPECT_EQ(GetDbUsers("option"), "option 2");  // the library is asked for option 2
}

TEST_F(UserListStandInTest, AnEntryInsideTheListSoFarIsSkipped) {
  EXPECT_EQ(GetDbUsers("entries:PC10,PC1"), "PC10");
  EXPECT_EQ(GetDbUsers("entries:PC1,PC10"), "PC1;PC10");
  EXPECT_EQ(GetDbUsers("entries:PC1;PC2,PC2,1;P"), "PC1;PC2");  // the separator counts too
  EXPECT_EQ(GetDbUsers("entries:pc1,PC1"), "pc1;PC1");          // case matters
}

TEST_F(UserListStandInTest, NothingTakenIsTheEmptyString) {
  EXPECT_EQ(GetDbUsers("entries:,,"), "");
  EXPECT_EQ(GetDbUsers("untouched"), "");  // the two prepared empty entries
  EXPECT_EQ(GetDbUsers("bounds:0:-1"), "");
}

TEST_F(UserListStandInTest, TheWalkGoesFromTheLibrarysLowerToItsUpperBound) {
  EXPECT_EQ(GetDbUsers("bounds:-32768:-32767:low,next"), "low;next");
  EXPECT_EQ(GetDbUsers("bounds:32766:32766:high"), "high");
  // Bounds a 16-bit index cannot walk.
  EXPECT_EQ(GetDbUsers("bounds:32766:32767:high"), "-1");
  EXPECT_EQ(GetDbUsers("bounds:-32769:-32768:low"), "-1");
}

TEST_F(UserListStandInTest, LibraryFailuresAndUnusableArraysGiveMinusOne) {
  EXPECT_EQ(GetDbUsers("status:-1"), "-1");
  EXPECT_EQ(GetDbUsers("status:-32768"), "-1");
  EXPECT_EQ(GetDbUsers("status:5"), "");  // only the sign of the status counts
  EXPECT_EQ(GetDbUsers("unallocated"), "-1");
  EXPECT_EQ(GetDbUsers("dims:2"), "-1");
  EXPECT_EQ(GetDbUsers("dims:0"), "-1");
}

TEST(UserListBindingTest, AMissingLibraryOrEntryGivesMinusOneUntilOneCanBeBound) {
  {
    ScopedUserLibrary missing(UserLibrary{"/nonexistent/libldbusr.so", "LDBUser_GetUsers"});
    EXPECT_EQ(GetDbUsers("entries:A"), "-1");
  }
  {
    ScopedUserLibrary noEntry(UserLibrary{USER_LIST_STANDIN, "LDBUser_NoSuchEntry"});
    EXPECT_EQ(GetDbUsers("entries:A"), "-1");
  }
  {
    ScopedUserLibrary notFound(UserLibrary{"libldbusr_not_installed.so", "LDBUser_GetUsers"});
    EXPECT_EQ(GetDbUsers("entries:A"), "-1");
  }
  ScopedUserLibrary standIn(UserLibrary{USER_LIST_STANDIN, "LDBUser_GetUsers"});
  EXPECT_EQ(GetDbUsers("entries:A"), "A");
}

// Another process holding a database open through the database engine, as a
// workstation does, until it is told to close it.
class DatabaseHolder {
 public:
  DatabaseHolder(const std::string& database, const std::string& machine, const std::string& user) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0 || (pid_ = fork()) < 0) std::abort();
    if (pid_ == 0) {
      char done = 'e';
      try {
        oskara::db::Engine::instance().setIdentity(machine, user);
        auto db = oskara::db::Engine::instance().workspace(0).openDatabase(database);
        done = 'k';
        (void)!write(fromChild[1], &done, 1);
        (void)!read(toChild[0], &done, 1);  // until told to close
      } catch (...) {
        (void)!write(fromChild[1], &done, 1);
      }
      _exit(0);
    }
    close(toChild[0]);
    close(fromChild[1]);
    commands_ = toChild[1];
    char answer = 'e';
    opened_ = read(fromChild[0], &answer, 1) == 1 && answer == 'k';
    close(fromChild[0]);
  }
  ~DatabaseHolder() { closeDatabase(); }

  bool opened() const { return opened_; }

  void closeDatabase() {
    if (pid_ <= 0) return;
    // A byte, not end of file: a holder forked later shares this pipe's
    // writing end, so closing ours alone would never reach the child.
    const char close = 'c';
    (void)!write(commands_, &close, 1);
    ::close(commands_);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int commands_ = -1;
  bool opened_ = false;
};

TEST(UserListLibraryTest, NamesEveryProcessHoldingTheDatabaseUntilItCloses) {
  const fs::path dir = fs::temp_directory_path() / ("user_list_test_" + std::to_string(getpid()));
  fs::remove_all(dir);
  const std::string dt = oskara::contract::createDatabaseFiles(dir).dt.string();
  // The real library, found by its bare name on this program's run path.
  ScopedUserLibrary real(UserLibrary{});

  DatabaseHolder anna(dt, "PC-1", "anna");
  DatabaseHolder boris(dt, "PC-2", "boris");
  ASSERT_TRUE(anna.opened());
  ASSERT_TRUE(boris.opened());
  EXPECT_EQ(GetDbUsers(dt), "anna@PC-1;boris@PC-2");

  anna.closeDatabase();
  EXPECT_EQ(GetDbUsers(dt), "boris@PC-2");
  boris.closeDatabase();
  EXPECT_EQ(GetDbUsers(dt), "");

  // No file name (no logon yet) and a missing database: the library refuses.
  EXPECT_EQ(GetDbUsers(""), "-1");
  EXPECT_EQ(GetDbUsers((dir / "missing.db").string()), "-1");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace varrick
