#include "operations/ElfFile.h"
#include "common/ByteOrder.h"

#include <vector>

namespace zq::ops
{

namespace
{

constexpr uint32_t kLoadSegment = 1; // PT_LOAD
constexpr uint16_t kExecutable = 2;  // ET_EXEC

// Fields of the ELF, program and section headers, where they lie for each class.
struct ElfLayout {
    bool wide; // 64-bit
    bool bigEndian;
    int headerSize, phoffAt, phentsizeAt, phnumAt;
    int entrySize, offsetAt, paddrAt, fileszAt, wordSize; // p_memsz follows p_filesz
    int shoffAt, shentsizeAt, shnumAt;
    int sectionSize, sectionFlagsAt, sectionOffsetAt, sectionSizeAt;
};

const ElfLayout kElf32{false, false, 52, 28, 42, 44, 32, 4, 12, 16, 4, 32, 46, 48, 40, 8, 16, 20};
const ElfLayout kElf64{true, false, 64, 32, 54, 56, 56, 8, 24, 32, 8, 40, 58, 60, 64, 8, 24, 32};

constexpr uint32_t kNoBits = 8;    // SHT_NOBITS: .bss and the like, nothing in the file
constexpr uint64_t kAllocated = 2; // SHF_ALLOC

// A loadable segment as the program headers give it.
struct Segment {
    uint64_t offset, address, size;
    uint64_t index, headerAt; // its program header: which one, and where
};

// "segment 1 (program header at offset 0x00000054)"
QString segmentOrigin(uint64_t index, uint64_t headerAt);

uint64_t field(const ElfLayout &layout, const QByteArray &bytes, int at, int size)
{
    const auto *from = reinterpret_cast<const uint8_t *>(bytes.constData()) + at;
    return layout.bigEndian ? readBigEndian<uint64_t>(from, size_t(size))
                            : readLittleEndian<uint64_t>(from, size_t(size));
}

QString offsetText(uint64_t offset)
{
    return QStringLiteral("offset ") + addressText(offset);
}

bool inFile(const QIODevice &file, uint64_t offset, uint64_t count)
{
    const uint64_t size = uint64_t(file.size());
    return offset <= size && count <= size - offset;
}

bool readInto(QIODevice &file, uint64_t offset, uint64_t count, char *to)
{
    if (!inFile(file, offset, count) || !file.seek(qint64(offset)))
        return false;
    for (uint64_t done = 0; done < count;) {
        const qint64 got = file.read(to + done, qint64(count - done));
        if (got <= 0)
            return false;
        done += uint64_t(got);
    }
    return true;
}

// Headers only: a few dozen bytes.
bool readAt(QIODevice &file, uint64_t offset, uint64_t count, QByteArray &bytes)
{
    if (!inFile(file, offset, count))
        return false;
    bytes.resize(int(count));
    return readInto(file, offset, count, bytes.data());
}

// A piece placed in the image (a whole segment, or one of its sections), to name it when a
// later one overlaps it. Named when needed, so that many pieces cost little.
struct Placed {
    uint64_t address, size;
    const Segment *segment;
    uint64_t section; // kWholeSegment, or the section's index
};
constexpr uint64_t kWholeSegment = ~uint64_t(0);

QString segmentOrigin(uint64_t index, uint64_t headerAt)
{
    return QStringLiteral("segment ") + QString::number(index) +
           QStringLiteral(" (program header at ") + offsetText(headerAt) + QLatin1Char(')');
}

QString pieceOrigin(const Placed &piece)
{
    const QString segment = segmentOrigin(piece.segment->index, piece.segment->headerAt);
    if (piece.section == kWholeSegment)
        return segment;
    return QStringLiteral("section ") + QString::number(piece.section) + QStringLiteral(" of ") +
           segment;
}

struct ElfReader {
    QIODevice &file;
    FlatImage &image;
    QString &problem;
    ElfLayout layout = kElf32;
    std::vector<Segment> segments = {};
    std::vector<Placed> placed = {};

