// The default profile, without touching /etc: the test executable's stand-ins
// for fopen and open send the default path to a scratch file.
#include <unistd.h>

#include <gtest/gtest.h>

#include "CProfile.h"
#include "CString.h"
#include "FileTestSupport.h"
#include "PlatformSeam.h"

namespace {

const char kDefaultProfile[] = "/etc/velonix/Tandel.rc";

}  // namespace

TEST(CProfileDefaultTest, TheDefaultConstructorOpensTandelRcForReadingAndWriting) {
    TempDir directory;
    MakeFile(directory.File("Tandel.rc"), "[server]\nport=8080\n");
    PlatformSeam::Redirect(kDefaultProfile, directory.File("Tandel.rc").c_str());
    CProfile profile;
    int port = 0;
    profile.GetProfile("server", "port", &port);
    EXPECT_EQ(port, 8080);
    profile.WriteProfile("server", "port", 8081);
    EXPECT_EQ(FileBytes(directory.File("Tandel.rc")), "[server]\nport=8081\n");
}

TEST(CProfileDefaultTest, WithoutItsDirectoryTheDefaultProfileIsNeitherFoundNorCreated) {
    TempDir directory;
    PlatformSeam::Redirect(kDefaultProfile, directory.File("velonix/Tandel.rc").c_str());
    CProfile profile;  // the creating open fails too: no directory is made
    CString value("stale");
    profile.GetProfile("server", "port", value);
    EXPECT_STREQ(value.GetBuffer(), "");
    profile.WriteProfile("server", "port", "1");
    EXPECT_NE(access(directory.File("velonix").c_str(), F_OK), 0);
}
