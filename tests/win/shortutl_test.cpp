// ShortUtl: path splitting, upper-casing, time stamps, attributes, existence
// tests and folder chains, against the real (Wine) file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ShortUtl.h"
#include "TestSupport.h"

using voztest::RemoveTree;

namespace {

// A fresh folder under the temp path, removed with everything in it.
class TempFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = temp_.path;
        ASSERT_TRUE(voztest::FolderExists(root_)) << root_;
    }

    void MakeFile(const std::string& path) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
        DWORD done = 0;
        WriteFile(h, "x", 1, &done, nullptr);
        CloseHandle(h);
    }

    voztest::TTempFolder temp_{"shortutl"};
    std::string root_;
};

bool IsFolder(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

uint64_t LastWrite(HANDLE h) {
    FILETIME c, a, w;
    EXPECT_TRUE(GetFileTime(h, &c, &a, &w));
    return (static_cast<uint64_t>(w.dwHighDateTime) << 32) | w.dwLowDateTime;
}

constexpr uint32_t DosStamp(int year, int month, int day, int hour, int minute, int second) {
    return (static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day) << 16) |
           static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
}

}  // namespace

struct TSplitCase {
    const char* path;
    const char* pathPart;
    const char* namePart;
    const char* extPart;
    const char* dirPart;
};

TEST(ShortUtlPaths, SplitsAsDocumented) {
    const TSplitCase cases[] = {
        {"C:\\a\\b.txt", "C:\\a\\", "b.txt", ".txt", "C:\\a"},
        {"C:\\b.txt", "C:\\", "b.txt", ".txt", "C:"},
        {"C:\\a\\\\b.txt", "C:\\a\\\\", "b.txt", ".txt", "C:\\a"},
        {"C:\\\\\\b", "C:\\\\\\", "b", "", "C:"},
        {"C:\\dir.x\\file", "C:\\dir.x\\", "file", "", "C:\\dir.x"},
        {"tempfile.$$$", "", "tempfile.$$$", ".$$$", ""},
        {"name", "", "name", "", ""},
        {"file.", "", "file.", ".", ""},
        {"a.tar.gz", "", "a.tar.gz", ".gz", ""},
        {"C:\\a\\", "C:\\a\\", "", "", "C:\\a"},
        {"C:", "C:", "", "", "C"},
        {"C:x.y", "C:", "x.y", ".y", "C"},
        {"\\\\srv\\share\\f.x", "\\\\srv\\share\\", "f.x", ".x", "\\\\srv\\share"},
        {"", "", "", "", ""},
        {"\xE4\\\xE9.\xFC", "\xE4\\", "\xE9.\xFC", ".\xFC", "\xE4"},
    };
    for (const TSplitCase& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FilePathPart(c.path), c.pathPart);
        EXPECT_EQ(FileNamePart(c.path), c.namePart);
        EXPECT_EQ(FileExtPart(c.path), c.extPart);
        EXPECT_EQ(FileDirPart(c.path), c.dirPart);
    }
}

TEST(ShortUtlPaths, LastDelimiterPosCountsFromOne) {
    EXPECT_EQ(LastDelimiterPos("\\:", "C:\\a\\b"), 5u);
    EXPECT_EQ(LastDelimiterPos("\\:", "C:b"), 2u);
    EXPECT_EQ(LastDelimiterPos(".\\:", ".x"), 1u);
    EXPECT_EQ(LastDelimiterPos("\\:", "abc"), 0u);
    EXPECT_EQ(LastDelimiterPos("", "a\\b"), 0u);
    EXPECT_EQ(LastDelimiterPos("\\", ""), 0u);
}

