// Archives written by the packer at build time (every version, stored and packed, each key), read back byte for
// byte: from disk through the installed archive-aware table (synchronous and asynchronous), whole-loaded into
// memory, and opened from an image in memory; plus the record rules (version refusal, the image handed back,
// one table entry per path) and the stream position rules of archive entries.
#include "archive_test_data.h"

#include "tools/qva_writer.h"

namespace
{

class PackerArchiveTest : public FileTest
{
  protected:
    void SetUp() override
    {
        FileTest::SetUp();
        configs = LoadPackerConfigs();
        tree = LoadTestTree();
        ASSERT_EQ(configs.size(), 8u) << "configs.txt from the build";
        ASSERT_EQ(tree.size(), 10u) << "TREE from the build";
    }
    const char *KeyOf(const PackerConfig &config)
    {
        return config.key.empty() ? NULL : config.key.c_str();
    }
    std::vector<PackerConfig> configs;
    std::map<std::string, std::vector<uint8_t>> tree;
};

TEST_F(PackerArchiveTest, EveryArchiveReadsBackThroughTheFileTable)
{
    const struct {
        int cache, async;
        size_t piece;
    } modes[] = {{0, 0, 4093}, {0, 1, 1000}, {1, 1, 65536}, {0, 0, 1}};
    for (const PackerConfig &config : configs) {
        SetArchiveKeyString(KeyOf(config));
        for (const auto &mode : modes) {
            for (const auto &file : tree) {
                if (mode.piece == 1 && file.second.size() > 5000) {
                    continue;
                }
                std::string path = config.folder + "\\DATA\\" + file.first;
                SCOPED_TRACE(path + " async " + std::to_string(mode.async));
                StreamRef stream = OpenFileStream(path, mode.cache, mode.async);
                ASSERT_NE(stream.handle, 0u);
                EXPECT_EQ(ReadWholeStream(stream, mode.piece), file.second);
                EXPECT_EQ(stream.functions.eof(stream.handle), -1) << "a file's end reads -1";
                EXPECT_EQ(stream.functions.tell(stream.handle), (int)file.second.size());
                EXPECT_EQ(stream.functions.close(stream.handle), 0);
            }
        }
        CloseUnusedArchives();
    }
}

TEST_F(PackerArchiveTest, WholeLoadedArchivesServeTheSameBytes)
{
    for (const PackerConfig &config : configs) {
        for (int noWait = 0; noWait < 2; noWait++) {
            SetArchiveKeyString(KeyOf(config));
            char full[260];
            ASSERT_EQ(BuildArchiveFullPath((config.folder + "\\DATA.QVA").c_str(), full, sizeof(full)), 0);
            int index = OpenArchiveByPath(-1, full, 1, noWait);
            ASSERT_GE(index, 0) << config.folder;
            ArchiveRecord *record = GetOpenArchive(index);
            EXPECT_EQ(record->memoryResident, 1u);
            for (const auto &file : tree) {
                StreamRef stream = OpenFileStream(config.folder + "\\DATA\\" + file.first);
                ASSERT_NE(stream.handle, 0u);
                EXPECT_EQ(ReadWholeStream(stream, 7777), file.second) << config.folder << " " << file.first;
                stream.functions.close(stream.handle);
            }
            EXPECT_NE(GetArchiveImage(record), nullptr);
            EXPECT_EQ(GetOpenArchiveUseCount(index), 1);
            ReleaseOpenArchiveUse(index);
            CloseUnusedArchives();
        }
    }
}

TEST_F(PackerArchiveTest, ArchiveImagesInMemoryReadBackAndAreHandedBack)
{
    for (const PackerConfig &config : configs) {
        SCOPED_TRACE(config.folder);
        std::vector<uint8_t> original = ReadBytesFromFile(config.folder + "\\DATA.QVA");
        std::vector<uint8_t> image = original;
        ArchiveRecord record;
        ClearArchive(&record);
        ASSERT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), KeyOf(config)), 0);
        EXPECT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), KeyOf(config)), -1)
            << "a record in use is refused";
        EXPECT_EQ(GetArchiveImage(&record), image.data());
        for (const auto &file : tree) {
            unsigned int offset = 0, size = 0;
            ASSERT_EQ(GetArchiveFileImage(&record, file.first.c_str(), &offset, &size), 0) << file.first;
            ASSERT_EQ(size, file.second.size());
            const uint8_t *entry = FindArchiveFileEntry(file.first.c_str(), &record.directory);
            uint32_t start, stored;
            int packed;
            ASSERT_EQ(GetArchiveEntryDataRange(&record.directory, entry, &start, &stored, &packed), 0);
            EXPECT_EQ(start, offset);
            std::vector<uint8_t> bytes(image.begin() + offset, image.begin() + offset + stored);
            if (packed) {
                std::vector<uint8_t> unpacked(size);
                ASSERT_EQ(DecodeArchiveData(bytes.data(), stored, unpacked.data(), size), size);
                bytes = unpacked;
            }
            EXPECT_EQ(bytes, file.second) << file.first;
        }
        EXPECT_EQ(GetArchiveFileImage(&record, "NOPE.BIN", NULL, NULL), -1);
        EXPECT_EQ(CloseArchive(&record), 0);
        EXPECT_EQ(image, original) << "scrambled back as given";
        EXPECT_EQ(record.inUse, 0u);
    }
}

