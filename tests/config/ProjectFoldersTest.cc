#include <gtest/gtest.h>

#include <filesystem>

#include "ConfigTestFiles.h"
#include "TempDir.h"
#include "config/ProjectFolders.h"
#include "support/MessageOf.h"

using FolderUtils::FolderNotFoundException;
using FolderUtils::FolderUtilsException;
using FolderUtils::RootPathException;

namespace {

class ProjectFoldersTest : public ::testing::Test {
 protected:
  std::string Root() const { return mDir.Path(); }
  TempDir mDir;
};

TEST_F(ProjectFoldersTest, TopLevelFolderIsFoundOrCreated) {
  std::string path = Root() + "/Documents/Pelox5";
  try {
    getTopLevelProjectFolder(path, false, false);
    FAIL();
  } catch (const FolderNotFoundException& e) {
    EXPECT_EQ(e.Message, "Directory not found:\n" + path +
                             "\nAnd caller specified NOT to create it if missing.");
  }
  // Asking the user gets "no": the item comes back still missing.
  EXPECT_FALSE(getTopLevelProjectFolder(path, true, true).Exists());

  FolderItem created = getTopLevelProjectFolder(path, true, false);
  EXPECT_EQ(created.NativePath(), path);
  EXPECT_TRUE(created.IsFolder());

  // An existing file is returned as it is; checkfolder then refuses it.
  WriteText(Root() + "/plain", "x");
  FolderItem file = getTopLevelProjectFolder(Root() + "/plain", false, false);
  EXPECT_EQ(file.NativePath(), Root() + "/plain");
  EXPECT_THROW(FolderUtils::checkfolder(file, false), FolderUtilsException);

  try {
    getTopLevelProjectFolder(Root() + std::string(1, '\0') + "x", true, false);
    FAIL();
  } catch (const RootPathException& e) {
    EXPECT_EQ(e.Message,
              "Invalid directory path:\n" + Root() + std::string(1, '\0') + "x\nErrorNumber:-22");
  }
  EXPECT_THROW(getTopLevelProjectFolder(Root() + "/plain/sub", true, false),
               FolderUtils::CreateFolderException);
}

TEST_F(ProjectFoldersTest, DeploymentFolderMatchesLowerCasedNameOnlyOnce) {
  MakeFolder(Root() + "/Site1");
  WriteText(Root() + "/site2", "a file, not a deployment");
  EXPECT_EQ(getDeploymentFolderByName(FolderItem(Root()), "site1").NativePath(), Root() + "/Site1");
  EXPECT_THROW(getDeploymentFolderByName(FolderItem(Root()), "Site1"), FolderNotFoundException);
  try {
    getDeploymentFolderByName(FolderItem(Root()), "site2");
    FAIL();
  } catch (const FolderNotFoundException& e) {
    EXPECT_EQ(e.Message,
              "getDeploymentFolderByName(): - target deployment folder not found. \nPath:" +
                  Root() + "\nDeployment Name:site2");
    EXPECT_EQ(e.ErrorNumber, 0);
  }

  // Two folders lowering to the same name: neither is taken, both are named.
  MakeFolder(Root() + "/SITE1");
  EXPECT_EQ(MessageOf<FolderNotFoundException>(
                [&] { getDeploymentFolderByName(FolderItem(Root()), "site1"); }),
            "getDeploymentFolderByName(): - more than one deployment folder matches. \nPath:" +
                Root() + "\nDeployment Name:site1\nFolders:SITE1, Site1");
}

TEST_F(ProjectFoldersTest, BadRootRaisesCheckfolderErrorWithContext) {
  const std::string suffix =
      ":  getAllDeploymentFolders() cant get deployments due to problems with root folder.";
  try {
    getDeploymentFolderByName(FolderItem(Root() + "/missing"), "site1");
    FAIL();
  } catch (const FolderUtilsException& e) {
    EXPECT_EQ(e.Message, "chkfolder(): - target folder does not exist." + suffix);
  }
  try {
    getDeploymentFolderByName(std::nullopt, "site1");
    FAIL();
  } catch (const FolderUtilsException& e) {
    EXPECT_EQ(e.Message, "chkfolder(): - target folder object is nil." + suffix);
  }
}

TEST_F(ProjectFoldersTest, DeploymentConfigIsNoneForEachMissingLevel) {
  std::string site = Root() + "/site1";
  EXPECT_FALSE(getDeploymentConfig(std::nullopt, "deployment.cfg"));
  EXPECT_FALSE(getDeploymentConfig(FolderItem(site), "deployment.cfg"));
  MakeFolder(site);
  EXPECT_FALSE(getDeploymentConfig(FolderItem(site), "deployment.cfg"));
  WriteText(site + "/cfg", "a file where the folder should be");
  EXPECT_FALSE(getDeploymentConfig(FolderItem(site), "deployment.cfg"));
  std::filesystem::remove(site + "/cfg");
  MakeFolder(site + "/cfg");
  EXPECT_FALSE(getDeploymentConfig(FolderItem(site), "deployment.cfg"));
  EXPECT_FALSE(getDeploymentConfig(FolderItem(site), "../cfg"));

  WriteText(site + "/cfg/deployment.cfg", "{\"Name\": \"site1\", \"Baud\": 9600}");
  std::optional<Configuration> config = getDeploymentConfig(FolderItem(site), "deployment.cfg");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->GetText("Name"), "site1");
  EXPECT_EQ(config->GetText("Baud"), "9600");
  // The configuration is bound to the "cfg" folder: Save writes back there.
  config->Set("Status", "Active");
  ASSERT_TRUE(config->Save());
  EXPECT_NE(ReadFile(site + "/cfg/deployment.cfg").find("\"Status\": \"Active\""),
            std::string::npos);

  WriteText(site + "/cfg/deployment.cfg", "{\"Name\": ");
  EXPECT_THROW(getDeploymentConfig(FolderItem(site), "deployment.cfg"),
               ConfigurationBadFormatException);
}

}  // namespace
