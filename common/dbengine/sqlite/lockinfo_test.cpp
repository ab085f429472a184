#include "dbengine/sqlite/lockinfo.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "dbengine/errors.h"

namespace oskara::db {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

// Another process holding the database: it joins as `me` (as an unprivileged
// user when `unprivileged`), takes the deny-write lock of `table` when one is
// given, then obeys one-letter commands from a pipe and answers each with one
// byte: 'k' done, 'b' refused, 'o' joining failed with 3051 naming the lock
// file, 'e' any other failure. Fork it before this process opens the lock file:
// a forked child shares its parent's open file descriptions, and so its locks.
class Holder {
 public:
  Holder(const std::string& database, UserEntry me, std::string table = {}, bool unprivileged = false) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0 || (pid_ = fork()) < 0) std::abort();
    if (pid_ == 0) {
      if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
      serve(database, me, table, toChild[0], fromChild[1]);
    }
    close(toChild[0]);
    close(fromChild[1]);
    commands_ = toChild[1];
    answers_ = fromChild[0];
    started_ = answer();
  }
  ~Holder() {
    if (pid_ > 0) kill9();
    close(commands_);
    close(answers_);
  }

  char started() const { return started_; }

  // 'l' lock the table, 'u' unlock it, 'd' drop the lock-information file object.
  char send(char command) { return write(commands_, &command, 1) == 1 ? answer() : 'e'; }

  void kill9() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  [[noreturn]] static void serve(const std::string& database, const UserEntry& me, const std::string& table,
                                 int in, int out) {
    std::unique_ptr<LockInfoFile> file;
    char status = 'k';
    try {
      file = LockInfoFile::join(database, me);
      if (!table.empty() && file->tryLockTable(table)) status = 'b';
    } catch (const Error& e) {
      bool named = e.text().find(LockInfoFile::pathFor(database)) != std::string::npos;
      status = e.number() == errc::kCannotOpenFile && named ? 'o' : 'e';
    }
    for (char command; write(out, &status, 1) == 1 && read(in, &command, 1) == 1;) {
      status = 'k';
      if (command == 'l' && file->tryLockTable(table)) status = 'b';
      if (command == 'u') file->unlockTable(table);
      if (command == 'd') file.reset();
    }
    _exit(0);
  }

  char answer() {
    char c = 'e';
    return read(answers_, &c, 1) == 1 ? c : 'e';
  }

  pid_t pid_ = -1;
  int commands_ = -1;
  int answers_ = -1;
  char started_ = 'e';
};

class LockInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lockinfo_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    database_ = dir_ + "/dt.db";
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  std::string dir_;
  std::string database_;
};

const UserEntry kAnna{"PC-ANNA", "anna"};
const UserEntry kBoris{"PC-BORIS", "boris"};

TEST_F(LockInfoTest, UsersAreListedWhileTheirProcessHoldsTheDatabase) {
  EXPECT_TRUE(LockInfoFile::activeUsers(database_).empty());
  EXPECT_FALSE(fs::exists(LockInfoFile::pathFor(database_))) << "reading must not create the file";

  Holder anna(database_, kAnna);
  Holder boris(database_, kBoris);
  ASSERT_EQ(anna.started(), 'k');
  ASSERT_EQ(boris.started(), 'k');
  EXPECT_THAT(LockInfoFile::activeUsers(database_), UnorderedElementsAre(kAnna, kBoris));

  // A killed process leaves its names behind but no lock: it is not listed.
  anna.kill9();
  EXPECT_THAT(LockInfoFile::activeUsers(database_), ElementsAre(kBoris));

  ASSERT_EQ(boris.send('d'), 'k');
  EXPECT_TRUE(LockInfoFile::activeUsers(database_).empty());
  EXPECT_TRUE(fs::exists(LockInfoFile::pathFor(database_)));
}

TEST_F(LockInfoTest, LongNamesAreCutWithoutSplittingACharacter) {
  std::string machine;
  for (int i = 0; i < 20; ++i) machine += "\xC3\xA9";  // two bytes each
  auto file = LockInfoFile::join(database_, {machine, std::string(40, 'u')});
  auto users = LockInfoFile::activeUsers(database_);
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0].machine, machine.substr(0, 30));
  EXPECT_EQ(users[0].user, std::string(31, 'u'));
}

