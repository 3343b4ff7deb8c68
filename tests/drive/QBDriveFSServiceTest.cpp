// QBDriveFS's callbacks against the local service's demo account, without a
// mount: what thumbnail makers and other system services get, attributes of
// missing names and of the root, and the volume's size.
#include <fcntl.h>

#include <cerrno>

#include "content/ContentServiceFixture.h"
#include "drive/QBDriveFS.h"
#include "drive/QBSatellitesController.h"
#include "items/QBAccountItems.h"
#include "items/QBFolderListItem.h"

namespace greyfox::test {
namespace {

// A filter that classes every request as one kind of process.
class FixedCaller : public QBSatellitesController {
 public:
  FixedCaller(std::shared_ptr<QBContentController> content, QBCallingProcessClass caller)
      : QBSatellitesController(std::move(content)), caller_(caller) {}
  QBCallingProcessClass testCallingProcess() const override { return caller_; }

 private:
  const QBCallingProcessClass caller_;
};

class DriveFSService : public ContentServiceTest {
 protected:
  QBDriveFS driveFor(QBCallingProcessClass caller) {
    filter_ = std::make_shared<FixedCaller>(controller_, caller);
    return QBDriveFS(QBDriveFSParts{controller_, nullptr, nullptr, filter_});
  }
  std::shared_ptr<FixedCaller> filter_;
};

TEST_F(DriveFSService, ThumbnailMakersReadTheServicesThumbnailOfImagesOnly) {
  QBDriveFS fs = driveFor(QBCallingProcessThumbnail);
  QBFileHandlePtr handle;
  ErrorPtr error;
  ASSERT_TRUE(fs.openFileAtPath("/Photos/garden.png", O_RDONLY, &handle, &error));
  EXPECT_EQ(handle, filter_) << "the filter itself serves thumbnail reads";

  std::string thumbnail(1 << 16, '\0');
  long n = fs.readFileAtPath("/Photos/garden.png", handle, thumbnail.data(), thumbnail.size(), 0, &error);
  ASSERT_GT(n, 8);
  thumbnail.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(thumbnail.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_NE(thumbnail, service_->getFile(kDemoUser, "/Photos/garden.png").value_or(""))
      << "the thumbnail, not the image";
  char byte;
  EXPECT_EQ(fs.readFileAtPath("/Photos/garden.png", handle, &byte, 1, static_cast<off_t>(thumbnail.size()), &error),
            0)
      << "past the thumbnail's end";
  EXPECT_EQ(requests("GET download/file.json"), 0);

  QBFileHandlePtr refused;
  error = nullptr;
  EXPECT_FALSE(fs.openFileAtPath("/Documents/readme.txt", O_RDONLY, &refused, &error));
  EXPECT_EQ(posixCodeOf(error), EACCES);
}

TEST_F(DriveFSService, OtherSystemServicesAreRefusedWithoutAskingTheService) {
  QBDriveFS fs = driveFor(QBCallingProcessSystemService);
  service_->resetStats();
  for (const char* path : {"/Photos/garden.png", "/Documents/readme.txt"}) {
    QBFileHandlePtr handle;
    ErrorPtr error;
    EXPECT_FALSE(fs.openFileAtPath(path, O_RDONLY, &handle, &error)) << path;
    EXPECT_EQ(posixCodeOf(error), EACCES) << path;
    EXPECT_FALSE(handle) << path;
  }
  EXPECT_EQ(allRequests(), 0);
}

TEST_F(DriveFSService, AttributesOfTheRootMissingNamesAndTheVolume) {
  QBDriveFS fs = driveFor(QBCallingProcessOrdinary);
  ErrorPtr error;
  auto root = fs.attributesOfItemAtPath("/", nullptr, &error);
  ASSERT_TRUE(root);
  auto listing = content().listFolderAt("/", nullptr);
  ASSERT_TRUE(listing && listing->updateTime);
  EXPECT_EQ(root->type, QBFileType::directory);
  EXPECT_EQ(root->modificationDate, static_cast<double>(*listing->updateTime));
  EXPECT_EQ(root->creationDate, static_cast<double>(*listing->updateTime));

  struct Case {
    const char* path;
    int expected;
  } missing[] = {{"/Documents/missing.txt", ENOENT}, {"/Missing/file.txt", ENOENT}};
  for (const auto& c : missing) {
    error = nullptr;
    EXPECT_FALSE(fs.attributesOfItemAtPath(c.path, nullptr, &error)) << c.path;
    EXPECT_EQ(posixCodeOf(error), c.expected) << c.path;
  }

  // The plan's maximum counts mebibytes, the used storage bytes.
  auto info = content().userInfoWithError(nullptr);
  ASSERT_TRUE(info && info->storageMax && info->storageUsed);
  auto volume = fs.attributesOfFileSystemForPath("/", &error);
  ASSERT_TRUE(volume);
  EXPECT_EQ(volume->totalSize, static_cast<std::uint64_t>(*info->storageMax) * 1048576);
  EXPECT_EQ(volume->freeSize, volume->totalSize - static_cast<std::uint64_t>(*info->storageUsed));
  EXPECT_GT(*info->storageUsed, 0) << "the demo account holds files";
}

TEST_F(DriveFSService, WriteOpensAreNotServed) {
  QBDriveFS fs = driveFor(QBCallingProcessOrdinary);
  for (int mode : {O_WRONLY, O_RDWR, O_WRONLY | O_TRUNC}) {
    QBFileHandlePtr handle;
    ErrorPtr error;
    EXPECT_FALSE(fs.openFileAtPath("/Documents/readme.txt", mode, &handle, &error)) << mode;
    EXPECT_EQ(posixCodeOf(error), ENOSYS) << mode;
  }
}

}  // namespace
}  // namespace greyfox::test