    bool fail(const QString &what)
    {
        problem = what;
        return false;
    }

    bool readHeader(uint64_t &phoff, uint64_t &phentsize, uint64_t &phnum)
    {
        QByteArray header;
        if (!readAt(file, 0, 16, header))
            return fail(QStringLiteral("the ELF identification is cut short"));
        const char elfClass = header.at(4);
        const char byteOrder = header.at(5);
        if ((elfClass != 1 && elfClass != 2) || (byteOrder != 1 && byteOrder != 2))
            return fail(QStringLiteral("offset 0x00000004: not a valid ELF class or byte order"));
        layout = elfClass == 2 ? kElf64 : kElf32;
        layout.bigEndian = byteOrder == 2;
        if (!readAt(file, 0, uint64_t(layout.headerSize), header))
            return fail(QStringLiteral("the ELF header is cut short"));
        const uint64_t type = field(layout, header, 16, 2);
        if (type != kExecutable)
            return fail(QStringLiteral("offset 0x00000010: ELF type ") + QString::number(type) +
                        QStringLiteral(", not an executable (link the program first)"));
        phoff = field(layout, header, layout.phoffAt, layout.wordSize);
        phentsize = field(layout, header, layout.phentsizeAt, 2);
        phnum = field(layout, header, layout.phnumAt, 2);
        if (phnum == 0 || phentsize < uint64_t(layout.entrySize))
            return fail(QStringLiteral("the executable has no usable program headers"));
        return true;
    }

    bool readSegment(const QByteArray &entry, uint64_t index, uint64_t entryOffset)
    {
        if (field(layout, entry, 0, 4) != kLoadSegment)
            return true;
        const uint64_t offset = field(layout, entry, layout.offsetAt, layout.wordSize);
        const uint64_t address = field(layout, entry, layout.paddrAt, layout.wordSize);
        const uint64_t size = field(layout, entry, layout.fileszAt, layout.wordSize);
        const uint64_t memorySize =
            field(layout, entry, layout.fileszAt + layout.wordSize, layout.wordSize);
        const QString origin = segmentOrigin(index, entryOffset);
        if (size == 0)
            return true;
        if (size > uint64_t(kLargestImage))
            return fail(origin + QStringLiteral(" holds ") + QString::number(size) +
                        QStringLiteral(" bytes, more than 16 MiB"));
        if (size > memorySize)
            return fail(origin + QStringLiteral(" brings ") + QString::number(size) +
                        QStringLiteral(" bytes from the file, more than the ") +
                        QString::number(memorySize) + QStringLiteral(" bytes it occupies"));
        if (!inFile(file, offset, size))
            return fail(origin + QStringLiteral(": its bytes at ") + offsetText(offset) +
                        QStringLiteral(" lie past the end of the file"));
        if (address >= (uint64_t(1) << 32) || size > (uint64_t(1) << 32) - address)
            return fail(pastAddressText(origin, address, size));
        segments.push_back({offset, address, size, index, entryOffset});
        return true;
    }

    QString placedHolding(uint64_t address) const
    {
        for (const Placed &piece : placed)
            if (address >= piece.address && address - piece.address < piece.size)
                return pieceOrigin(piece);
        return QStringLiteral("an earlier segment");
    }

    bool addBytes(uint64_t offset, const Placed &piece)
    {
        const FlatImage::Placement placement =
            image.place(piece.address, piece.size, placed.size());
        placed.push_back(piece);
        switch (placement.kind) {
        case FlatImage::Placement::Into:
            if (readInto(file, offset, piece.size, placement.to))
                return true;
            return fail(pieceOrigin(piece) + QStringLiteral(": its bytes at ") +
                        offsetText(offset) + QStringLiteral(" cannot be read whole"));
        case FlatImage::Placement::Outside:
            placed.back().size = 0; // nothing of it is in the image
            return true;
        case FlatImage::Placement::Overlap:
            return fail(overlapText(pieceOrigin(piece), placement.overlapAt,
                                    placedHolding(placement.overlapAt)));
        case FlatImage::Placement::PastAddress:
            return fail(pastAddressText(pieceOrigin(piece), piece.address, piece.size));
        }
        return false;
    }