TEST(ShortUtlPaths, PathFitsAnsiCallAtTheLimits) {
    const struct {
        std::string path;
        bool fits;
    } cases[] = {
        {"C:\\a.txt", true},
        {"a", true},
        {std::string(MAX_PATH - 1, 'a'), true},
        {std::string(MAX_PATH, 'a'), false},
        {"", false},
        {std::string("C:\\a\0b", 6), false},
        {std::string("\0", 1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.size());
        EXPECT_EQ(PathFitsAnsiCall(c.path), c.fits);
    }
}

TEST(ShortUtlStrings, UpperCaseAsciiTouchesOnlyAsciiLetters) {
    EXPECT_EQ(UpperCaseAscii("<vozip file begins here>"), "<VOZIP FILE BEGINS HERE>");
    EXPECT_EQ(UpperCaseAscii("azAZ`{@[09"), "AZAZ`{@[09");
    // Accented letters of the code page and every other high byte stay.
    const std::string high = "\xE4\xF6\xFC\xE0\xE9\xFF\x80\x9A\x7F";
    EXPECT_EQ(UpperCaseAscii(high), high);
    const std::string withZero("a\0b", 3);
    EXPECT_EQ(UpperCaseAscii(withZero), std::string("A\0B", 3));
    EXPECT_EQ(UpperCaseAscii(""), "");
}

TEST(ShortUtlStrings, PCharLength) {
    EXPECT_EQ(PCharLength("abc"), 3u);
    EXPECT_EQ(PCharLength(""), 0u);
    EXPECT_EQ(PCharLength("ab\0cd"), 2u);
    EXPECT_EQ(PCharLength(nullptr), 0u);
}

using ShortUtlFiles = TempFolderTest;

TEST_F(ShortUtlFiles, PresenceOfFilesAndFolders) {
    const std::string file = root_ + "\\f.txt";
    const std::string folder = root_ + "\\sub";
    MakeFile(file);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));

    EXPECT_TRUE(FileIsPresent(file));
    EXPECT_FALSE(FileIsPresent(folder));
    EXPECT_FALSE(FileIsPresent(root_ + "\\missing.txt"));
    EXPECT_FALSE(FileIsPresent(root_ + "\\*"));  // a pattern is no file, even if it matches one
    EXPECT_FALSE(FileIsPresent(root_ + "\\f.tx?"));
    EXPECT_FALSE(FileIsPresent(""));
    EXPECT_FALSE(FileIsPresent(file + std::string("\0zzz", 4)));
    EXPECT_FALSE(FileIsPresent(root_ + "\\" + std::string(300, 'a')));

    EXPECT_TRUE(FolderPresent(folder));
    EXPECT_TRUE(FolderPresent(root_));
    EXPECT_FALSE(FolderPresent(file));
    EXPECT_FALSE(FolderPresent(root_ + "\\missing"));
    EXPECT_FALSE(FolderPresent(root_ + "\\" + std::string(300, 'a')));
}

