// Names inside archives: wildcard matching, name keys, and lookups through directories (case of 'a'..'z' only,
// double-byte characters kept whole, ".." and missing directories) on archives built in memory.
#include "file_test_support.h"

#include "tools/qva_writer.h"

namespace
{

class ArchiveNameTest : public FileTest
{
};

TEST_F(ArchiveNameTest, WildcardsMatchWithoutBacktracking)
{
    const struct {
        const char *pattern, *name;
        int charSet, expected;
    } cases[] = {
        {"*.PNG", "A.PNG", 1, 1},
        {"*A.PNG", "BANANA.PNG", 1, 0}, // the star stops at the first A
        {"*A.PNG", "XA.PNG", 1, 1},
        {"*", "ANYTHING", 1, 1},
        {"**", "", 1, 1},
        {"*", ".", 1, 1},
        {"A?C", "ABC", 1, 1},
        {"A?C", "AC", 1, 0},
        {"A?", "A", 1, 0},
        {"ABC", "ABCD", 1, 0},
        {"ABCD", "ABC", 1, 0},
        {"*.P?G", "X.PNG", 1, 1},
        {"*?", "AB", 1, 0}, // a star before '?' takes nothing
        {"*?B", "AB", 1, 1},
        {"*.", "A", 1, 0},
        {"\x83\x41*", "\x83\x41XYZ", 1, 1},
        {"\x83\x41", "\x83\x42", 1, 0},      // both bytes of a double-byte character must match
        {"*\x5C.TXT", "\x95\x5C.TXT", 1, 0}, // 0x5C as a trail byte is not the pattern's 0x5C
        {"*\x95\x5C.TXT", "A\x95\x5C.TXT", 1, 1},
        {"?\x5C", "\x95\x5C", 1, 1}, // '?' takes one byte
        {"*B", "\xB0\x42", 2, 0},    // 0xB0 leads in Hangeul: the B is a trail byte
        {"*B", "\xB0\x42", 1, 1},    // but is a single-byte katakana in Shift-JIS
    };
    for (const auto &c : cases) {
        EXPECT_EQ(MatchArchivePattern(c.pattern, c.name, c.charSet), c.expected) << c.pattern << " / " << c.name;
    }
}

TEST_F(ArchiveNameTest, NameKeysPadUpperCaseAndRefuseLongNames)
{
    const struct {
        std::string name;
        int charSet;
        int result;
        const char *upper;
        uint16_t units;
        uint32_t length;
    } cases[] = {
        {"a.png", 1, 0, "A.PNG", 2, 5},
        {"abc", 1, 0, "ABC", 1, 3},
        {"abcd", 1, 0, "ABCD", 2, 4},
        {"dir\\file", 1, 0, "DIR", 1, 3},
        {"dir/file", 1, 0, "DIR", 1, 3},
        {"\x95\x5Cx\\y", 1, 0, "\x95\x5CX", 1, 3}, // the trail byte 0x5C is no separator
        {"\x83\x61z", 1, 0, "\x83\x61Z", 1, 3},    // nor is a trail byte 'a' upper-cased
        {std::string(1023, 'q'), 1, 0, NULL, 256, 1023},
        {std::string(1024, 'q'), 1, -1, NULL, 0, 0},
        {std::string(5000, 'q'), 1, -1, NULL, 0, 0},
    };
    for (const auto &c : cases) {
        ArchiveNameKey key;
        ASSERT_EQ(MakeArchiveNameKey(c.name.c_str(), c.charSet, &key), c.result) << c.name.size();
        if (c.result != 0) {
            continue;
        }
        EXPECT_EQ(key.units, c.units);
        EXPECT_EQ(key.length, c.length);
        uint32_t sum = 0;
        for (uint32_t i = 0; i < key.units * 4u; i++) {
            sum += key.name[i];
            if (i >= key.length) {
                EXPECT_EQ(key.name[i], 0) << "padding";
            }
        }
        EXPECT_EQ(key.checkSum, (uint16_t)sum);
        if (c.upper != NULL) {
            EXPECT_EQ(memcmp(key.name, c.upper, key.length), 0) << c.upper;
        }
    }
}

// An archive with nested directories and Shift-JIS names, opened from memory.
class ArchiveLookupTest : public FileTest
{
  protected:
    void SetUp() override
    {
        FileTest::SetUp();
        std::vector<QvaWriterEntry> entries;
        const char *names[] = {"a.png",           "IMG\\B.PNG",   "IMG\\SUB\\C.DAT", "IMG\\SUB\\deeper\\D.TXT",
                               "\x95\x5C\\E.TXT", "\x83\x41.TXT", "SND\\B.PNG",      "IMG\\SUB\\X\\B.PNG"};
        for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); i++) {
            QvaWriterEntry entry;
            entry.path = names[i];
            entry.data = MakeTestBytes((uint32_t)i, 10 + i, 1);
            entries.push_back(entry);
        }
        QvaWriterOptions options;
        std::string error;
        ASSERT_TRUE(WriteQvaArchive(entries, options, &image, &error)) << error;
        original = image;
        memset(&record, 0, sizeof(record));
        ASSERT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), NULL), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(CloseArchive(&record), 0);
        EXPECT_EQ(image, original) << "the image is handed back as it was given";
        FileTest::TearDown();
    }
    // The size of the entry the path finds, or -1.
    int Lookup(const char *path)
    {
        const uint8_t *entry = FindArchiveFileEntry(path, &record.directory);
        return entry != NULL ? (int)ReadArchiveU32(entry + ARCHIVE_ENTRY_SIZE) : -1;
    }
    std::vector<uint8_t> image, original;
    ArchiveRecord record;
};

