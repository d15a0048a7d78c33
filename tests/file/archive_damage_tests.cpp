// Damaged input as a group: valid archives (every version, stored and packed, each key) cut at every length and
// with bytes flipped at every offset, opened from memory and from disk; packed entries whose own header lies
// about its sizes; random bytes. None may crash or hang; what opens must keep every answer inside the image.
#include "archive_test_data.h"

#include "tools/qva_writer.h"

namespace
{

const char *const kNotFoundMessage = "ＱＶＡファイルの中に指定のファイルは見つかりませんでした";
const char *const kDamagedMessage = "ＱＶＡファイルの中の指定のファイルが壊れています";

const char *const kNames[] = {"A.TXT", "B.BIN", "DIR\\C.TXT", "DIR\\SUB\\D.BIN", "DIR\\E.TXT", "EMPTY"};

struct ArchiveKind {
    int version;
    QvaCompression compression;
    QvaKeyKind keyKind;
    const char *keyString;
};

const ArchiveKind kKinds[] = {
    {1, QVA_STORE, QVA_KEY_BUILTIN, ""},
    {2, QVA_PACK_ALL, QVA_KEY_SECOND, ""},
    {4, QVA_PACK_SMALLER, QVA_KEY_STRING, "damage"},
};

std::vector<uint8_t> MakeDamageBase(const ArchiveKind &kind)
{
    std::vector<QvaWriterEntry> entries;
    for (size_t i = 0; i < sizeof(kNames) / sizeof(kNames[0]); i++) {
        QvaWriterEntry entry;
        entry.path = kNames[i];
        entry.data = MakeTestBytes((uint32_t)i, i == 5 ? 0 : 40 + 90 * i, (int)(i % 3));
        entries.push_back(entry);
    }
    QvaWriterOptions options;
    options.version = kind.version;
    options.compression = kind.compression;
    options.keyKind = kind.keyKind;
    options.keyString = kind.keyString;
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_TRUE(WriteQvaArchive(entries, options, &image, &error)) << error;
    return image;
}

// A copy of some bytes that ends right where an unreadable page begins, so that a read past the end faults.
class GuardedBytes
{
  public:
    explicit GuardedBytes(const std::vector<uint8_t> &bytes) : size(bytes.size())
    {
        pages = (size + 4095) / 4096 + 1;
        base = (uint8_t *)VirtualAlloc(NULL, pages * 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(base + (pages - 1) * 4096, 4096, PAGE_NOACCESS, &old);
        data = base + (pages - 1) * 4096 - size;
        if (size > 0) {
            memcpy(data, bytes.data(), size);
        }
    }
    ~GuardedBytes()
    {
        VirtualFree(base, 0, MEM_RELEASE);
    }
    bool Equals(const std::vector<uint8_t> &bytes) const
    {
        return bytes.size() == size && (size == 0 || memcmp(bytes.data(), data, size) == 0);
    }
    uint8_t *data;
    size_t size;

  private:
    uint8_t *base;
    size_t pages;
};

volatile uint32_t g_NameBytesSink;

// Opens the image from memory and exercises every lookup; whatever is found must lie inside the image.
// Returns whether it opened.
bool ExerciseImage(const std::vector<uint8_t> &given, const char *key)
{
    GuardedBytes image(given);
    ArchiveRecord record;
    ClearArchive(&record);
    if (OpenArchiveFromMemory(&record, image.data, (unsigned int)image.size, key) != 0) {
        EXPECT_TRUE(image.Equals(given)) << "a refused image is left as given";
        return false;
    }
    for (const char *name : kNames) {
        unsigned int offset = 0, size = 0;
        const uint8_t *entry = FindArchiveFileEntry(name, &record.directory);
        if (GetArchiveFileImage(&record, name, &offset, &size) != 0) {
            continue;
        }
        uint32_t start, stored;
        int packed;
        EXPECT_EQ(GetArchiveEntryDataRange(&record.directory, entry, &start, &stored, &packed), 0);
        EXPECT_LE((uint64_t)start + stored, image.size) << name;
        if (packed) {
            uint32_t unpacked = DecodeArchiveData(image.data + start, stored, NULL, 0);
            if (unpacked != ARCHIVE_DECODE_FAILED && unpacked < (1u << 20)) {
                std::vector<uint8_t> out(unpacked + 1);
                uint32_t result = DecodeArchiveData(image.data + start, stored, out.data(), unpacked);
                EXPECT_TRUE(result == unpacked || result == ARCHIVE_DECODE_FAILED);
            }
        }
    }
    // Every name of every directory reached, as a search reads them.
    ArchiveDirectory *d = &record.directory;
    uint32_t touched = 0;
    for (const char *directory : {"\\", "DIR", "SUB", "..\\..\\.."}) {
        ChangeArchiveDir(d, directory, 0, NULL);
        uint32_t count = 0;
        const uint8_t *current = GetArchiveDirectoryEntry(d, d->currentDirectory);
        const uint8_t *entries = current != NULL ? GetArchiveFileEntries(d, current, &count) : NULL;
        for (uint32_t i = 0; entries != NULL && i < count; i++) {
            const uint8_t *upper, *written;
            uint32_t units;
            if (GetArchiveEntryName(d, entries + i * d->fileEntrySize, &upper, &written, &units) == 0) {
                for (uint32_t k = 0; k < units * 4; k++) {
                    touched += upper[k] + written[k];
                }
            }
        }
    }
    g_NameBytesSink = touched; // keeps the reads
    CloseArchive(&record);
    EXPECT_TRUE(image.Equals(given)) << "handed back as given";
    return true;
}

class ArchiveDamageTest : public FileTest
{
};

TEST_F(ArchiveDamageTest, CutAndFlippedImagesInMemory)
{
    for (const ArchiveKind &kind : kKinds) {
        SCOPED_TRACE(kind.version);
        std::vector<uint8_t> base = MakeDamageBase(kind);
        const char *key = kind.keyKind == QVA_KEY_STRING ? kind.keyString : NULL;
        ASSERT_TRUE(ExerciseImage(base, key));
        int opened = 0;
        for (size_t length = 0; length < base.size(); length++) {
            std::vector<uint8_t> cut(base.begin(), base.begin() + (long)length);
            opened += ExerciseImage(cut, key);
        }
        EXPECT_EQ(opened, 0) << "the directory block lies at the end: no cut image may open";
        for (size_t offset = 0; offset < base.size(); offset++) {
            for (uint8_t flip : {0x01, 0x80, 0xFF}) {
                std::vector<uint8_t> damaged = base;
                damaged[offset] ^= flip;
                ExerciseImage(damaged, key);
            }
        }
    }
}

TEST_F(ArchiveDamageTest, CutAndFlippedArchivesOnDiskThroughTheFileTable)
{
    CreateDirectoryA("DAMAGE", NULL);
    CreateDirectoryA("DAMAGE\\DATA", NULL);
    uint32_t state = 5;
    for (const ArchiveKind &kind : kKinds) {
        std::vector<uint8_t> base = MakeDamageBase(kind);
        SetArchiveKeyString(kind.keyKind == QVA_KEY_STRING ? kind.keyString : NULL);
        for (int round = 0; round < 90; round++) {
            std::vector<uint8_t> damaged = base;
            state = state * 1103515245u + 12345u;
            size_t where = (state >> 8) % base.size();
            if (round % 3 == 0) {
                damaged.resize(where);
            } else {
                // Most flips go to the header and the directory block at the end, where the sizes live.
                if (round % 3 == 1 && where > 28) {
                    where = base.size() - 1 - where % (base.size() / 3);
                }
                damaged[where] ^= (uint8_t)(1u << (state % 8)) | (round % 2 ? 0 : 0x80);
            }
            ASSERT_TRUE(WriteBytesToFile("DAMAGE\\DATA.QVA", damaged));
            for (const char *name : kNames) {
                for (int async = 0; async < 2; async++) {
                    StreamRef stream = OpenFileStream(std::string("DAMAGE\\DATA\\") + name, 0, async);
                    if (stream.handle != 0) {
                        std::vector<uint8_t> got = ReadWholeStream(stream, 100, 10000);
                        EXPECT_LE(got.size(), 1u << 20);
                        stream.functions.seek(stream.handle, -7, STREAM_ORIGIN_END);
                        stream.functions.close(stream.handle);
                    }
                }
            }
            FileInfo info;
            DWORD_PTR find = ArchiveAwareFindFirst("DAMAGE\\DATA\\DIR\\*", &info);
            for (int i = 0; find != FILE_FIND_FAILED && i < 1000 && ArchiveAwareFindNext(find, &info) == 0; i++) {
            }
            ArchiveAwareFindClose(find);
            CloseUnusedArchives();
        }
    }
    DeleteFileA("DAMAGE\\DATA.QVA");
}

// An entry whose sizes reach outside the archive, or a packed entry whose own header disagrees with the
// entry's sizes, is refused, not read or decoded by the sizes it claims.
TEST_F(ArchiveDamageTest, EntriesThatLieAboutTheirSizes)
{
    QvaWriterEntry entry;
    entry.path = "P.BIN";
    entry.data = MakeTestBytes(3, 5000, 1);
    uint8_t key[12];
    MakeArchiveKey(NULL, key);
    // One entry in a version-2 archive: its data starts the data area, its file entry starts the file table.
    auto unscrambledArchive = [&](QvaCompression compression) {
        QvaWriterOptions options;
        options.version = 2;
        options.compression = compression;
        std::vector<uint8_t> image;
        std::string error;
        EXPECT_TRUE(WriteQvaArchive({entry}, options, &image, &error)) << error;
        ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
        return image;
    };
    const uint32_t dataStart = ARCHIVE_HEADER_SIZE;
    const uint32_t packedSize = ReadArchiveU32(&unscrambledArchive(QVA_PACK_ALL)[dataStart + 4]);
    enum { NOTHING, PACK_HEADER, FILE_ENTRY };
    const struct {
        const char *what;
        QvaCompression compression;
        int where;
        uint32_t field, value;
        bool opens;
    } cases[] = {
        {"as written", QVA_PACK_ALL, NOTHING, 0, 0, true},
        {"header unpacked size larger", QVA_PACK_ALL, PACK_HEADER, 0, 6000, false},
        {"header unpacked size smaller", QVA_PACK_ALL, PACK_HEADER, 0, 4000, false},
        {"header packed size smaller", QVA_PACK_ALL, PACK_HEADER, 4, packedSize - 1, false},
        {"header packed size below 9", QVA_PACK_ALL, PACK_HEADER, 4, 3, false},
        {"entry size larger", QVA_PACK_ALL, FILE_ENTRY, ARCHIVE_ENTRY_SIZE, 5001, false},
        {"entry packed size beyond the file", QVA_PACK_ALL, FILE_ENTRY, ARCHIVE_ENTRY_PACKED_SIZE, 0x7FFFFFFF, false},
        {"entry packed size below 9", QVA_PACK_ALL, FILE_ENTRY, ARCHIVE_ENTRY_PACKED_SIZE, 4, false},
        {"entry data offset beyond the file", QVA_PACK_ALL, FILE_ENTRY, ARCHIVE_ENTRY_DATA, 0xFFFFFFF0u, false},
        {"stored, as written", QVA_STORE, NOTHING, 0, 0, true},
        {"stored size beyond the file", QVA_STORE, FILE_ENTRY, ARCHIVE_ENTRY_SIZE, 0x10000, false},
        {"stored data offset beyond the file", QVA_STORE, FILE_ENTRY, ARCHIVE_ENTRY_DATA, 0x7FFFFFF0, false},
    };
    CreateDirectoryA("LIES", NULL);
    for (const auto &c : cases) {
        std::vector<uint8_t> image = unscrambledArchive(c.compression);
        const uint32_t entryOffset = ReadArchiveU32(&image[12]) + ReadArchiveU32(&image[16]);
        if (c.where != NOTHING) {
            WriteArchiveU32(&image[(c.where == PACK_HEADER ? dataStart : entryOffset) + c.field], c.value);
        }
        ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
        ASSERT_TRUE(WriteBytesToFile("LIES.QVA", image));
        for (int async = 0; async < 2; async++) {
            SCOPED_TRACE(::testing::Message() << c.what << (async ? ", asynchronous" : ""));
            size_t mark = LogSize();
            StreamRef stream = OpenFileStream("LIES\\P.BIN", 0, async);
            if (c.opens) {
                ASSERT_NE(stream.handle, 0u);
                EXPECT_EQ(ReadWholeStream(stream, 999), entry.data);
                stream.functions.close(stream.handle);
            } else if (stream.handle != 0) {
                // Asynchronous packed reads are checked when they complete: every operation then fails.
                EXPECT_EQ(async, 1);
                EXPECT_EQ(ReadWholeStream(stream, 999).size(), 0u);
                EXPECT_EQ(stream.functions.tell(stream.handle), -1);
                EXPECT_EQ(stream.functions.seek(stream.handle, 0, STREAM_ORIGIN_START), -1);
                stream.functions.close(stream.handle);
            }
            const std::string added = LogSince(mark);
            const size_t damaged = added.find(kDamagedMessage);
            EXPECT_EQ(added.find(kNotFoundMessage), std::string::npos) << "the entry exists";
            EXPECT_EQ(damaged == std::string::npos, c.opens) << "logged as damaged";
            EXPECT_EQ(added.find(kDamagedMessage, damaged + 1), std::string::npos) << "logged once";
        }
        CloseUnusedArchives();
    }
    DeleteFileA("LIES.QVA");
}

TEST_F(ArchiveDamageTest, RandomBytesAreRefused)
{
    uint32_t state = 1;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    uint8_t key[12];
    MakeArchiveKey(NULL, key);
    int opened = 0;
    for (int round = 0; round < 3000; round++) {
        std::vector<uint8_t> bytes(next() % 300);
        for (uint8_t &b : bytes) {
            b = (uint8_t)next();
        }
        if (round % 2 == 1 && bytes.size() >= 4) {
            // A valid magic and version, so the rest of the header is what gets tested.
            bytes[0] = 'Q';
            bytes[1] = 'V';
            bytes[2] = (uint8_t)(next() % 5);
            bytes[3] = 0;
            ScrambleArchiveBytes(4, bytes.data(), 0, key);
        }
        opened += ExerciseImage(bytes, NULL);
        GuardedBytes guarded(bytes);
        std::vector<uint8_t> out(64);
        uint32_t result = DecodeArchiveData(guarded.data, (uint32_t)guarded.size, out.data(), (uint32_t)out.size());
        if (result != ARCHIVE_DECODE_FAILED) {
            EXPECT_LE(result, out.size());
        }
    }
    EXPECT_LT(opened, 30) << "random bytes almost never form an archive";
}

} // namespace
