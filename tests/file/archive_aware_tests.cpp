// The archive-aware file set: names resolve into archives first (even over files on disk), fall back to disk
// when no archive stands for a directory, fail with the entry message when the archive lacks the file; wildcard
// searches list archive entries; the open-file limit; invalid handles; full paths; the resolve cache.
#include "archive_test_data.h"

#include <algorithm>
#include <filesystem>

#include "font/font.h"

#include "tools/qva_writer.h"
#include "core/core_test_hooks.h"

namespace
{

const char *const kNotInArchive = "ＱＶＡファイルの中に指定のファイルは見つかりませんでした";
const char *const kTooManyFiles = "同時に開けるファイルの数が限界を超えました";

class ArchiveAwareTest : public FileTest
{
  protected:
    void SetUp() override
    {
        FileTest::SetUp();
        tree = LoadTestTree();
        ASSERT_FALSE(tree.empty());
    }
    std::map<std::string, std::vector<uint8_t>> tree;
};

TEST_F(ArchiveAwareTest, ArchivesComeFirstAndDiskServesTheRest)
{
    const struct {
        const char *path;
        const char *treeFile; // what must be read, or null for a failed open
        const char *message;  // a line the open must log, or null for none
    } cases[] = {
        {"V1STORE\\DATA\\A.PNG", "A.PNG", NULL}, // the archive, not the file on disk beside it
        {"v1store/data/img/sub/deep.dat", "IMG\\SUB\\DEEP.DAT", NULL},
        {"V1STORE\\DATA\\MISSING.PNG", NULL, kNotInArchive},
        {"V1STORE\\DATA\\IMG\\NOPE\\A.PNG", NULL, kNotInArchive},
        {"V1STORE\\DATA\\IMG", NULL, kNotInArchive}, // a directory is no file
        {"TREE\\IMG\\B.BMP", "IMG\\B.BMP", NULL},    // no archive stands for TREE: from disk
        {"TREE\\NOPE.BIN", NULL, NULL},
    };
    const struct {
        int cache, async;
    } modes[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (const auto &mode : modes) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.path) + " cache " + std::to_string(mode.cache) + " async " +
                         std::to_string(mode.async));
            size_t mark = LogSize();
            StreamRef stream = OpenFileStream(c.path, mode.cache, mode.async);
            std::string added = LogSince(mark);
            EXPECT_EQ(added.find(kNotInArchive) != std::string::npos,
                      c.message != NULL && strcmp(c.message, kNotInArchive) == 0);
            if (c.treeFile == NULL) {
                EXPECT_EQ(stream.handle, 0u);
                continue;
            }
            ASSERT_NE(stream.handle, 0u);
            ASSERT_TRUE(tree.count(c.treeFile));
            EXPECT_EQ(ReadWholeStream(stream, 3000), tree[c.treeFile]);
            EXPECT_EQ(stream.functions.close(stream.handle), 0);
        }
    }
}

