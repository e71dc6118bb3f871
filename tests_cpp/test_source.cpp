// Sources: empty files are owned, others mapped; a mapping survives its file
// being truncated underneath it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "file/source.hpp"

using namespace tarvex;

namespace {
std::string temp_file(const std::string& content) {
    char name[] = "/tmp/tarvex_src_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    return name;
}
}  // namespace

TEST(Source, EmptyFileIsOwnedAndOneByteIsMapped) {
    std::string e = temp_file("");
    auto r = Source::open(e);
    ASSERT_TRUE(std::holds_alternative<SourcePtr>(r));
    EXPECT_TRUE(std::get<SourcePtr>(r)->is_owned());
    EXPECT_EQ(std::get<SourcePtr>(r)->size(), 0u);
    std::string one = temp_file("x");
    auto r1 = Source::open(one);
    ASSERT_TRUE(std::holds_alternative<SourcePtr>(r1));
    EXPECT_TRUE(std::get<SourcePtr>(r1)->is_mapped());
    EXPECT_EQ(std::get<SourcePtr>(r1)->bytes(), "x");
    unlink(e.c_str());
    unlink(one.c_str());
}

TEST(Source, MissingFileAndDirectoryFailAtTheirStage) {
    auto r = Source::open("/nonexistent/tarvex/file.k");
    ASSERT_TRUE(std::holds_alternative<OpenFailure>(r));
    EXPECT_EQ(std::get<OpenFailure>(r).stage, OpenFailure::Stage::Open);
    EXPECT_EQ(std::get<OpenFailure>(r).err, ENOENT);
    auto d = Source::open("/tmp");
    ASSERT_TRUE(std::holds_alternative<OpenFailure>(d));
    EXPECT_EQ(std::get<OpenFailure>(d).stage, OpenFailure::Stage::Map);
}

TEST(Source, SharedReadsTheInnerBytes) {
    std::string f = temp_file("*KEYWORD\n");
    auto inner = std::get<SourcePtr>(Source::open(f));
    Source shared(inner);
    EXPECT_EQ(shared.bytes(), "*KEYWORD\n");
    EXPECT_TRUE(shared.is_mapped());
    unlink(f.c_str());
}

TEST(Source, TruncatedWhileMappedReadsZerosInsteadOfCrashing) {
    std::string content(3 * 4096 + 100, 'a');
    std::string f = temp_file(content);
    auto src = std::get<SourcePtr>(Source::open(f));
    ASSERT_EQ(src->size(), content.size());
    EXPECT_FALSE(src->truncated_while_mapped());
    ASSERT_EQ(truncate(f.c_str(), 10), 0);
    std::string_view b = src->bytes();
    std::size_t zeros = 0, as = 0;
    for (char c : b) {
        if (c == 0) ++zeros;
        if (c == 'a') ++as;
    }
    EXPECT_EQ(as + zeros, b.size());
    EXPECT_GE(zeros, 2u * 4096u);
    EXPECT_TRUE(src->truncated_while_mapped());
    unlink(f.c_str());
}
