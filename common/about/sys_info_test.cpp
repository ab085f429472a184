#include "about/sys_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "about/registry.h"
#include "presenter/message_presenter.h"

namespace oskara::about {
namespace {

namespace fs = std::filesystem;

class StartSysInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("sys_info_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    QCoreApplication::setApplicationName(QStringLiteral("tormel"));
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A program that leaves the file "started" in the test folder.
  fs::path writeProgram(const fs::path& file) {
    std::ofstream(file) << "#!/bin/sh\ntouch '" << (dir_ / "started").string() << "'\n";
    chmod(file.c_str(), 0755);
    return file;
  }

  void writeRegistry(const std::string& keys) {
    std::ofstream(dir_ / "registry.reg") << "OSKARA REGISTRY\n\n" << keys;
  }

  static std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

  bool programStarted() const {
    for (int i = 0; i < 100; ++i) {
      if (fs::exists(dir_ / "started")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // Runs StartSysInfo on the test registry; the messages it showed.
  std::vector<RecordingPresenter::Shown> run() {
    RecordingPresenter presenter;
    ScopedPresenter usePresenter(presenter);
    ScopedRegistryFile useRegistry((dir_ / "registry.reg").string());
    StartSysInfo();
    return presenter.shown;
  }

  static void expectUnavailableBox(const std::vector<RecordingPresenter::Shown>& shown) {
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "System Information Is Unavailable At This Time");
    EXPECT_EQ(shown[0].title, "tormel");
    EXPECT_EQ(shown[0].style, message_style::kOkOnly);
  }

  fs::path dir_;
};

TEST_F(StartSysInfoTest, StartsTheProgramRegisteredUnderPath) {
  const fs::path program = writeProgram(dir_ / "sysinfo");
  writeRegistry("[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n\"PATH\"=" + quoted(program) + "\n" +
                "[SOFTWARE\\Microsoft\\Shared Tools Location]\n\"MSINFO\"=\"/nowhere\"\n");
  EXPECT_TRUE(run().empty());
  EXPECT_TRUE(programStarted());
}

TEST_F(StartSysInfoTest, APathThatCannotBeStartedShowsTheBox) {
  // The registered path is not tested first; starting it is what fails.
  writeRegistry("[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n\"PATH\"=" +
                quoted(dir_ / "missing") + "\n");
  expectUnavailableBox(run());
}

TEST_F(StartSysInfoTest, TheFolderValueLeadsToTheProgramOnlyWhenItsFileExists) {
  // The file name is appended with its backslash, as the system writes it.
  writeRegistry("[SOFTWARE\\Microsoft\\Shared Tools Location]\n\"MSINFO\"=" +
                quoted(dir_ / "tools") + "\n");
  expectUnavailableBox(run());
  EXPECT_FALSE(fs::exists(dir_ / "started"));

  writeProgram(dir_ / "tools\\MSINFO32.EXE");
  EXPECT_TRUE(run().empty());
  EXPECT_TRUE(programStarted());
}

TEST_F(StartSysInfoTest, NeitherValueShowsTheBox) {
  writeRegistry("[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n\"Other\"=\"x\"\n");
  expectUnavailableBox(run());
  fs::remove(dir_ / "registry.reg");
  expectUnavailableBox(run());
}

}  // namespace
}  // namespace oskara::about