TEST_F(LockInfoTest, WhenEverySlotIsTakenJoiningFailsUntilOneIsFreed) {
  std::vector<std::unique_ptr<LockInfoFile>> files;
  for (int i = 0; i < 256; ++i) files.push_back(LockInfoFile::join(database_, kAnna));
  EXPECT_EQ(files[10]->slot(), 10);
  try {
    LockInfoFile::join(database_, kBoris);
    FAIL() << "a 257th user was let in";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::kCannotOpenFile);
    EXPECT_THAT(e.text(), HasSubstr(LockInfoFile::pathFor(database_)));
  }
  files[10].reset();
  EXPECT_EQ(LockInfoFile::join(database_, kBoris)->slot(), 10);
}

TEST_F(LockInfoTest, TwoObjectsInOneProcessExcludeEachOtherFromATable) {
  auto anna = LockInfoFile::join(database_, kAnna);
  auto boris = LockInfoFile::join(database_, kBoris);

  EXPECT_EQ(anna->tryLockTable("tblDtQueueProcLock"), std::nullopt);
  EXPECT_EQ(anna->tryLockTable("tblDtQueueProcLock"), std::nullopt) << "the holder may take it again";
  EXPECT_EQ(boris->tryLockTable("TBLDTQUEUEPROCLOCK"), kAnna);
  EXPECT_EQ(boris->tryLockTable("tblDTQueue"), std::nullopt) << "other tables stay free";

  anna->unlockTable("tbldtqueueproclock");
  EXPECT_EQ(boris->tryLockTable("tblDtQueueProcLock"), std::nullopt);
  EXPECT_EQ(anna->tryLockTable("tblDtQueueProcLock"), kBoris);
  EXPECT_EQ(anna->tryLockTable("tblDTQueue"), kBoris);

  boris.reset();
  EXPECT_EQ(anna->tryLockTable("tblDtQueueProcLock"), std::nullopt);
  EXPECT_EQ(anna->tryLockTable("tblDTQueue"), std::nullopt);
}

TEST_F(LockInfoTest, AnotherProcessIsRefusedUntilTheHolderUnlocksOrIsKilled) {
  Holder boris(database_, kBoris, "tblDtQueueProcLock");
  ASSERT_EQ(boris.started(), 'k');
  auto anna = LockInfoFile::join(database_, kAnna);

  EXPECT_EQ(anna->tryLockTable("tbldtqueueproclock"), kBoris);
  ASSERT_EQ(boris.send('u'), 'k');
  EXPECT_EQ(anna->tryLockTable("tblDtQueueProcLock"), std::nullopt);
  EXPECT_EQ(boris.send('l'), 'b') << "refused while this process holds it";
  anna->unlockTable("tblDtQueueProcLock");

  ASSERT_EQ(boris.send('l'), 'k');
  EXPECT_EQ(anna->tryLockTable("tblDtQueueProcLock"), kBoris);
  boris.kill9();
  EXPECT_EQ(anna->tryLockTable("tblDtQueueProcLock"), std::nullopt);
}

TEST_F(LockInfoTest, AFolderThatCannotBeWrittenGives3051) {
  std::string folder = dir_ + "/readonly";
  ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  // The superuser writes anywhere, so the attempt runs as an ordinary user.
  Holder anna(folder + "/dt.db", kAnna, {}, true);
  EXPECT_EQ(anna.started(), 'o');
  EXPECT_TRUE(LockInfoFile::activeUsers(folder + "/dt.db").empty());
}


// Anybody who may write in a shared folder can plant the lock file as a link
// to a file of another user, or as something that is no file at all: it is
// refused with 3051 naming it, and what it points to is never written.
TEST_F(LockInfoTest, OnlyARegularFileIsUsedAndNothingPlantedIsWritten) {
  const std::string lock = LockInfoFile::pathFor(database_);
  const std::string victim = dir_ + "/victim";
  {
    std::ofstream(victim) << "somebody's file";
  }
  const auto refusal = [&] {
    try {
      LockInfoFile::join(database_, kAnna);
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kCannotOpenFile);
      return e.text();
    }
    return std::string("joined");
  };
  const auto victimText = [&] {
    std::ifstream in(victim);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };

  fs::create_symlink(victim, lock);
  EXPECT_THAT(refusal(), HasSubstr("'" + lock + "': it is a symbolic link"));
  EXPECT_THROW(LockInfoFile::activeUsers(database_), Error) << "readers are refused as well";
  fs::remove(lock);
  ASSERT_EQ(mkfifo(lock.c_str(), 0666), 0);
  EXPECT_THAT(refusal(), HasSubstr("it is not a regular file"));
  EXPECT_EQ(victimText(), "somebody's file");
}

}  // namespace
}  // namespace oskara::db
