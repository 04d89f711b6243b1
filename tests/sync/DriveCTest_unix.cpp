#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>

#include "sync/DriveC.h"

namespace kv::test {
namespace {

// Drive C: is where the user who runs the bridge may write: the working directory, beside
// terminal.cfg, unless it is named; "/" is the administrator's.
TEST(DriveC, IsTheWorkingDirectoryUnlessNamed) {
    QTemporaryDir dir;
    const std::filesystem::path work = dir.path().toStdString();
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(work);
    const char* named = std::getenv("KVBRIDGE_DRIVE_C");
    const std::string saved = named ? named : "";
    ::unsetenv("KVBRIDGE_DRIVE_C");
    EXPECT_EQ(driveCPath("c:\\apache\\lastid"),
              std::filesystem::current_path() / "apache" / "lastid");
    ::setenv("KVBRIDGE_DRIVE_C", "/srv/kordavo", 1);
    EXPECT_EQ(driveCPath("C:\\zamestnanci"), std::filesystem::path("/srv/kordavo/zamestnanci"));
    if (named)
        ::setenv("KVBRIDGE_DRIVE_C", saved.c_str(), 1);
    else
        ::unsetenv("KVBRIDGE_DRIVE_C");
    std::filesystem::current_path(before);
}

}  // namespace
}  // namespace kv::test
