// Writing "QVA" archives and packed buffers (see qva_writer.h). Plain C++ without platform calls; the layout
// is header, data area, then the directory block (name table, file table, directory table).
#include "tools/qva_writer.h"

#include "file/archive_format.h"
#include "font/font.h"

#include <string.h>

#include <memory>

// ---------------------------------------------------------------------------------------------------------------
// Compressor: greedy LZ over hash chains of 4-byte prefixes. Each chain link carries the prefix of the position
// it names, so a step reads one link and touches the data only for a real prefix match. A walk ends at its depth
// bound, at the distance limit, or at the first link of another prefix (a hash collision): on data without
// matches every position then costs one look-up instead of a walk through a chain far larger than the caches.

static const int kChainDepth = 48;
static const int kMinHashBits = 12;
static const int kMaxHashBits = 22;
static const uint32_t kChainEnd = 0xFFFFFFFFu; // inputs are shorter than 4 GB - 1

namespace
{

struct ChainLink {
    uint32_t position; // kChainEnd: the chain ends
    uint32_t prefix;
};

} // namespace

static uint32_t LoadPrefix(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// A table about as large as the input (within bounds), so that different prefixes rarely share a chain.
static int ChooseHashBits(size_t size)
{
    int bits = kMinHashBits;
    while (bits < kMaxHashBits && ((size_t)1 << bits) < size) {
        bits++;
    }
    return bits;
}

// The escape byte is the least frequent byte, so escaped literals cost least.
static uint8_t ChooseEscapeByte(const uint8_t *data, size_t size)
{
    size_t counts[256] = {0};
    for (size_t i = 0; i < size; i++) {
        counts[data[i]]++;
    }
    int best = 0;
    for (int b = 1; b < 256; b++) {
        if (counts[b] < counts[best]) {
            best = b;
        }
    }
    return (uint8_t)best;
}

static uint32_t DistanceBytes(uint32_t distance)
{
    uint32_t field = distance - 1;
    return field < 0x100 ? 1 : field < 0x10000 ? 2 : 3;
}

static void EmitMatch(std::vector<uint8_t> &out, uint8_t escape, uint32_t length, uint32_t distance)
{
    uint32_t lengthField = length - ARCHIVE_PACK_MIN_LENGTH;
    uint32_t distanceBytes = DistanceBytes(distance);
    uint32_t k = ((lengthField & 31) << 3) | (distanceBytes - 1);
    if (lengthField >= 32) {
        k |= 4;
    }
    out.push_back(escape);
    out.push_back((uint8_t)(k >= escape ? k + 1 : k));
    if (lengthField >= 32) {
        out.push_back((uint8_t)(lengthField >> 5));
    }
    uint32_t field = distance - 1;
    for (uint32_t i = 0; i < distanceBytes; i++) {
        out.push_back((uint8_t)(field >> (8 * i)));
    }
}

static uint32_t MatchCost(uint32_t length, uint32_t distance)
{
    return 2 + (length - ARCHIVE_PACK_MIN_LENGTH >= 32 ? 1 : 0) + DistanceBytes(distance);
}

namespace
{

// The hash chains: the newest link of each hash, and for every inserted position the link it displaced.
class MatchFinder
{
  public:
    MatchFinder(const uint8_t *data, size_t size)
        : data_(data), size_(size), bits_(ChooseHashBits(size)), heads_((size_t)1 << bits_, ChainLink{kChainEnd, 0}),
          links_(size)
    {
    }

    void Insert(size_t i)
    {
        if (i + ARCHIVE_PACK_MIN_LENGTH <= size_) {
            uint32_t prefix = LoadPrefix(data_ + i);
            ChainLink &head = heads_[Hash(prefix)];
            links_[i] = head;
            head = ChainLink{(uint32_t)i, prefix};
        }
    }

    // The longest earlier match at i (length 0 when none), walking the chain before i is inserted.
    uint32_t Find(size_t i, uint32_t *distance) const
    {
        if (i + ARCHIVE_PACK_MIN_LENGTH > size_) {
            return 0;
        }
        uint32_t prefix = LoadPrefix(data_ + i);
        size_t limit = size_ - i < ARCHIVE_PACK_MAX_LENGTH ? size_ - i : ARCHIVE_PACK_MAX_LENGTH;
        uint32_t bestLength = 0;
        ChainLink link = heads_[Hash(prefix)];
        for (int depth = 0; link.position != kChainEnd && depth < kChainDepth && link.prefix == prefix; depth++) {
            size_t candidate = (size_t)link.position;
            if (i - candidate > ARCHIVE_PACK_MAX_DISTANCE) {
                break;
            }
            uint32_t length = ARCHIVE_PACK_MIN_LENGTH;
            while (length < limit && data_[candidate + length] == data_[i + length]) {
                length++;
            }
            if (length > bestLength) {
                bestLength = length;
                *distance = (uint32_t)(i - candidate);
            }
            link = links_[candidate];
        }
        return bestLength;
    }

  private:
    uint32_t Hash(uint32_t prefix) const
    {
        return (prefix * 2654435761u) >> (32 - bits_);
    }

    const uint8_t *data_;
    size_t size_;
    int bits_;
    std::vector<ChainLink> heads_;
    std::vector<ChainLink> links_;
};

} // namespace

static std::vector<uint8_t> CompressArchiveData(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> out(ARCHIVE_PACK_HEADER_SIZE);
    uint8_t escape = ChooseEscapeByte(data, size);
    MatchFinder finder(data, size);
    size_t i = 0;
    while (i < size) {
        uint32_t distance = 0;
        uint32_t length = finder.Find(i, &distance);
        if (length >= ARCHIVE_PACK_MIN_LENGTH && length > MatchCost(length, distance)) {
            EmitMatch(out, escape, length, distance);
            for (size_t j = i; j < i + length; j++) {
                finder.Insert(j);
            }
            i += length;
            continue;
        }
        finder.Insert(i);
        out.push_back(data[i]);
        if (data[i] == escape) {
            out.push_back(escape);
        }
        i++;
    }
    WriteArchiveU32(out.data(), (uint32_t)size);
    WriteArchiveU32(out.data() + 4, (uint32_t)out.size());
    out[8] = escape;
    return out;
}

bool PackArchiveData(const uint8_t *data, size_t size, std::vector<uint8_t> *packed, std::string *error)
{
    if (size >= ARCHIVE_DECODE_FAILED) {
        *error = "data of 4 GB or more cannot be packed";
        return false;
    }
    *packed = CompressArchiveData(data, size);
    std::vector<uint8_t> check(size + 1);
    if (packed->size() > 0xFFFFFFFFu ||
        DecodeArchiveData(packed->data(), (uint32_t)packed->size(), check.data(), (uint32_t)check.size()) != size ||
        memcmp(check.data(), data, size) != 0) {
        packed->clear();
        *error = "compressor self-check failed";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Archive layout.

namespace
{

struct Node {
    ArchiveNameKey key;
    std::string name; // as written
    bool isDirectory = true;
    const QvaWriterEntry *entry = nullptr; // null for a directory added as a parent
    std::vector<std::unique_ptr<Node>> children;
    uint32_t directoryOffset = 0;
};

struct Layout {
    const QvaWriterOptions *options;
    int charSet;
    uint32_t fileEntrySize;
    std::vector<uint8_t> data;
    std::vector<uint8_t> names;
    std::vector<uint8_t> files;
    std::vector<uint8_t> directories;
};

} // namespace

static Node *FindChild(Node *parent, const ArchiveNameKey &key)
{
    for (auto &child : parent->children) {
        if (child->key.units == key.units && memcmp(child->key.name, key.name, key.units * 4) == 0) {
            return child.get();
        }
    }
    return nullptr;
}

// Walks the entry's path from the root, adding missing parent directories.
static bool AddEntry(Node *root, const QvaWriterEntry &entry, int charSet, std::string *error)
{
    const char *p = entry.path.c_str();
    Node *node = root;
    while (*p != 0) {
        ArchiveNameKey key;
        if (MakeArchiveNameKey(p, charSet, &key) != 0) {
            *error = "name too long: " + entry.path;
            return false;
        }
        std::string name(p, key.length);
        p += key.length;
        if (*p != 0) {
            p++;
        }
        if (key.length == 0) {
            continue;
        }
        bool last = *p == 0;
        Node *child = FindChild(node, key);
        if (child != nullptr && (last || !child->isDirectory)) {
            *error = "entry given twice or under a file: " + entry.path;
            return false;
        }
        if (child == nullptr) {
            node->children.push_back(std::unique_ptr<Node>(new Node));
            child = node->children.back().get();
            child->key = key;
            child->name = name;
        }
        if (last) {
            child->isDirectory = entry.isDirectory;
            child->entry = &entry;
        }
        node = child;
    }
    return true;
}

static void AppendU32(std::vector<uint8_t> &out, uint32_t value)
{
    uint8_t bytes[4];
    WriteArchiveU32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

static void AppendU64(std::vector<uint8_t> &out, uint64_t value)
{
    AppendU32(out, (uint32_t)value);
    AppendU32(out, (uint32_t)(value >> 32));
}

static uint32_t AppendName(Layout &layout, const Node &node)
{
    uint32_t offset = (uint32_t)layout.names.size();
    uint8_t header[4];
    WriteArchiveU16(header, node.key.units);
    WriteArchiveU16(header + 2, node.key.checkSum);
    layout.names.insert(layout.names.end(), header, header + 4);
    layout.names.insert(layout.names.end(), node.key.name, node.key.name + node.key.units * 4);
    std::vector<uint8_t> written(node.key.units * 4, 0);
    memcpy(written.data(), node.name.data(), node.name.size());
    layout.names.insert(layout.names.end(), written.begin(), written.end());
    return offset;
}

// Stores a file's bytes in the data area: packed when asked (and, for QVA_PACK_SMALLER, when that pays).
static bool AppendData(Layout &layout, const std::vector<uint8_t> &data, uint32_t *offset, uint32_t *packedSize,
                       std::string *error)
{
    *offset = (uint32_t)layout.data.size();
    *packedSize = ARCHIVE_STORED_UNPACKED;
    QvaCompression compression = layout.options->compression;
    if (compression != QVA_STORE) {
        std::vector<uint8_t> packed;
        if (!PackArchiveData(data.data(), data.size(), &packed, error)) {
            return false;
        }
        if (compression == QVA_PACK_ALL || packed.size() < data.size()) {
            *packedSize = (uint32_t)packed.size();
            layout.data.insert(layout.data.end(), packed.begin(), packed.end());
            return true;
        }
    }
    layout.data.insert(layout.data.end(), data.begin(), data.end());
    return true;
}

static bool AppendFileEntry(Layout &layout, const Node &node, std::string *error)
{
    uint32_t nameOffset = AppendName(layout, node);
    const QvaWriterEntry *entry = node.entry;
    uint32_t attributes = entry != nullptr ? entry->attributes : 0;
    uint32_t location = node.directoryOffset, size = 0, packedSize = ARCHIVE_STORED_UNPACKED;
    if (node.isDirectory) {
        attributes |= ARCHIVE_ATTRIBUTE_DIRECTORY;
    } else {
        attributes &= ~ARCHIVE_ATTRIBUTE_DIRECTORY;
        size = (uint32_t)entry->data.size();
        if (!AppendData(layout, entry->data, &location, &packedSize, error)) {
            return false;
        }
    }
    AppendU32(layout.files, nameOffset);
    AppendU32(layout.files, attributes);
    AppendU64(layout.files, entry != nullptr ? entry->creationTime : 0);
    AppendU64(layout.files, entry != nullptr ? entry->accessTime : 0);
    AppendU64(layout.files, entry != nullptr ? entry->writeTime : 0);
    AppendU32(layout.files, location);
    AppendU32(layout.files, size);
    if (layout.fileEntrySize == ARCHIVE_FILE_ENTRY_SIZE_PACKED) {
        AppendU32(layout.files, packedSize);
    }
    return true;
}

// Directories in breadth-first order, the root first at offset 0; each directory's entries lie together.
static bool LayOutDirectories(Layout &layout, Node *root, std::string *error)
{
    std::vector<std::pair<Node *, uint32_t>> order; // directory and its parent's offset
    order.push_back(std::make_pair(root, ARCHIVE_NO_PARENT));
    for (size_t i = 0; i < order.size(); i++) {
        order[i].first->directoryOffset = (uint32_t)(i * ARCHIVE_DIRECTORY_ENTRY_SIZE);
        for (auto &child : order[i].first->children) {
            if (child->isDirectory) {
                order.push_back(std::make_pair(child.get(), order[i].first->directoryOffset));
            }
        }
    }
    for (auto &item : order) {
        Node *directory = item.first;
        AppendU32(layout.directories, directory->directoryOffset);
        AppendU32(layout.directories, item.second);
        AppendU32(layout.directories, (uint32_t)directory->children.size());
        AppendU32(layout.directories, (uint32_t)layout.files.size());
        for (auto &child : directory->children) {
            if (!AppendFileEntry(layout, *child, error)) {
                return false;
            }
        }
    }
    return true;
}

bool WriteQvaArchive(const std::vector<QvaWriterEntry> &entries, const QvaWriterOptions &options,
                     std::vector<uint8_t> *archive, std::string *error)
{
    if (options.version < 0 || options.version >= ARCHIVE_VERSION_LIMIT) {
        *error = "version must be 0 to 4";
        return false;
    }
    if (options.compression != QVA_STORE && options.version < ARCHIVE_FIRST_PACKED_VERSION) {
        *error = "compressed entries need version 2 or above";
        return false;
    }
    Layout layout;
    layout.options = &options;
    layout.charSet = options.version >= ARCHIVE_CODE_PAGE_VERSION ? GetCodePageCharSet(options.codePage) : 0;
    layout.fileEntrySize =
        options.version >= ARCHIVE_FIRST_PACKED_VERSION ? ARCHIVE_FILE_ENTRY_SIZE_PACKED : ARCHIVE_FILE_ENTRY_SIZE;
    Node root;
    for (const QvaWriterEntry &entry : entries) {
        if (!AddEntry(&root, entry, layout.charSet, error)) {
            return false;
        }
    }
    if (!LayOutDirectories(layout, &root, error)) {
        return false;
    }
    uint32_t headerSize = GetArchiveHeaderSize((uint32_t)options.version);
    uint64_t total = (uint64_t)headerSize + layout.data.size() + layout.names.size() + layout.files.size() +
                     layout.directories.size();
    if (total > 0xFFFFFFFFull) {
        *error = "archive larger than 4 GB";
        return false;
    }
    std::vector<uint8_t> &out = *archive;
    out.assign(headerSize, 0);
    out[0] = ARCHIVE_MAGIC_0;
    out[1] = ARCHIVE_MAGIC_1;
    WriteArchiveU16(&out[2], (uint32_t)options.version);
    uint32_t blockSize = (uint32_t)(layout.names.size() + layout.files.size() + layout.directories.size());
    WriteArchiveU32(&out[4], blockSize);
    WriteArchiveU32(&out[8], headerSize);
    WriteArchiveU32(&out[12], headerSize + (uint32_t)layout.data.size());
    WriteArchiveU32(&out[16], (uint32_t)layout.names.size());
    WriteArchiveU32(&out[20], (uint32_t)(layout.names.size() + layout.files.size()));
    if (options.version >= ARCHIVE_CODE_PAGE_VERSION) {
        WriteArchiveU32(&out[24], options.codePage);
    }
    out.insert(out.end(), layout.data.begin(), layout.data.end());
    out.insert(out.end(), layout.names.begin(), layout.names.end());
    out.insert(out.end(), layout.files.begin(), layout.files.end());
    out.insert(out.end(), layout.directories.begin(), layout.directories.end());
    uint8_t key[ARCHIVE_KEY_SIZE];
    if (options.keyKind == QVA_KEY_SECOND) {
        MakeSecondArchiveKey(key);
    } else {
        MakeArchiveKey(options.keyKind == QVA_KEY_STRING ? options.keyString.c_str() : nullptr, key);
    }
    ScrambleArchiveBytes((uint32_t)out.size(), out.data(), 0, key);
    return true;
}
