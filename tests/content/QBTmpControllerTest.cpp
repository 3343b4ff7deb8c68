#include "content/QBTmpController.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace greyfox {
namespace {

namespace fs = std::filesystem;

class TmpControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("tmpctl-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_);
    root_ = (base_ / "QuillboxTmp/temp").string();
    ErrorPtr error;
    tmp_ = QBTmpController::initSharedController(root_, &error);
    ASSERT_TRUE(tmp_) << (error ? error->message() : "");
  }
  void TearDown() override { fs::remove_all(base_); }

  fs::path base_;
  std::string root_;
  std::shared_ptr<QBTmpController> tmp_;
};

TEST_F(TmpControllerTest, LocalOnlyPaths) {
  struct Case {
    const char* path;
    bool local;
  } cases[] = {
      {"/.DS_Store", true},           {"/a/x.DS_Store.bak", true},       {"/Info.localized.txt", true},
      {"/Folder.localized/file.txt", true}, {"/.MACOSX_XATTRS", true},   {"/a/.ds_store", false},
      {"/Documents/readme.txt", false},     {"/", false},
  };
  for (const auto& c : cases) EXPECT_EQ(QBTmpController::shouldIncludePath(c.path), c.local) << c.path;
}

TEST_F(TmpControllerTest, RootIsPrivateAndWipedAtEachStart) {
  struct stat st {};
  ASSERT_EQ(::stat(root_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_TRUE(tmp_->createFileAt("/Docs/left-over.txt", nullptr));
  ASSERT_TRUE(QBTmpController::initSharedController(root_, nullptr));
  EXPECT_TRUE(QBTmpController::sharedController()->isEmptyDirectory("/"));
  EXPECT_FALSE(QBTmpController::sharedController()->fileExistsAt("/Docs/left-over.txt"));
}

TEST_F(TmpControllerTest, RefusesRootThatIsASymbolicLink) {
  fs::path target = base_ / "elsewhere";
  fs::create_directories(target);
  std::ofstream(target / "precious.txt") << "keep me";
  fs::path link = base_ / "linked-root";
  fs::create_directory_symlink(target, link);
  ErrorPtr error;
  EXPECT_FALSE(QBTmpController::initSharedController(link.string(), &error));
  ASSERT_TRUE(error);
  EXPECT_NE(error->message().find("Failed to create tmp directory at"), std::string::npos);
  EXPECT_TRUE(fs::exists(target / "precious.txt")) << "the link's target must not be wiped";
  EXPECT_EQ(QBTmpController::sharedController(), tmp_) << "a refused root keeps the earlier instance";
}

TEST_F(TmpControllerTest, ReadsAndWritesAtOffsets) {
  ASSERT_TRUE(tmp_->createFileAt("/a/file.bin", nullptr));
  ASSERT_TRUE(tmp_->writeFileAt("/a/file.bin", 0, "hello", nullptr));
  ASSERT_TRUE(tmp_->writeFileAt("/a/file.bin", 8, "XY", nullptr));  // beyond the end: a gap of zeros
  ASSERT_TRUE(tmp_->writeFileAt("/a/file.bin", 1, "E", nullptr));   // overwrite, never truncate
  auto all = tmp_->readFileAt("/a/file.bin", 0, 100, nullptr);
  ASSERT_TRUE(all);
  EXPECT_EQ(*all, std::string("hEllo\0\0\0XY", 10));
  EXPECT_EQ(tmp_->readFileAt("/a/file.bin", 3, 3, nullptr), std::string("lo\0", 3));
  EXPECT_EQ(tmp_->readFileAt("/a/file.bin", 50, 3, nullptr), std::string());

  EXPECT_FALSE(tmp_->readFileAt("/a/missing", 0, 10, nullptr));
  EXPECT_TRUE(tmp_->writeFileAt("/a/missing", 0, "x", nullptr)) << "writing a missing file answers success";
  EXPECT_FALSE(tmp_->fileExistsAt("/a/missing")) << "and writes nothing";
}

TEST_F(TmpControllerTest, PathsCannotLeaveTheRoot) {
  EXPECT_EQ(tmp_->tempPathFor("/../../etc/passwd"), root_ + "/etc/passwd");
  EXPECT_EQ(tmp_->tempPathFor("/"), root_);
}

TEST_F(TmpControllerTest, CleanupRemovesFilesAndEmptyFoldersOnly) {
  ASSERT_TRUE(tmp_->createFileAt("/F/file.txt", nullptr));
  ASSERT_TRUE(tmp_->createDirectoryAt("/F/empty", nullptr));
  ASSERT_TRUE(tmp_->createFileAt("/F/full/inner.txt", nullptr));
  tmp_->cleanupDirectory("/F");
  EXPECT_FALSE(tmp_->fileExistsAt("/F/file.txt"));
  EXPECT_FALSE(tmp_->fileExistsAt("/F/empty"));
  EXPECT_TRUE(tmp_->fileExistsAt("/F/full/inner.txt"));
}

TEST_F(TmpControllerTest, FoldersMovesAndEmptiness) {
  EXPECT_TRUE(tmp_->isEmptyDirectory("/nothing-here"));
  ASSERT_TRUE(tmp_->createFileAt("/d/f", nullptr));
  EXPECT_TRUE(tmp_->isEmptyDirectory("/d/f")) << "a file lists no entries";
  EXPECT_FALSE(tmp_->isEmptyDirectory("/d"));

  EXPECT_FALSE(tmp_->moveFileAt("/d/f", "/no-parent/g", nullptr)) << "the destination's parent must exist";
  ASSERT_TRUE(tmp_->createDirectoryAt("/e", nullptr));
  ASSERT_TRUE(tmp_->moveFileAt("/d/f", "/e/g", nullptr));
  EXPECT_TRUE(tmp_->fileExistsAt("/e/g"));

  ASSERT_TRUE(tmp_->removeDirectoryAt("/e", nullptr));
  EXPECT_FALSE(tmp_->fileExistsAt("/e"));
  ErrorPtr error;
  EXPECT_FALSE(tmp_->removeFileAt("/e/g", &error));
  EXPECT_TRUE(error);
}

}  // namespace
}  // namespace greyfox