// A path that no archive stands for opens from disk with the caller's flags: the cache flag shows in the cache
// allocation (made to fail once, at each allocation in turn), the asynchronous flag in a read that answers at
// once even when it cannot be served (a read-only destination). The first allocation is the open-file record.
TEST_F(ArchiveAwareTest, DiskOpensTakeTheCacheAndAsynchronousFlags)
{
    const char *const kRecordMessage = "ファイルの情報を格納するメモリの確保に失敗しました";
    const char *const kCacheMessage = "ファイル読み込みキャッシュ用メモリの確保に失敗しました";
    void *readOnly = VirtualAlloc(NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    ASSERT_NE(readOnly, nullptr);
    const struct {
        int cache, async;
        size_t readOnlyResult;
    } cases[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 100}, {1, 1, 100}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "cache " << c.cache << " async " << c.async);
        // The failure countdown is the whole process's: an allocation on another thread can take the failure meant
        // for the open, so a sweep that meets one is tried again (a clean one must come within a few).
        bool clean = false;
        for (int round = 0; round < 5 && !clean; round++) {
            bool recordMessageRight = true, cacheMessage = false;
            for (int failAt = 0; failAt < 60; failAt++) {
                size_t mark = LogSize();
                SetAllocationFailureCountdown(failAt);
                FileHandle h = ArchiveAwareOpen("TREE\\IMG\\B.BMP", c.cache, 0, c.async);
                SetAllocationFailureCountdown(-1);
                std::string added = LogSince(mark);
                recordMessageRight &= (added.find(kRecordMessage) != std::string::npos) == (failAt == 0);
                cacheMessage |= added.find(kCacheMessage) != std::string::npos;
                if (h != 0) {
                    ArchiveAwareClose(h);
                }
            }
            clean = recordMessageRight && cacheMessage == (c.cache != 0);
        }
        EXPECT_TRUE(clean) << "the record message at the first allocation only, the cache message when caching";
        FileHandle h = ArchiveAwareOpen("TREE\\IMG\\B.BMP", c.cache, 0, c.async);
        ASSERT_NE(h, 0u);
        EXPECT_EQ(ArchiveAwareRead(readOnly, 1, 100, h), c.readOnlyResult);
        while (ArchiveAwareIdleCheck(h) == 0) {
            Sleep(0);
        }
        EXPECT_EQ(ArchiveAwareTell(h), 0) << "nothing was delivered";
        EXPECT_EQ(ArchiveAwareClose(h), 0);
    }
    VirtualFree(readOnly, 0, MEM_RELEASE);
}

// An asynchronous read answers with the element count at once and is finished by the thread: the idle check
// says 0 while it runs (seen at least once over many large reads) and the bytes are there once it says 1; the
// same for a plain file and for a stored entry read from an archive file. On a loaded machine the thread may finish
// a read before the caller looks, round after round: the rounds go on until one is seen running.
TEST_F(ArchiveAwareTest, AsynchronousReadsAnswerAtOnceAndFinishLater)
{
    ASSERT_TRUE(WriteBytesToFile("ASYNC.BIN", MakeTestBytes(31, 4 << 20, 0)));
    const struct {
        const char *path;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"ASYNC.BIN", MakeTestBytes(31, 4 << 20, 0)},
        {"V1STORE\\DATA\\IMG\\SUB\\DEEP.DAT", tree["IMG\\SUB\\DEEP.DAT"]},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        bool sawBusy = false;
        std::vector<uint8_t> got(c.expected.size());
        for (int round = 0; round < 20 || (!sawBusy && round < 1000); round++) {
            FileHandle h = ArchiveAwareOpen(c.path, 0, 0, 1);
            ASSERT_NE(h, 0u);
            std::fill(got.begin(), got.end(), 0);
            EXPECT_EQ(ArchiveAwareRead(got.data(), 4, got.size() / 4, h), got.size() / 4);
            sawBusy |= ArchiveAwareIdleCheck(h) == 0;
            while (ArchiveAwareIdleCheck(h) == 0) {
                Sleep(0);
            }
            EXPECT_EQ(got, c.expected);
            EXPECT_EQ(ArchiveAwareTell(h), (int)got.size());
            EXPECT_EQ(ArchiveAwareClose(h), 0);
        }
        EXPECT_TRUE(sawBusy) << "the read ran on the caller's thread";
    }
    DeleteFileA("ASYNC.BIN");
}