// The way the graphics core takes its built-in archive: unpack the image, open it in memory, take files by name.
TEST_F(PackerArchiveTest, PackedArchiveImagesUnpackAndOpenInMemory)
{
    std::vector<uint8_t> packed = ReadBytesFromFile("WHOLE.PAK");
    uint32_t size = DecodeArchiveData(packed.data(), (uint32_t)packed.size(), NULL, 0);
    ASSERT_NE(size, ARCHIVE_DECODE_FAILED);
    std::vector<uint8_t> image(size);
    ASSERT_EQ(DecodeArchiveData(packed.data(), (uint32_t)packed.size(), image.data(), size), size);
    ArchiveRecord record;
    ClearArchive(&record);
    ASSERT_EQ(OpenArchiveFromMemory(&record, image.data(), size, NULL), 0);
    unsigned int offset = 0, entrySize = 0;
    ASSERT_EQ(GetArchiveFileImage(&record, "SND\\ONE.WAV", &offset, &entrySize), 0);
    ASSERT_EQ(entrySize, tree["SND\\ONE.WAV"].size());
    EXPECT_TRUE(std::equal(tree["SND\\ONE.WAV"].begin(), tree["SND\\ONE.WAV"].end(), image.begin() + offset))
        << "a file too small to gain from packing is stored";
    CloseArchive(&record);

    std::vector<uint8_t> one = ReadBytesFromFile("B.PAK");
    std::vector<uint8_t> unpacked(DecodeArchiveData(one.data(), (uint32_t)one.size(), NULL, 0));
    EXPECT_EQ(DecodeArchiveData(one.data(), (uint32_t)one.size(), unpacked.data(), (uint32_t)unpacked.size()),
              unpacked.size());
    EXPECT_EQ(unpacked, tree["IMG\\B.BMP"]);
    EXPECT_LT(one.size(), unpacked.size());
}

// One small archive, unscrambled to edit its header, then scrambled again.
std::vector<uint8_t> SmallArchive(int version, QvaKeyKind keyKind, const std::string &keyString = "")
{
    QvaWriterEntry entry;
    entry.path = "ONE.TXT";
    entry.data = MakeTestBytes(1, 40, 1);
    QvaWriterOptions options;
    options.version = version;
    options.keyKind = keyKind;
    options.keyString = keyString;
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_TRUE(WriteQvaArchive({entry}, options, &image, &error)) << error;
    return image;
}

TEST_F(FileTest, HeadersThatAreNotOursAreRefusedAndLeftAsGiven)
{
    uint8_t key[12];
    MakeArchiveKey(NULL, key);
    const struct {
        const char *what;
        size_t offset;
        uint8_t value;
        const char *openKey;
    } cases[] = {
        {"version 5", 2, 5, NULL}, {"version 0xFFFF", 3, 0xFF, NULL},     {"magic", 0, 'X', NULL},
        {"magic", 1, 'W', NULL},   {"wrong key string", 0, 'Q', "other"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> image = SmallArchive(4, QVA_KEY_BUILTIN);
        ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
        image[c.offset] = c.value;
        ScrambleArchiveBytes((uint32_t)image.size(), image.data(), 0, key);
        std::vector<uint8_t> given = image;
        ArchiveRecord record;
        ClearArchive(&record);
        EXPECT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), c.openKey), -1) << c.what;
        EXPECT_EQ(image, given) << c.what;
        EXPECT_EQ(record.inUse, 0u);
    }
    // Each key opens its own archive, and the second built-in key is found without being named.
    const struct {
        QvaKeyKind kind;
        const char *write, *open;
        int result;
    } keys[] = {{QVA_KEY_BUILTIN, "", NULL, 0},    {QVA_KEY_SECOND, "", NULL, 0},  {QVA_KEY_STRING, "abc", "abc", 0},
                {QVA_KEY_STRING, "abc", NULL, -1}, {QVA_KEY_SECOND, "", "abc", 0}, {QVA_KEY_BUILTIN, "", "abc", -1}};
    for (const auto &k : keys) {
        std::vector<uint8_t> image = SmallArchive(2, k.kind, k.write);
        ArchiveRecord record;
        ClearArchive(&record);
        EXPECT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), k.open), k.result)
            << k.kind << " " << k.write;
        CloseArchive(&record);
    }
}

