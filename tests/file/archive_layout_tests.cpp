// An archive assembled byte by byte from the format's layout, independent of the packer and of the reader's own
// constants (the built-in key is written out as bytes), read back in every version from disk and from memory.
#include "archive_test_data.h"

#include <algorithm>
#include <numeric>

namespace
{

const uint8_t kBuiltinKey[12] = {0x4A, 0x5B, 0xEF, 0xA4, 0x4A, 0x89, 0x4A, 0x49, 0xAD, 0x12, 0xCD, 0xAB};

std::string Le(uint64_t v, int size)
{
    std::string out;
    for (int i = 0; i < size; i++) {
        out += (char)(v >> 8 * i);
    }
    return out;
}

const std::string kStored = "stored bytes\r\n", kUnpacked = "ABCABCABCABC\xFE!";
// Sizes 14 and 18, escape 0xFE; "ABC", a reference of length 9 at distance 3 (code (9 - 4) << 3, distance byte
// 3 - 1), the escape byte escaped, "!".
const std::string kPacked = Le(14, 4) + Le(18, 4) + "\xFE" + "ABC\xFE\x28\x02\xFE\xFE!";

// Units of 4 bytes, check sum of the upper-cased name, the upper-cased name, the name as written; both padded.
std::string Name(const std::string &written)
{
    std::string upper = written;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    const size_t units = upper.size() / 4 + 1;
    const std::string padding(units * 4 - upper.size(), 0);
    return Le(units, 2) + Le(std::accumulate(upper.begin(), upper.end(), 0), 2) + upper + padding + written + padding;
}

std::string Entry(int version, uint32_t name, uint32_t attributes, uint32_t location, uint32_t size, uint32_t packed)
{
    const std::string time = Le(132366960000000000ull, 8); // 2020-06-15 12:00 UTC
    return Le(name, 4) + Le(attributes, 4) + time + time + time + Le(location, 4) + Le(size, 4) +
           (version >= 2 ? Le(packed, 4) : "");
}

// Root: "Stored.txt" and the directory "Sub", which holds "Packed.bin" (packed from version 2, else stored).
std::vector<uint8_t> HandArchive(int version)
{
    const uint32_t headerSize = version == 4 ? 28 : 24, entrySize = version >= 2 ? 44 : 40;
    const bool packed = version >= 2;
    const std::string names = Name("Stored.txt") + Name("Sub") + Name("Packed.bin"); // at 0, 28 and 40
    const std::string files = Entry(version, 0, 0x20, 0, 14, ~0u) + Entry(version, 28, 0x10, 16, 0, ~0u) +
                              Entry(version, 40, 0x20, 14, 14, packed ? 18 : ~0u);
    std::string directories;
    for (uint32_t field : {0u, ~0u, 2u, 0u, 16u, 0u, 1u, 2 * entrySize}) {
        directories += Le(field, 4);
    }
    const std::string data = kStored + (packed ? kPacked : kUnpacked);
    const std::string archive = "QV" + Le(version, 2) + Le(names.size() + files.size() + directories.size(), 4) +
                                Le(headerSize, 4) + Le(headerSize + data.size(), 4) + Le(names.size(), 4) +
                                Le(names.size() + files.size(), 4) + (version == 4 ? Le(932, 4) : "") + data + names +
                                files + directories;
    std::vector<uint8_t> image(archive.begin(), archive.end());
    for (size_t i = 0; i < image.size(); i++) {
        image[i] ^= kBuiltinKey[i % 12];
    }
    return image;
}

TEST_F(FileTest, AnArchiveBuiltFromTheLayoutReadsBackInEveryVersion)
{
    for (int version = 0; version <= 4; version++) {
        SCOPED_TRACE(version);
        const std::string folder = "HAND" + std::to_string(version);
        std::vector<uint8_t> image = HandArchive(version);
        ASSERT_TRUE(WriteBytesToFile(folder + ".QVA", image));
        for (const auto &file : {std::make_pair("stored.TXT", kStored), std::make_pair("SUB\\packed.bin", kUnpacked)}) {
            for (int async = 0; async < 2; async++) {
                StreamRef stream = OpenFileStream(folder + "\\" + file.first, 0, async);
                ASSERT_NE(stream.handle, 0u) << file.first;
                std::vector<uint8_t> got = ReadWholeStream(stream, 5);
                EXPECT_EQ(std::string(got.begin(), got.end()), file.second) << file.first << " async " << async;
                stream.functions.close(stream.handle);
            }
        }
        FileInfo info;
        DWORD_PTR find = ArchiveAwareFindFirst((folder + "\\Sub\\P*").c_str(), &info);
        ASSERT_NE(find, FILE_FIND_FAILED);
        EXPECT_STREQ(info.name, "Packed.bin");
        EXPECT_EQ(info.sizeLow, 14u);
        EXPECT_EQ(info.lastWriteTime.year * 100 + info.lastWriteTime.month, 202006);
        ArchiveAwareFindClose(find);

        ArchiveRecord record;
        ClearArchive(&record);
        ASSERT_EQ(OpenArchiveFromMemory(&record, image.data(), (uint32_t)image.size(), NULL), 0);
        unsigned int offset = 0, size = 0;
        ASSERT_EQ(GetArchiveFileImage(&record, "Sub\\Packed.bin", &offset, &size), 0);
        EXPECT_EQ(offset, (version == 4 ? 28u : 24u) + 14u); // after the header and the stored entry
        EXPECT_EQ(size, 14u);
        CloseArchive(&record);
        CloseUnusedArchives();
        DeleteFileA((folder + ".QVA").c_str());
    }
}

} // namespace