TEST_F(ArchiveAwareTest, WildcardSearchesListArchiveEntries)
{
    const struct {
        const char *pattern;
        std::vector<std::string> names; // in table order, directories marked with a trailing '\'
    } cases[] = {
        {"V4SMALLER\\DATA\\*.PNG", {"A.PNG", "BANANA.PNG"}},
        {"V4SMALLER\\DATA\\*A.PNG", {"A.PNG"}}, // no backtracking: BANANA.PNG does not match
        {"V4SMALLER\\DATA\\*", {".\\", "A.PNG", "BANANA.PNG", "EMPTY.BIN", "IMG\\", "SND\\", "readme.txt"}},
        {"V4SMALLER\\DATA\\IMG\\*", {".\\", "..\\", "A.PNG", "B.BMP", "SUB\\"}},
        {"v4smaller\\data\\img\\sub\\*.dat", {"DEEP.DAT", "NOISE.DAT"}},
        {"V4SMALLER\\DATA\\SND\\?NE.WAV", {"ONE.WAV"}},
        {"V4SMALLER\\DATA\\README.*", {"readme.txt"}},
        {"V4SMALLER\\DATA\\*.NONE", {}},
        {"V4SMALLER\\DATA\\NOPE\\*", {}},
        {"TREE\\SND\\*.WAV", {"ONE.WAV"}}, // from disk
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        std::vector<std::string> names;
        FileInfo info;
        DWORD_PTR find = ArchiveAwareFindFirst(c.pattern, &info);
        if (c.names.empty()) {
            EXPECT_EQ(find, FILE_FIND_FAILED);
            continue;
        }
        ASSERT_NE(find, FILE_FIND_FAILED);
        do {
            names.push_back(std::string(info.name) + (info.isDirectory ? "\\" : ""));
            if (!info.isDirectory) {
                std::string upper = info.name;
                std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
                bool found = false;
                for (const auto &file : tree) {
                    std::string treeName = file.first.substr(file.first.rfind('\\') + 1);
                    std::transform(treeName.begin(), treeName.end(), treeName.begin(), ::toupper);
                    found |= treeName == upper && file.second.size() == info.sizeLow;
                }
                EXPECT_TRUE(found) << info.name << " size " << info.sizeLow;
                EXPECT_EQ(info.sizeHigh, 0u);
                EXPECT_GE(info.lastWriteTime.year, 2000) << "the packer's time stamps";
            } else if (info.name[0] == '.') {
                EXPECT_EQ(info.sizeLow, 0u);
                EXPECT_EQ(info.lastWriteTime.year, 0);
            }
        } while (ArchiveAwareFindNext(find, &info) == 0);
        EXPECT_EQ(ArchiveAwareFindNext(find, &info), -1);
        EXPECT_EQ(ArchiveAwareFindClose(find), 0);
        EXPECT_EQ(names, c.names);
    }
    DWORD_PTR find = ArchiveAwareFindFirst("V4SMALLER\\DATA\\*", NULL);
    ASSERT_NE(find, FILE_FIND_FAILED);
    EXPECT_EQ(ArchiveAwareFindNext(find, NULL), 0) << "the info may be left out";
    ArchiveAwareFindClose(find);
}