// A key string whose key agrees with the second built-in key on the magic and differs on the version only, so
// that an archive scrambled with the second key reads as "QV" version 5 under it.
std::string KeyStringAliasingTheSecondKey(int version)
{
    uint8_t second[12], key[12];
    MakeSecondArchiveKey(second);
    const uint8_t wanted[4] = {second[0], second[1], (uint8_t)(second[2] ^ version ^ 5), second[3]};
    std::string keyString = "????";
    for (int position = 0; position < 4; position++) {
        for (int b = 1; b < 256; b++) {
            keyString[position] = (char)b;
            MakeArchiveKey(keyString.c_str(), key);
            if (key[position] == wanted[position]) {
                break;
            }
        }
    }
    MakeArchiveKey(keyString.c_str(), key);
    EXPECT_EQ(memcmp(key, wanted, 4), 0) << "no key string found";
    return keyString;
}

// The key is chosen by the magic alone; a version too new under the chosen key refuses the archive instead of
// sending the reader on to the second built-in key.
TEST_F(FileTest, AVersionTooNewUnderTheKeyThatGivesTheMagicIsRefused)
{
    std::vector<uint8_t> given = SmallArchive(1, QVA_KEY_SECOND);
    std::string aliasing = KeyStringAliasingTheSecondKey(1);
    ASSERT_TRUE(WriteBytesToFile("ALIAS.QVA", given));
    const struct {
        const char *key;
        int result;
    } cases[] = {{NULL, 0}, {"abc", 0}, {aliasing.c_str(), -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.key != NULL ? c.key : "(built-in)");
        std::vector<uint8_t> image = given;
        ArchiveRecord record;
        ClearArchive(&record);
        EXPECT_EQ(OpenArchiveFromMemory(&record, image.data(), (unsigned int)image.size(), c.key), c.result);
        CloseArchive(&record);
        EXPECT_EQ(image, given);
        EXPECT_EQ(OpenArchiveDirectory(&record, "ALIAS.QVA", c.key), c.result);
        EXPECT_EQ(CloseArchive(&record), 0);
    }
    DeleteFileA("ALIAS.QVA");
}

TEST_F(PackerArchiveTest, OneTableEntryPerArchivePath)
{
    char full[260];
    ASSERT_EQ(BuildArchiveFullPath((configs[0].folder + "\\DATA.QVA").c_str(), full, sizeof(full)), 0);
    int first = OpenArchiveByPath(-1, full, 0, 0);
    ASSERT_GE(first, 0);
    EXPECT_EQ(OpenArchiveByPath(-1, full, 0, 0), first);
    EXPECT_EQ(GetOpenArchiveUseCount(first), 2);
    EXPECT_EQ(OpenArchiveByPath(first, full, 0, 0), first) << "through the hint";
    EXPECT_EQ(GetOpenArchiveUseCount(first), 3);
    EXPECT_EQ(OpenArchiveByPath(-1, "NOPE\\DATA.QVA", 0, 0), -1);
    for (int i = 0; i < 3; i++) {
        ReleaseOpenArchiveUse(first);
    }
    ReleaseOpenArchiveUse(first);
    EXPECT_EQ(GetOpenArchiveUseCount(first), 0) << "never below 0";
    CloseUnusedArchives();
    EXPECT_EQ(GetOpenArchive(first), nullptr);
}

