// Damaged input as a group: valid archives (every version, stored and packed, each key) cut at every length and
// with bytes flipped at every offset, opened from memory and from disk; packed entries whose own header lies
// about its sizes; random bytes. None may crash or hang; what opens must keep every answer inside the image.
#include "archive_test_data.h"

#include "tools/qva_writer.h"

namespace {

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

// Opens the image from memory and exercises every lookup; whatever is found must lie inside the image.
// Returns whether it opened.
bool ExerciseImage(std::vector<uint8_t> image, const char *key)
{
    std::vector<uint8_t> given = image;
    ArchiveRecord record;
    ClearArchive(&record);
    if (OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), key) != 0) {
        EXPECT_EQ(image, given) << "a refused image is left as given";
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
        EXPECT_LE((uint64_t)start + stored, image.size()) << name;
        if (packed) {
            uint32_t unpacked = DecodeArchiveData(image.data() + start, stored, NULL, 0);
            if (unpacked != ARCHIVE_DECODE_FAILED && unpacked < (1u << 20)) {
                std::vector<uint8_t> out(unpacked + 1);
                uint32_t result = DecodeArchiveData(image.data() + start, stored, out.data(), unpacked);
                EXPECT_TRUE(result == unpacked || result == ARCHIVE_DECODE_FAILED);
            }
        }
    }
    ArchiveDirectory *d = &record.directory;
    ChangeArchiveDir(d, "DIR\\SUB", 0, NULL);
    ChangeArchiveDir(d, "..\\..\\..", 0, NULL);
    CloseArchive(&record);
    EXPECT_EQ(image, given) << "handed back as given";
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
                        stream.functions.seek(stream.handle, -7, STREAM_SEEK_END);
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

// A packed entry whose own header disagrees with the entry's sizes is refused, not decoded into the entry's
// buffer by the header's sizes.
TEST_F(ArchiveDamageTest, PackedEntriesThatLieAboutTheirSizes)
{
    QvaWriterEntry entry;
    entry.path = "P.BIN";
    entry.data = MakeTestBytes(3, 5000, 1);
    QvaWriterOptions options;
    options.version = 2;
    options.compression = QVA_PACK_ALL;
    std::vector<uint8_t> base;
    std::string error;
    ASSERT_TRUE(WriteQvaArchive({entry}, options, &base, &error)) << error;
    uint8_t key[12];
    MakeArchiveKey(NULL, key);
    ScrambleArchiveBytes((uint32_t)base.size(), base.data(), 0, key);
    const uint32_t dataStart = ARCHIVE_HEADER_SIZE; // the one entry's packed buffer
    const uint32_t packedSize = ReadArchiveU32(&base[dataStart + 4]);
    const uint32_t entryOffset = ReadArchiveU32(&base[12]) + ReadArchiveU32(&base[16]);
    const struct {
        const char *what;
        uint32_t offset, value;
        bool opens;
    } cases[] = {
        {"as written", 0, 0, true},
        {"header unpacked size larger", dataStart, 6000, false},
        {"header unpacked size smaller", dataStart, 4000, false},
        {"header packed size smaller", dataStart + 4, packedSize - 1, false},
        {"header packed size below 9", dataStart + 4, 3, false},
        {"entry size larger", entryOffset + ARCHIVE_ENTRY_SIZE, 5001, false},
        {"entry packed size beyond the file", entryOffset + ARCHIVE_ENTRY_PACKED_SIZE, 0x7FFFFFFF, false},
        {"entry packed size below 9", entryOffset + ARCHIVE_ENTRY_PACKED_SIZE, 4, false},
        {"entry data offset beyond the file", entryOffset + ARCHIVE_ENTRY_DATA, 0xFFFFFFF0u, false},
    };
    CreateDirectoryA("LIES", NULL);
    for (const auto &c : cases) {
        std::vector<uint8_t> image = base;
        if (c.offset != 0) {
            WriteArchiveU32(&image[c.offset], c.value);
        }
        ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
        ASSERT_TRUE(WriteBytesToFile("LIES.QVA", image));
        for (int async = 0; async < 2; async++) {
            size_t mark = LogSize();
            StreamRef stream = OpenFileStream("LIES\\P.BIN", 0, async);
            if (c.opens) {
                ASSERT_NE(stream.handle, 0u) << c.what;
                EXPECT_EQ(ReadWholeStream(stream, 999), entry.data) << c.what;
                stream.functions.close(stream.handle);
            } else if (stream.handle != 0) {
                // Asynchronous packed reads are checked when they complete: the entry then reads as empty.
                EXPECT_EQ(async, 1) << c.what;
                EXPECT_EQ(ReadWholeStream(stream, 999).size(), 0u) << c.what;
                stream.functions.close(stream.handle);
            }
            EXPECT_EQ(LogSince(mark).find("ＱＶＡ"), std::string::npos) << c.what << ": the entry exists";
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
        std::vector<uint8_t> out(64);
        uint32_t result = DecodeArchiveData(bytes.data(), (uint32_t)bytes.size(), out.data(), (uint32_t)out.size());
        if (result != ARCHIVE_DECODE_FAILED) {
            EXPECT_LE(result, out.size());
        }
    }
    EXPECT_LT(opened, 30) << "random bytes almost never form an archive";
}

} // namespace