// A found entry's dates are its creation and last-write times (not the access time), in local time, as a
// found file's are; its size high word is 0 and the directory flag follows the attribute.
TEST_F(FileTest, FoundEntriesCarryTheirOwnDates)
{
    const uint64_t day = 864000000000ull;        // FILETIME ticks
    const uint64_t base = 132000000000000000ull; // 2019
    std::vector<QvaWriterEntry> entries(2);
    entries[0].path = "F.BIN";
    entries[0].data = MakeTestBytes(41, 77, 0);
    entries[0].creationTime = base + 3 * day + 3600ull * 10000000ull;
    entries[0].accessTime = base + 400 * day;
    entries[0].writeTime = base + 35 * day + 61ull * 10000000ull;
    entries[1].path = "D";
    entries[1].isDirectory = true;
    entries[1].creationTime = base + 100 * day;
    entries[1].accessTime = base + 200 * day;
    entries[1].writeTime = base + 150 * day;
    QvaWriterOptions options;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(WriteQvaArchive(entries, options, &image, &error)) << error;
    ASSERT_TRUE(WriteBytesToFile("TIMES.QVA", image));
    for (const QvaWriterEntry &entry : entries) {
        SCOPED_TRACE(entry.path);
        FileInfo info;
        DWORD_PTR find = ArchiveAwareFindFirst(("TIMES\\" + entry.path).c_str(), &info);
        ASSERT_NE(find, FILE_FIND_FAILED);
        const struct {
            uint64_t time;
            const DateRecord *got;
        } dates[] = {{entry.creationTime, &info.creationTime}, {entry.writeTime, &info.lastWriteTime}};
        for (const auto &d : dates) {
            FILETIME time = {(DWORD)d.time, (DWORD)(d.time >> 32)};
            DateRecord expected;
            FileTimeToDateRecord(&time, &expected);
            EXPECT_EQ(memcmp(&expected, d.got, sizeof(expected)), 0)
                << d.got->year << "-" << d.got->month << "-" << d.got->day << " " << d.got->hour << ":" << d.got->minute
                << ":" << d.got->second;
        }
        EXPECT_EQ(info.isDirectory, entry.isDirectory ? 1u : 0u);
        EXPECT_EQ(info.sizeLow, entry.data.size());
        EXPECT_EQ(info.sizeHigh, 0u);
        ArchiveAwareFindClose(find);
    }
    CloseUnusedArchives();
    DeleteFileA("TIMES.QVA");
}

TEST_F(ArchiveAwareTest, AtMost512FilesAreOpenAtOnce)
{
    std::vector<FileHandle> handles;
    for (int i = 0; i < ARCHIVE_OPEN_FILE_LIMIT; i++) {
        FileHandle h = ArchiveAwareOpen(i % 2 ? "V2SECOND\\DATA\\SND\\ONE.WAV" : "V2SECOND\\DATA\\A.PNG", 0, 0, 0);
        ASSERT_NE(h, 0u) << i;
        EXPECT_EQ(h & 0xF0000000u, 0xF0000000u);
        handles.push_back(h);
    }
    size_t mark = LogSize();
    EXPECT_EQ(ArchiveAwareOpen("V2SECOND\\DATA\\A.PNG", 0, 0, 0), 0u);
    EXPECT_NE(LogSince(mark).find(kTooManyFiles), std::string::npos);
    EXPECT_EQ(ArchiveAwareClose(handles[100]), 0);
    handles[100] = ArchiveAwareOpen("TREE\\A.PNG", 0, 0, 0);
    EXPECT_NE(handles[100], 0u) << "a freed slot is taken again";
    for (FileHandle h : handles) {
        EXPECT_EQ(ArchiveAwareClose(h), 0);
    }
}

TEST_F(ArchiveAwareTest, InvalidHandlesAreRefused)
{
    FileHandle live = ArchiveAwareOpen("V2SECOND\\DATA\\A.PNG", 0, 0, 0);
    ASSERT_NE(live, 0u);
    const FileHandle wrong[] = {0, 1, 0xF0000000u | 600, 0xF0000000u | 511, live & 0x0FFFFFFFu, 0xE0000000u};
    uint8_t buffer[8];
    for (FileHandle h : wrong) {
        EXPECT_EQ(ArchiveAwareClose(h), -1) << h;
        EXPECT_EQ(ArchiveAwareTell(h), -1);
        EXPECT_EQ(ArchiveAwareSeek(h, 0, 0), -1);
        EXPECT_EQ(ArchiveAwareEof(h), -1);
        EXPECT_EQ(ArchiveAwareIdleCheck(h), -1);
        EXPECT_EQ(ArchiveAwareRead(buffer, 1, 8, h), 0u);
    }
    EXPECT_EQ(ArchiveAwareClose(live), 0);
    EXPECT_EQ(ArchiveAwareClose(live), -1) << "closed twice";
    EXPECT_EQ(ArchiveAwareFindNext(FILE_FIND_FAILED, NULL), -1);
    EXPECT_EQ(ArchiveAwareFindClose(FILE_FIND_FAILED), -1);
    // A missing name opens and finds nothing.
    EXPECT_EQ(ArchiveAwareOpen(NULL, 0, 0, 0), 0u);
    EXPECT_EQ(ArchiveAwareOpen(NULL, 1, 0, 1), 0u);
    EXPECT_EQ(ArchiveAwareFindFirst(NULL, NULL), FILE_FIND_FAILED);
    EXPECT_EQ(WinFindFirst(NULL, NULL), FILE_FIND_FAILED);
    char out[260];
    EXPECT_EQ(BuildArchiveFullPath(NULL, out, sizeof(out)), -1);
}