// The open-archive table holds 512 archives: one more opens only when an unused one can be released to make
// room. Whole loads, so that no archive keeps an access thread.
TEST_F(FileTest, TheOpenArchiveTableThinsOnlyUnusedArchives)
{
    std::vector<uint8_t> archive = SmallArchive(4, QVA_KEY_BUILTIN);
    CreateDirectoryA("TABLE", NULL);
    std::vector<std::string> paths;
    for (int i = 0; i <= ARCHIVE_TABLE_SIZE; i++) {
        paths.push_back("TABLE\\A" + std::to_string(i) + ".QVA");
        ASSERT_TRUE(WriteBytesToFile(paths.back(), archive));
    }
    std::vector<int> indexes;
    for (int i = 0; i < ARCHIVE_TABLE_SIZE; i++) {
        indexes.push_back(OpenArchiveByPath(-1, paths[i].c_str(), 1, 0));
        ASSERT_EQ(indexes.back(), i) << "the first free slot";
    }
    EXPECT_EQ(OpenArchiveByPath(-1, paths[ARCHIVE_TABLE_SIZE].c_str(), 1, 0), -1) << "every archive in use";
    EXPECT_EQ(OpenArchiveByPath(-1, paths[7].c_str(), 1, 0), 7) << "an open path needs no new slot";
    ReleaseOpenArchiveUse(7);
    ReleaseOpenArchiveUse(300);
    EXPECT_EQ(OpenArchiveByPath(-1, paths[ARCHIVE_TABLE_SIZE].c_str(), 1, 0), 300) << "the unused one made room";
    EXPECT_EQ(GetOpenArchiveUseCount(300), 1);
    EXPECT_EQ(GetOpenArchiveUseCount(7), 1);
    for (int i = 0; i < ARCHIVE_TABLE_SIZE; i++) {
        ReleaseOpenArchiveUse(i);
    }
    CloseUnusedArchives();
    for (const std::string &path : paths) {
        DeleteFileA(path.c_str());
    }
    RemoveDirectoryA("TABLE");
}

// The table keeps paths of up to 255 characters; an archive whose path is longer is refused, not cut.
TEST_F(PackerArchiveTest, ArchivePathsTooLongForTheTableAreRefused)
{
    char probe[260];
    ASSERT_EQ(BuildArchiveFullPath("X", probe, sizeof(probe)), 0);
    size_t baseLength = strlen(probe) - 2;
    const struct {
        size_t pathLength;
        bool opens;
    } cases[] = {{255, true}, {256, false}, {257, false}};
    std::vector<uint8_t> archive = ReadBytesFromFile(configs[0].folder + "\\DATA.QVA");
    for (const auto &c : cases) {
        std::string folder(c.pathLength - baseLength - 1 - strlen("\\DATA.QVA"), 'L');
        folder[0] = (char)('0' + c.pathLength % 10);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS) << c.pathLength;
        ASSERT_TRUE(WriteBytesToFile(folder + "\\DATA.QVA", archive));
        char full[300];
        ASSERT_EQ(BuildArchiveFullPath((folder + "\\DATA.QVA").c_str(), full, sizeof(full)), 0);
        ASSERT_EQ(strlen(full), c.pathLength);
        int index = OpenArchiveByPath(-1, full, 0, 0);
        EXPECT_EQ(index >= 0, c.opens) << c.pathLength;
        if (index >= 0) {
            ReleaseOpenArchiveUse(index);
        }
        CloseUnusedArchives();
        DeleteFileA((folder + "\\DATA.QVA").c_str());
        RemoveDirectoryA(folder.c_str());
    }
}

TEST_F(PackerArchiveTest, EntryStreamsSeekClampAndCountWholeElements)
{
    for (const PackerConfig &config : configs) {
        SetArchiveKeyString(KeyOf(config));
        std::string path = config.folder + "\\DATA\\README.TXT"; // 700 bytes
        FileHandle h = FileOpenThunk(path.c_str(), 0, 0, 0);
        ASSERT_NE(h, 0u) << path;
        const FileFunctionTable *t = GetFileAccessTable();
        const struct {
            int offset, origin, position;
        } seeks[] = {{-5, 0, 0}, {800, 0, 700}, {-10, 2, 690}, {5, 1, 695}, {-1000, 1, 0}, {10, 2, 700}};
        for (const auto &s : seeks) {
            EXPECT_EQ(t->seek(h, s.offset, s.origin), 0);
            EXPECT_EQ(t->tell(h), s.position) << s.offset << " " << s.origin;
            EXPECT_EQ(t->eof(h), 0);
        }
        uint8_t buffer[1024];
        t->seek(h, -10, 2);
        EXPECT_EQ(t->read(buffer, 4, 3, h), 2u) << "10 bytes left: two whole elements";
        EXPECT_EQ(t->tell(h), 700) << "the partial element moves the position";
        EXPECT_EQ(t->eof(h), 0);
        EXPECT_EQ(t->read(buffer, 4, 1, h), 0u);
        EXPECT_EQ(t->eof(h), -1);
        t->seek(h, 0, 0);
        EXPECT_EQ(t->read(buffer, 0, 3, h), 0u) << "element size 0";
        EXPECT_EQ(t->read(buffer, 2, 0x80000001u, h), 350u) << "2 x 0x80000001 must not wrap to 2";
        EXPECT_EQ(t->idleCheck(h), 1);
        EXPECT_EQ(t->close(h), 0);
        CloseUnusedArchives();
    }
}

} // namespace
