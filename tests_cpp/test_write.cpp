// Whole-file reads, and writes of one or several files through temporary files.
#include <gtest/gtest.h>

#include "tmp_dir.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "file/read.hpp"
#include "file/write.hpp"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {


std::string read(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

TEST(WriteFiles, AllFilesReplaceTheirTargets) {
    TmpDir t;
    ASSERT_TRUE(write_file(t.at("a"), "old").ok());
    ASSERT_TRUE(write_files({t.at("a"), t.at("b")}, {"first", "second"}).ok());
    EXPECT_EQ(read(t.at("a")), "first");
    EXPECT_EQ(read(t.at("b")), "second");
    EXPECT_EQ(t.names(), (std::vector<std::string>{"a", "b"}));
}

TEST(WriteFiles, ADirectoryInTheWayChangesNothing) {
    TmpDir t;
    ASSERT_TRUE(write_file(t.at("a"), "old").ok());
    fs::create_directory(t.dir / "b");
    Status s = write_files({t.at("a"), t.at("b")}, {"first", "second"});
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().os_errno, EISDIR);
    EXPECT_EQ(s.error().message, "Is a directory (os error 21)");
    EXPECT_EQ(read(t.at("a")), "old");
    EXPECT_EQ(t.names(), (std::vector<std::string>{"a", "b"}));  // no temporary file left
}

TEST(WriteFiles, KeepsThePermissionBitsOfTheReplacedFile) {
    TmpDir t;
    ASSERT_TRUE(write_file(t.at("a"), "old").ok());
    fs::permissions(t.at("a"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(write_file(t.at("a"), "new").ok());
    EXPECT_EQ(fs::status(t.at("a")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(read(t.at("a")), "new");
}

TEST(ReadFile, WholeContentOrTheSystemError) {
    TmpDir t;
    std::string big(200000, 'x');
    big[123456] = '\0';
    ASSERT_TRUE(write_file(t.at("a"), big).ok());
    auto r = read_file(t.at("a"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), big);
    auto missing = read_file(t.at("missing"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().os_errno, ENOENT);
    EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)");
}