// An archive whose data and directory lie past 2 GB (a sparse file: a header, a hole, then the rest) reads back
// through the file table, stored and packed entries, synchronously and asynchronously.
TEST_F(FileTest, ArchivesReachPast2GB)
{
    std::vector<QvaWriterEntry> entries(2);
    entries[0].path = "X.BIN";
    entries[0].data = MakeTestBytes(21, 3000, 0);
    entries[1].path = "DIR\\P.TXT";
    entries[1].data = MakeTestBytes(22, 20000, 1);
    QvaWriterOptions options;
    options.version = 2;
    options.compression = QVA_PACK_SMALLER;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(WriteQvaArchive(entries, options, &image, &error)) << error;
    uint8_t key[12];
    MakeArchiveKey(NULL, key);
    ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
    const uint32_t gap = 0x80000100u;
    std::vector<uint8_t> header(image.begin(), image.begin() + ARCHIVE_HEADER_SIZE);
    std::vector<uint8_t> rest(image.begin() + ARCHIVE_HEADER_SIZE, image.end());
    WriteArchiveU32(&header[8], gap);
    WriteArchiveU32(&header[12], ReadArchiveU32(&header[12]) - ARCHIVE_HEADER_SIZE + gap);
    ScrambleArchiveBytes((uint32_t)header.size(), header.data(), 0, key);
    ScrambleArchiveBytes((uint32_t)rest.size(), rest.data(), gap, key);
    ASSERT_TRUE(WriteSparseFile("BIGARC.QVA", gap + (uint32_t)rest.size(), {{0, header}, {gap, rest}}));
    for (int async = 0; async < 2; async++) {
        for (const QvaWriterEntry &entry : entries) {
            SCOPED_TRACE(entry.path + " async " + std::to_string(async));
            StreamRef stream = OpenFileStream("BIGARC\\" + entry.path, 0, async);
            ASSERT_NE(stream.handle, 0u);
            EXPECT_EQ(ReadWholeStream(stream, 1000), entry.data);
            EXPECT_EQ(stream.functions.close(stream.handle), 0);
        }
    }
    CloseUnusedArchives();
    DeleteFileA("BIGARC.QVA");
}

