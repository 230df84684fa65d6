// The system's files behind combine, on real files: POSIX natively, Win32 under wine.
#include "CombineFileApi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Fresh(const char* name) {
    const std::string path = ::testing::TempDir() + name;
    std::remove(path.c_str());
    return path;
}

void Make(const std::string& path, const char* text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fputs(text, file);
    std::fclose(file);
}

TEST(SystemCombineFileApi, SameFile) {
    CombineFileApi& files = SystemCombineFileApi();
    const std::string a = Fresh("combine-same-a");
    const std::string b = Fresh("combine-same-b");
    Make(a, "same text");
    Make(b, "same text");
    const std::string dir = ::testing::TempDir();
    struct Case {
        std::string first, second;
        bool same;
    };
    const std::vector<Case> cases = {
        {a, a, true},
        {a, dir + "./combine-same-a", true},
        {a, b, false},
        {a, Fresh("combine-same-absent"), false},
        {Fresh("combine-same-absent"), a, false},
    };
    for (const Case& c : cases) EXPECT_EQ(files.SameFile(c.first, c.second), c.same) << c.first << " " << c.second;
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST(SystemCombineFileApi, CreatesOnlyNewFiles) {
    CombineFileApi& files = SystemCombineFileApi();
    const std::string path = Fresh("combine-create");
    int descriptor = -1;
    std::string error;
    ASSERT_EQ(files.CreateNew(path, descriptor, error), CombineFileApi::Created::Ok);
#ifndef _WIN32
    {
        // Nobody but the owner reads the copy before it is complete.
        std::FILE* fresh = std::fopen(path.c_str(), "rb");
        ASSERT_NE(fresh, nullptr);
        CombineFileApi::Facts facts{false, 1, 0};
        EXPECT_EQ(files.Describe(fresh, facts), "");
        std::fclose(fresh);
        EXPECT_EQ(facts.mode, 0600u);
        EXPECT_EQ(facts.size, 0u);
    }
#endif
    std::size_t written = 0;
    EXPECT_EQ(files.Write(descriptor, reinterpret_cast<const unsigned char*>("abc"), 3, written), "");
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(files.SetMode(descriptor, 0644), "");
    EXPECT_EQ(files.Close(descriptor), "");

    int again = -1;
    EXPECT_EQ(files.CreateNew(path, again, error), CombineFileApi::Created::NameTaken);
    EXPECT_EQ(files.CreateNew(Fresh("combine-absent-dir/file"), again, error), CombineFileApi::Created::Failed);
    EXPECT_NE(error, "");

    // The new file replaces an existing one whole.
    const std::string target = Fresh("combine-target");
    Make(target, "the old and longer content");
    EXPECT_EQ(files.Replace(path, target), "");
    std::FILE* file = std::fopen(target.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char text[32] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 3u);
    std::fclose(file);
    EXPECT_STREQ(text, "abc");
    EXPECT_FALSE(files.SameFile(path, target));  // the temporary name is gone

    file = std::fopen(target.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    CombineFileApi::Facts facts{false, 0, 0};
    EXPECT_EQ(files.Describe(file, facts), "");
    std::fclose(file);
    EXPECT_TRUE(facts.regular);
    EXPECT_EQ(facts.size, 3u);
    files.Remove(target);
    EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
}

}  // namespace