TEST_F(ArchiveLookupTest, PathsFindTheirEntries)
{
    const struct {
        const char *path;
        int size;
    } cases[] = {
        {"a.png", 10},
        {"A.PNG", 10},
        {"A.pnG", 10},
        {"img\\b.png", 11},
        {"IMG/SUB/C.DAT", 12},
        {"\\IMG\\SUB\\deeper\\d.txt", 13},
        {"IMG\\SUB\\..\\B.PNG", 11},
        {"IMG\\.\\SUB\\\\C.DAT", 12},
        {"\x95\x5C\\E.TXT", 14},
        {"\x83\x41.TXT", 15},
        {"\x83\x61.TXT", -1}, // differs in a double-byte character's trail byte
        {"SND\\B.PNG", 16},
        {"IMG\\SUB\\X\\B.PNG", 17},
        {"IMG", -1}, // a directory is no file
        {"IMG\\SUB", -1},
        {"IMG\\", -1},
        {"", -1},
        {"..\\A.PNG", -1},             // ".." at the root fails
        {"IMG\\NOPE\\B.PNG", -1},      // a missing middle directory fails the lookup
        {"IMG\\SUB\\NOPE\\C.DAT", -1}, // instead of finding C.DAT in the deepest directory reached
        {"NOPE\\A.PNG", -1},
        {"A.PNG\\X", -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Lookup(c.path), c.size) << c.path;
    }
    std::string longName(3000, 'z');
    EXPECT_EQ(Lookup(longName.c_str()), -1);
    EXPECT_EQ(Lookup(("IMG\\" + longName + "\\B.PNG").c_str()), -1);
}

TEST_F(ArchiveLookupTest, ChangingDirectoriesAndRestoring)
{
    ArchiveDirectory *d = &record.directory;
    ArchiveNameKey failed;
    EXPECT_EQ(ChangeArchiveDir(d, "..", 1, NULL), -1);
    EXPECT_EQ(ChangeArchiveDir(d, "IMG\\SUB", 1, NULL), 0);
    uint32_t sub = d->currentDirectory;
    EXPECT_NE(sub, 0u);
    EXPECT_EQ(Lookup("C.DAT"), 12) << "lookups start at the current directory";
    EXPECT_EQ(ChangeArchiveDir(d, ".", 1, NULL), 0);
    EXPECT_EQ(d->currentDirectory, sub);
    EXPECT_EQ(ChangeArchiveDir(d, "deeper\\missing", 1, &failed), -1);
    EXPECT_EQ(d->currentDirectory, sub) << "restored";
    EXPECT_EQ(memcmp(failed.name, "MISSING", 7), 0) << "the failed component's key";
    EXPECT_EQ(ChangeArchiveDir(d, "deeper\\missing", 0, NULL), -1);
    EXPECT_NE(d->currentDirectory, sub) << "left where it stopped";
    EXPECT_EQ(ChangeArchiveDir(d, "..", 1, NULL), 0);
    EXPECT_EQ(d->currentDirectory, sub);
    EXPECT_EQ(ChangeArchiveDir(d, "/", 1, NULL), 0);
    EXPECT_EQ(d->currentDirectory, 0u);
}

} // namespace