TEST_F(FileTest, FullPathsAreAbsoluteUpperCasedAndBounded)
{
    char current[260];
    ASSERT_EQ(ArchiveAwareGetCurrentDir(current), 0);
    std::string base = current;
    std::transform(base.begin(), base.end(), base.begin(), ::toupper);
    if (base.back() == '\\') {
        base.pop_back();
    }
    std::string drive = base.substr(0, 2);
    std::string parent = base.substr(0, base.rfind('\\'));
    const struct {
        std::string path, expected;
    } cases[] = {
        {"a\\b.png", base + "\\A\\B.PNG"},
        {"./a//b/", base + "\\A\\B"},
        {"a\\..\\b", base + "\\B"},
        {"..\\x", parent + "\\X"},
        {"\\top\\f", drive + "\\TOP\\F"},
        {"/top/f", drive + "\\TOP\\F"},
        {"d:foo\\bar", "D:\\FOO\\BAR"},
        {"d:\\foo\\..\\..\\..\\bar", "D:\\BAR"},
        {"\\\\server\\share\\f", "\\\\SERVER\\SHARE\\F"},
        {"//server/share", "\\\\SERVER\\SHARE"},
        {"x\\\x95\x5C\\y", base + "\\X\\\x95\x5C\\Y"}, // 0x5C trail byte kept, not a separator
        {"x\\\x95\x5C\\..\\y", base + "\\X\\Y"},       // ".." steps back over the whole character
        {"\x83\x61", base + "\\\x83\x61"},             // a trail byte 'a' is not upper-cased
    };
    CharSetId previous = GetEngineCharSet();
    SetEngineCharSet(CHARSET_SHIFTJIS);
    for (const auto &c : cases) {
        char out[260];
        ASSERT_EQ(BuildArchiveFullPath(c.path.c_str(), out, sizeof(out)), 0) << c.path;
        EXPECT_EQ(std::string(out), c.expected) << c.path;
    }
    char small[20];
    EXPECT_EQ(BuildArchiveFullPath("d:\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j", small, sizeof(small)), -1);
    char out[260];
    EXPECT_EQ(BuildArchiveFullPath(std::string(400, 'q').c_str(), out, sizeof(out)), -1);
    EXPECT_EQ(ArchiveAwareSetCurrentDir(current), 0);
    SetEngineCharSet(previous);
}

TEST_F(ArchiveAwareTest, ASecondPathInTheSameArchiveComesFromTheResolveCache)
{
    // CACHE\DATA.QVA stands for CACHE\DATA; an archive CACHE.QVA made later for the shorter prefix CACHE is not
    // looked for while paths stay inside CACHE\DATA, but is found for others.
    CreateDirectoryA("CACHE", NULL);
    ASSERT_TRUE(WriteBytesToFile("CACHE\\DATA.QVA", ReadBytesFromFile("V1STORE\\DATA.QVA")));
    DeleteFileA("CACHE.QVA");
    int index = -1;
    char archivePath[260], inner[260];
    ASSERT_EQ(ResolveArchivePath("CACHE\\DATA\\IMG\\A.PNG", &index, archivePath, inner), 0);
    EXPECT_STREQ(inner, "IMG\\A.PNG");
    std::string first = archivePath;
    EXPECT_EQ(first.substr(first.size() - 15), "\\CACHE\\DATA.QVA");
    ReleaseOpenArchiveUse(index);

    QvaWriterEntry entry;
    entry.path = "DATA\\IMG\\B.BMP";
    entry.data = {1, 2, 3};
    QvaWriterOptions options;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(WriteQvaArchive({entry}, options, &image, &error)) << error;
    ASSERT_TRUE(WriteBytesToFile("CACHE.QVA", image));

    ASSERT_EQ(ResolveArchivePath("cache\\data\\img\\b.bmp", &index, archivePath, inner), 0);
    EXPECT_EQ(std::string(archivePath), first) << "taken from the cache";
    EXPECT_STREQ(inner, "IMG\\B.BMP");
    ReleaseOpenArchiveUse(index);
    ASSERT_EQ(ResolveArchivePath("CACHE\\OTHER\\X.BIN", &index, archivePath, inner), 0);
    EXPECT_EQ(std::string(archivePath).substr(std::string(archivePath).size() - 10), "\\CACHE.QVA");
    EXPECT_STREQ(inner, "OTHER\\X.BIN");
    ReleaseOpenArchiveUse(index);
    ASSERT_EQ(ResolveArchivePath("CACHE\\DATA\\IMG\\B.BMP", &index, archivePath, inner), 0);
    EXPECT_EQ(std::string(archivePath).substr(std::string(archivePath).size() - 10), "\\CACHE.QVA")
        << "the cache now holds the shorter prefix";
    EXPECT_STREQ(inner, "DATA\\IMG\\B.BMP");
    ReleaseOpenArchiveUse(index);
    EXPECT_EQ(ResolveArchivePath("NOWHERE\\X.BIN", &index, NULL, NULL), -1);
    CloseUnusedArchives();
    DeleteFileA("CACHE.QVA");
}

} // namespace

