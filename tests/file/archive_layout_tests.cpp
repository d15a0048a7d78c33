// An archive assembled byte by byte from the format's layout, independent of the packer and of the reader's own
// constants: header, a data area with one stored entry and one packed entry (its token stream written by hand),
// the name, file and directory tables, and the built-in key written out as bytes. Every version's header and
// entry size, read back from disk through the archive-aware set and from an image in memory.
#include "archive_test_data.h"

#include <algorithm>

namespace
{

const uint8_t kBuiltinKey[12] = {0x4A, 0x5B, 0xEF, 0xA4, 0x4A, 0x89, 0x4A, 0x49, 0xAD, 0x12, 0xCD, 0xAB};
const std::string kStored = "stored bytes\r\n";
const std::string kUnpacked = "ABCABCABCABC\xFE!";
// Unpacked size 14, packed size 18, escape 0xFE; "ABC", a reference of length 9 at distance 3 (code 0x28 =
// (9 - 4) << 3, one distance byte 3 - 1), the escape byte escaped, "!".
const std::vector<uint8_t> kPacked = {14, 0, 0, 0, 18, 0, 0, 0, 0xFE, 'A', 'B', 'C', 0xFE, 0x28, 0x02, 0xFE, 0xFE, '!'};
const uint64_t kWriteTime = 132366960000000000ull; // 2020-06-15 12:00 UTC

struct Bytes {
    std::vector<uint8_t> out;
    void U16(uint32_t v)
    {
        out.insert(out.end(), {(uint8_t)v, (uint8_t)(v >> 8)});
    }
    void U32(uint32_t v)
    {
        U16(v & 0xFFFF), U16(v >> 16);
    }
    void U64(uint64_t v)
    {
        U32((uint32_t)v), U32((uint32_t)(v >> 32));
    }
    void Padded(const std::string &text, size_t size)
    {
        out.insert(out.end(), text.begin(), text.end());
        out.insert(out.end(), size - text.size(), 0);
    }
    // Units of 4 bytes, check sum of the upper-cased name, the upper-cased name, the name as written.
    void Name(const std::string &written)
    {
        std::string upper = written;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        size_t units = upper.size() / 4 + 1;
        uint32_t sum = 0;
        for (unsigned char c : upper) {
            sum += c;
        }
        U16((uint32_t)units);
        U16(sum & 0xFFFF);
        Padded(upper, units * 4);
        Padded(written, units * 4);
    }
    void Entry(int version, uint32_t name, uint32_t attributes, uint32_t location, uint32_t size, uint32_t packed)
    {
        U32(name), U32(attributes), U64(kWriteTime), U64(kWriteTime), U64(kWriteTime), U32(location), U32(size);
        if (version >= 2) {
            U32(packed);
        }
    }
};

// Root: "Stored.txt" and the directory "Sub", which holds "Packed.bin" (packed from version 2, else stored).
std::vector<uint8_t> HandArchive(int version)
{
    const uint32_t headerSize = version == 4 ? 28 : 24, entrySize = version >= 2 ? 44 : 40;
    const bool packed = version >= 2;
    Bytes data, names, files, directories;
    data.Padded(kStored, kStored.size());
    data.out.insert(data.out.end(), kPacked.begin(), kPacked.end());
    if (!packed) {
        data.out.resize(kStored.size());
        data.Padded(kUnpacked, kUnpacked.size());
    }
    names.Name("Stored.txt"); // at 0
    names.Name("Sub");        // at 28
    names.Name("Packed.bin"); // at 40
    files.Entry(version, 0, 0x20, 0, 14, 0xFFFFFFFF);
    files.Entry(version, 28, 0x10, 16, 0, 0xFFFFFFFF);
    files.Entry(version, 40, 0x20, 14, 14, packed ? 18 : 0xFFFFFFFF);
    directories.U32(0), directories.U32(0xFFFFFFFF), directories.U32(2), directories.U32(0);
    directories.U32(16), directories.U32(0), directories.U32(1), directories.U32(2 * entrySize);
    const uint32_t blockSize = (uint32_t)(names.out.size() + files.out.size() + directories.out.size());
    Bytes archive;
    archive.Padded("QV", 2);
    archive.U16(version), archive.U32(blockSize), archive.U32(headerSize);
    archive.U32(headerSize + (uint32_t)data.out.size()), archive.U32((uint32_t)names.out.size());
    archive.U32((uint32_t)(names.out.size() + files.out.size()));
    if (version == 4) {
        archive.U32(932);
    }
    for (const Bytes *part : {&data, &names, &files, &directories}) {
        archive.out.insert(archive.out.end(), part->out.begin(), part->out.end());
    }
    for (size_t i = 0; i < archive.out.size(); i++) {
        archive.out[i] ^= kBuiltinKey[i % 12];
    }
    return archive.out;
}

std::vector<uint8_t> Text(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST_F(FileTest, AnArchiveBuiltFromTheLayoutReadsBackInEveryVersion)
{
    for (int version = 0; version <= 4; version++) {
        SCOPED_TRACE(version);
        std::string folder = "HAND" + std::to_string(version);
        ASSERT_TRUE(WriteBytesToFile(folder + ".QVA", HandArchive(version)));
        const struct {
            const char *inner;
            std::vector<uint8_t> expected;
        } files[] = {{"stored.TXT", Text(kStored)}, {"SUB\\packed.bin", Text(kUnpacked)}};
        for (const auto &file : files) {
            for (int async = 0; async < 2; async++) {
                StreamRef stream = OpenFileStream(folder + "\\" + file.inner, 0, async);
                ASSERT_NE(stream.handle, 0u) << file.inner;
                EXPECT_EQ(ReadWholeStream(stream, 5), file.expected) << file.inner;
                stream.functions.close(stream.handle);
            }
        }
        FileInfo info;
        DWORD_PTR find = ArchiveAwareFindFirst((folder + "\\Sub\\P*").c_str(), &info);
        ASSERT_NE(find, FILE_FIND_FAILED);
        EXPECT_STREQ(info.name, "Packed.bin");
        EXPECT_EQ(info.sizeLow, 14u);
        EXPECT_EQ(info.lastWriteTime.year, 2020);
        EXPECT_EQ(info.lastWriteTime.month, 6);
        ArchiveAwareFindClose(find);

        std::vector<uint8_t> image = HandArchive(version), given = image;
        ArchiveRecord record;
        ClearArchive(&record);
        ASSERT_EQ(OpenArchiveFromMemory(&record, image.data(), (uint32_t)image.size(), NULL), 0);
        unsigned int offset = 0, size = 0;
        ASSERT_EQ(GetArchiveFileImage(&record, "Sub\\Packed.bin", &offset, &size), 0);
        EXPECT_EQ(offset, (version == 4 ? 28u : 24u) + 14u);
        EXPECT_EQ(size, 14u);
        CloseArchive(&record);
        EXPECT_EQ(image, given) << "handed back scrambled";
        CloseUnusedArchives();
        DeleteFileA((folder + ".QVA").c_str());
    }
}

} // namespace