namespace
{

// Lead bytes inside an archive follow the archive's own code page (version 4), or the default set below version
// 4: 0xB0 leads a character in Hangeul, Big5 and GB2312, so a trail 'a' after it keeps its case there, while in
// Shift-JIS 0xB0 is a single-byte character and the 'a' is upper-cased like any other.
TEST_F(FileTest, NamesFollowTheArchivesOwnCodePage)
{
    const struct {
        int version;
        uint32_t codePage;
        const char *lookup;
        bool found;
    } cases[] = {
        {4, 949, "\xB0\x61.txt", true},  {4, 949, "\xB0\x41.TXT", false}, {4, 950, "\xB0\x41.TXT", false},
        {4, 936, "\xB0\x41.TXT", false}, {4, 936, "\xB0\x61.TXT", true},  {4, 932, "\xB0\x41.TXT", true},
        {4, 1252, "\xB0\x41.TXT", true}, {2, 949, "\xB0\x41.TXT", true},  {1, 0, "\xB0\x61.TXT", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "version " << c.version << " code page " << c.codePage << " " << c.lookup);
        QvaWriterEntry entry;
        entry.path = "\xB0\x61.TXT";
        entry.data = {1, 2, 3};
        QvaWriterOptions options;
        options.version = c.version;
        options.codePage = c.codePage;
        std::vector<uint8_t> image;
        std::string error;
        ASSERT_TRUE(WriteQvaArchive({entry}, options, &image, &error)) << error;
        ArchiveRecord record;
        ClearArchive(&record);
        ASSERT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), NULL), 0);
        EXPECT_EQ(record.header.codePage, c.version >= 4 ? c.codePage : 0u);
        EXPECT_EQ(FindArchiveFileEntry(c.lookup, &record.directory) != NULL, c.found);
        CloseArchive(&record);
    }
}

// ".." fails at the root even in an archive whose root entry names a parent.
TEST_F(FileTest, TheRootHasNoParentWhateverItsEntrySays)
{
    QvaWriterEntry entry;
    entry.path = "IMG\\X.TXT";
    entry.data = {9};
    QvaWriterOptions options;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(WriteQvaArchive({entry}, options, &image, &error)) << error;
    uint8_t key[12];
    MakeArchiveKey(NULL, key);
    ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
    uint32_t rootEntry = ReadArchiveU32(&image[12]) + ReadArchiveU32(&image[20]);
    ASSERT_EQ(ReadArchiveU32(&image[rootEntry + ARCHIVE_DIRECTORY_PARENT]), ARCHIVE_NO_PARENT);
    WriteArchiveU32(&image[rootEntry + ARCHIVE_DIRECTORY_PARENT], ARCHIVE_DIRECTORY_ENTRY_SIZE); // IMG's entry
    ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
    ArchiveRecord record;
    ClearArchive(&record);
    ASSERT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), NULL), 0);
    const struct {
        const char *path;
        int result;
    } cases[] = {{"..", -1}, {"..\\IMG", -1}, {"IMG\\..", 0}, {"IMG\\..\\..", -1}};
    for (const auto &c : cases) {
        record.directory.currentDirectory = 0;
        EXPECT_EQ(ChangeArchiveDir(&record.directory, c.path, 1, NULL), c.result) << c.path;
        EXPECT_EQ(record.directory.currentDirectory, 0u) << c.path;
    }
    EXPECT_EQ(FindArchiveFileEntry("..\\X.TXT", &record.directory), nullptr);
    EXPECT_NE(FindArchiveFileEntry("IMG\\X.TXT", &record.directory), nullptr);
    CloseArchive(&record);
}

} // namespace