namespace
{

// Names in archives may be up to 1,023 bytes; a search hands them out cut to fit FileInfo, never splitting a
// double-byte character.
TEST_F(FileTest, LongEntryNamesAreCutToFitTheFileInfo)
{
    const struct {
        std::string name;
        size_t expectedLength;
    } cases[] = {
        {std::string(600, 'n'), 259},
        {std::string(258, 'm') + "\x83\x41" + "tail", 258},
        {std::string(257, 'k') + "\x83\x41" + "tail", 259},
        {std::string(259, 'j'), 259},
        {"short", 5},
    };
    std::vector<QvaWriterEntry> entries;
    for (const auto &c : cases) {
        QvaWriterEntry entry;
        entry.path = c.name;
        entries.push_back(entry);
    }
    QvaWriterOptions options;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(WriteQvaArchive(entries, options, &image, &error)) << error;
    CreateDirectoryA("LONGNAME", NULL);
    ASSERT_TRUE(WriteBytesToFile("LONGNAME.QVA", image));
    FileInfo info;
    DWORD_PTR find = ArchiveAwareFindFirst("LONGNAME\\*", &info);
    ASSERT_NE(find, FILE_FIND_FAILED);
    EXPECT_STREQ(info.name, ".");
    for (const auto &c : cases) {
        ASSERT_EQ(ArchiveAwareFindNext(find, &info), 0);
        EXPECT_EQ(strlen(info.name), c.expectedLength);
        EXPECT_EQ(std::string(info.name), c.name.substr(0, c.expectedLength));
    }
    EXPECT_EQ(ArchiveAwareFindNext(find, &info), -1);
    ArchiveAwareFindClose(find);
    EXPECT_EQ(OpenFileStream("LONGNAME\\" + cases[0].name).handle, 0u) << "too long for a full path: refused";
    StreamRef stream = OpenFileStream("LONGNAME\\SHORT");
    EXPECT_NE(stream.handle, 0u);
    stream.functions.close(stream.handle);
    CloseUnusedArchives();
    DeleteFileA("LONGNAME.QVA");
}

// Sets a folder's last-write time an hour back, as installed data folders are.
void AgeFolder(const char *path)
{
    HANDLE folder = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t old = ((uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime) - 3600ull * 10000000ull;
    const FILETIME then = {(DWORD)old, (DWORD)(old >> 32)};
    EXPECT_TRUE(folder != INVALID_HANDLE_VALUE && SetFileTime(folder, NULL, NULL, &then)) << path;
    CloseHandle(folder);
}

// Path resolution remembers archives that were not there, in folders old enough to be trusted. An archive written
// or renamed into such a folder between two opens is still found; a folder renamed away and replaced by another of
// the same name (the old one's handle still reads its unchanged time) is not answered for by the old one, neither
// below a folder that was probed again since nor below one that changes too often to be remembered (TOUCH). Each
// case has an archive of its own: the last archive found is tried first by the next open below its folder.
TEST_F(ArchiveAwareTest, RememberedAbsentArchivesSeeTheFoldersChange)
{
    QvaWriterEntry entry;
    entry.path = "Y.TXT";
    entry.data = {'a', 'r', 'c', 'h', 'i', 'v', 'e'};
    std::vector<uint8_t> archive;
    std::string error;
    ASSERT_TRUE(WriteQvaArchive({entry}, QvaWriterOptions(), &archive, &error)) << error;
    const std::string x = "C:\\QVLATE\\A\\X.TXT", b = "C:\\QVLATE\\B\\Y.TXT", c = "C:\\QVLATE\\C\\Y.TXT",
                      e = "C:\\QVLATE\\D\\E\\Y.TXT";
    auto removeTrees = []() {
        CloseUnusedArchives();
        std::error_code ignored;
        std::filesystem::remove_all("C:\\QVLATE", ignored), std::filesystem::remove_all("C:\\QVLATEOLD", ignored);
    };
    auto makeTree = [&]() {
        CreateDirectoryA("C:\\QVLATE", NULL), CreateDirectoryA("C:\\QVLATE\\D", NULL);
        for (const std::string &file : {x, b, c, e}) {
            CreateDirectoryA(file.substr(0, file.rfind('\\')).c_str(), NULL);
            ASSERT_TRUE(WriteBytesToFile(file, {'d', 'i', 's', 'k'}));
        }
    };
    removeTrees(), makeTree();
    // TOUCH changes C:\QVLATE now, too recently for its own candidates to be remembered; SWAP replaces C:\QVLATE\D
    // by a new, aged folder with the archive for E in it.
    enum Step { READ, AGE, WRITE, RENAME, REMOVE, REPLACE, TOUCH, SWAP };
    const struct {
        Step step;               // before the read
        const std::string &path; // read; its folder's archive is the one written, renamed or removed
        const char *expected;
    } steps[] = {{AGE, b, "disk"}, {READ, b, "disk"}, {WRITE, b, "archive"},  {REMOVE, b, "disk"},
                 {AGE, c, "disk"}, {READ, c, "disk"}, {RENAME, c, "archive"}, {REMOVE, c, "disk"},
                 {AGE, x, "disk"}, {READ, b, "disk"}, {REPLACE, x, "disk"},   {READ, b, "archive"},
                 {AGE, e, "disk"}, {READ, e, "disk"}, {TOUCH, e, "disk"},     {SWAP, e, "archive"}};
    for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); i++) {
        SCOPED_TRACE(i);
        const Step step = steps[i].step;
        const std::string qva = steps[i].path.substr(0, steps[i].path.rfind('\\')) + ".QVA";
        if (step == REPLACE) {
            ASSERT_TRUE(MoveFileA("C:\\QVLATE", "C:\\QVLATEOLD"));
            makeTree();
        }
        if (step == TOUCH) {
            ASSERT_TRUE(WriteBytesToFile("C:\\QVLATE\\TOUCH.TMP", {1}));
            ASSERT_TRUE(DeleteFileA("C:\\QVLATE\\TOUCH.TMP"));
        } else if (step == SWAP) {
            ASSERT_TRUE(MoveFileA("C:\\QVLATE\\D", "C:\\QVLATE\\DOLD"));
            makeTree();
            ASSERT_TRUE(WriteBytesToFile(qva, archive));
            AgeFolder("C:\\QVLATE\\D");
        }
        if (step == WRITE || step == REPLACE) {
            ASSERT_TRUE(WriteBytesToFile(step == REPLACE ? "C:\\QVLATE\\B.QVA" : qva, archive));
        } else if (step == RENAME) {
            ASSERT_TRUE(WriteBytesToFile("C:\\QVLATE\\NEW.TMP", archive));
            ASSERT_TRUE(MoveFileA("C:\\QVLATE\\NEW.TMP", qva.c_str()));
        } else if (step == REMOVE) {
            CloseUnusedArchives(); // the archive file is held open by its table entry until then
            ASSERT_TRUE(DeleteFileA(qva.c_str()));
        }
        if (step == AGE || step == REPLACE) {
            AgeFolder("C:\\"), AgeFolder("C:\\QVLATE"), AgeFolder("C:\\QVLATE\\D");
        }
        StreamRef stream = OpenFileStream(steps[i].path);
        std::vector<uint8_t> got = ReadWholeStream(stream, 100);
        EXPECT_EQ(std::string(got.begin(), got.end()), steps[i].expected);
        stream.functions.close(stream.handle);
    }
    removeTrees();
}

} // namespace