    QString originOf(uint64_t index) const { return pieceOrigin(placed.at(size_t(index))); }

    // The segment that holds a section's bytes gives the section's load address.
    const Segment *segmentHolding(uint64_t offset, uint64_t size) const
    {
        for (const Segment &segment : segments)
            if (offset >= segment.offset && size <= segment.size &&
                offset - segment.offset <= segment.size - size)
                return &segment;
        return nullptr;
    }

    // Within a segment only the allocated sections count, each at its load address, as
    // objcopy takes them: the linker's padding between two sections is not part of the
    // image, so the flat image fills it with 0xFF like any other gap. Without section headers
    // the segments are taken whole.
    bool addSections(uint64_t shoff, uint64_t shentsize, uint64_t shnum)
    {
        bool any = false;
        for (uint64_t i = 0; i < shnum; ++i) {
            QByteArray section;
            if (!readAt(file, shoff + i * shentsize, uint64_t(layout.sectionSize), section))
                return fail(QStringLiteral("section header ") + QString::number(i) +
                            QStringLiteral(" lies past the end of the file"));
            const uint64_t flags = field(layout, section, layout.sectionFlagsAt, layout.wordSize);
            const uint64_t offset = field(layout, section, layout.sectionOffsetAt, layout.wordSize);
            const uint64_t size = field(layout, section, layout.sectionSizeAt, layout.wordSize);
            if (field(layout, section, 4, 4) == kNoBits || !(flags & kAllocated) || size == 0)
                continue;
            const Segment *segment = segmentHolding(offset, size);
            if (!segment)
                continue;
            any = true;
            if (!addBytes(offset,
                          {segment->address + (offset - segment->offset), size, segment, i}))
                return false;
        }
        return any || addSegments();
    }

    bool addSegments()
    {
        for (const Segment &segment : segments)
            if (!addBytes(segment.offset, {segment.address, segment.size, &segment, kWholeSegment}))
                return false;
        return true;
    }

    bool read()
    {
        uint64_t phoff = 0, phentsize = 0, phnum = 0;
        if (!readHeader(phoff, phentsize, phnum))
            return false;
        for (uint64_t i = 0; i < phnum; ++i) {
            const uint64_t at = phoff + i * phentsize;
            QByteArray entry;
            if (!readAt(file, at, uint64_t(layout.entrySize), entry))
                return fail(QStringLiteral("program header ") + QString::number(i) +
                            QStringLiteral(" at ") + offsetText(at) +
                            QStringLiteral(" lies past the end of the file"));
            if (!readSegment(entry, i, at))
                return false;
        }
        QByteArray header;
        readAt(file, 0, uint64_t(layout.headerSize), header);
        const uint64_t shoff = field(layout, header, layout.shoffAt, layout.wordSize);
        const uint64_t shentsize = field(layout, header, layout.shentsizeAt, 2);
        const uint64_t shnum = field(layout, header, layout.shnumAt, 2);
        if (shoff == 0 || shnum == 0 || shentsize < uint64_t(layout.sectionSize))
            return addSegments();
        return addSections(shoff, shentsize, shnum);
    }
};

} // namespace

bool looksLikeElf(const QByteArray &head)
{
    return head.startsWith("\x7F"
                           "ELF");
}

bool readElf(QIODevice &file, QByteArray &image, uint32_t &base, QString &problem)
{
    FlatImage flat;
    ElfReader reader{file, flat, problem};
    return reader.read() && flat.finish(image, base, problem, [&reader](uint64_t index) {
        return reader.originOf(index);
    });
}

} // namespace zq::ops