TEST_F(ShortUtlFiles, DosTimeSetAndReadBack) {
    const std::string file = root_ + "\\stamped.bin";
    MakeFile(file);
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    const uint32_t stamp = DosStamp(2003, 7, 14, 16, 42, 58);
    EXPECT_EQ(SetFileDosTime(h, stamp), 0u);
    // Exactly the local-to-UTC conversion of the stamp, as last-write time only.
    FILETIME local, utc;
    ASSERT_TRUE(DosDateTimeToFileTime(stamp >> 16, stamp & 0xFFFF, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    // (Wine derives the creation time from the last-write time where the file
    // system keeps no birth time, so "creation untouched" is not observable here.)
    const uint64_t written = LastWrite(h);
    EXPECT_EQ(written, (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime);

    // Not a DOS date and time: an error code, and the file keeps its time.
    const uint32_t invalid[] = {
        DosStamp(2003, 13, 1, 0, 0, 0),   // month 13
        DosStamp(2003, 0, 1, 0, 0, 0),    // month 0
        DosStamp(2003, 2, 30, 0, 0, 0),   // 30 February
        DosStamp(2003, 7, 0, 0, 0, 0),    // day 0
        DosStamp(2003, 7, 14, 24, 0, 0),  // hour 24
        DosStamp(2003, 7, 14, 12, 60, 0),
        (DosStamp(2003, 7, 14, 0, 0, 0) & 0xFFFFFFE0u) | 30,  // 60 seconds
        0xFFFFFFFFu,
    };
    for (uint32_t bad : invalid) {
        SCOPED_TRACE(bad);
        EXPECT_NE(SetFileDosTime(h, bad), 0u);
        EXPECT_EQ(LastWrite(h), written);
    }
    CloseHandle(h);

    EXPECT_EQ(static_cast<uint32_t>(FileDosTime(file)), stamp);
    EXPECT_EQ(FileDosTime(root_), -1);  // a folder
    EXPECT_EQ(FileDosTime(root_ + "\\missing"), -1);
    EXPECT_NE(SetFileDosTime(INVALID_HANDLE_VALUE, stamp), 0u);
}

TEST_F(ShortUtlFiles, SetFileAttrsReturnsSystemError) {
    const std::string file = root_ + "\\attr.txt";
    MakeFile(file);
    EXPECT_EQ(SetFileAttrs(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), 0u);
    EXPECT_EQ(GetFileAttributesA(file.c_str()), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    // 0 clears everything, so a read-only file can be deleted afterwards.
    EXPECT_EQ(SetFileAttrs(file, 0), 0u);
    EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(DeleteFileA(file.c_str()));

    EXPECT_EQ(SetFileAttrs(root_ + "\\missing.txt", 0), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(SetFileAttrs(root_ + "\\" + std::string(300, 'a'), 0), 0u);
}

TEST_F(ShortUtlFiles, CreateFolderChainCreatesMissingParents) {
    CreateFolderChain(root_ + "\\a\\b\\c");
    EXPECT_TRUE(IsFolder(root_ + "\\a"));
    EXPECT_TRUE(IsFolder(root_ + "\\a\\b"));
    EXPECT_TRUE(IsFolder(root_ + "\\a\\b\\c"));

    // Trailing backslashes count as absent; existing parts are left alone.
    CreateFolderChain(root_ + "\\a\\x\\y\\\\\\");
    EXPECT_TRUE(IsFolder(root_ + "\\a\\x\\y"));

    // Relative to the current directory.
    char saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof saved, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
    CreateFolderChain("rel\\sub");
    SetCurrentDirectoryA(saved);
    EXPECT_TRUE(IsFolder(root_ + "\\rel\\sub"));

    // A file in the way: the chain stops there without harm.
    MakeFile(root_ + "\\blocker");
    CreateFolderChain(root_ + "\\blocker\\inner");
    EXPECT_FALSE(IsFolder(root_ + "\\blocker\\inner"));
    EXPECT_TRUE(FileIsPresent(root_ + "\\blocker"));
}

TEST_F(ShortUtlFiles, CreateFolderChainRefusesWhatItCannotDo) {
    // Drive roots and empty paths do nothing (and do not recurse forever).
    CreateFolderChain("C:\\");
    CreateFolderChain("C:");
    CreateFolderChain("C:\\\\\\");
    CreateFolderChain("");
    CreateFolderChain("\\\\");

    // An over-long path creates none of its parents either.
    const std::string longPath = root_ + "\\long1\\long2\\" + std::string(MAX_PATH, 'z');
    CreateFolderChain(longPath);
    EXPECT_FALSE(IsFolder(root_ + "\\long1"));
    // Many components, over-long as a whole: nothing, and no deep recursion.
    std::string deep = root_;
    while (deep.size() < 70000) deep += "\\d";
    CreateFolderChain(deep);
    EXPECT_FALSE(IsFolder(root_ + "\\d"));
    // A zero byte would name a different folder.
    CreateFolderChain(root_ + "\\zero" + std::string("\0tail", 5));
    EXPECT_FALSE(IsFolder(root_ + "\\zero"));

    // The longest path the calls take still works.
    std::string fits = root_ + "\\fit\\";
    ASSERT_LT(fits.size(), 200u);
    fits += std::string(240 - fits.size(), 'f');
    CreateFolderChain(fits);
    EXPECT_TRUE(IsFolder(fits));
}
