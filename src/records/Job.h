#pragma once

// A job file: what an engineer released for a line, pinned by hash. It names its image (path
// relative to the job file) with the image's SHA-256, CRC-32, length and format; the operation
// (program, which also checks, or download for stand-alone work); the panel's choices; an
// optional serial-number policy and an optional count limit. docs/job-file.md describes it.
//
// The job knows nothing of the board or the protocol: MCU type and SWD speed are kept as the
// words the file holds ("ZQ427", "high"); zqprog checks and maps them.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace zq::records
{

// The first line of every job file says "zq-job 1"; a reader refuses a version it does not know.
constexpr int kJobFormatVersion = 1;

enum class JobOperation { Program, Download };
QString jobOperationName(JobOperation operation); // "program", "download"

enum class SerialEncoding {
    LittleEndian, // binary, least significant byte first
    BigEndian,    // binary, most significant byte first
    AsciiDecimal, // decimal digits, zero-padded to the length
    AsciiHex,     // upper-case hex digits, zero-padded to the length
};
QString serialEncodingName(SerialEncoding encoding); // "le", "be", "ascii-dec", "ascii-hex"

// Where a unit's serial number goes and where the numbers come from.
struct SerialPolicy {
    uint32_t address = 0; // of its first byte, in the target's address space (the image's base
                          // plus the offset; a raw binary's base is 0)
    int length = 4;       // bytes: 1 to 8 for binary, 1 to 20 for ASCII
    SerialEncoding encoding = SerialEncoding::LittleEndian;
    // Numbers are handed out once within a series in one store; jobs that share a series (a new
    // revision of the image) go on counting. Defaults to the job's name.
    QString series;

    // A counter: start, start + step, ... up to last; or a list file, one number per line.
    quint64 start = 1;
    quint64 step = 1;
    quint64 last = 0;      // 0 when written: the largest the length and encoding can hold
    QString listFile;      // as written, relative to the job file; empty for a counter
    QString listSha256;    // the list file's SHA-256, pinned like the image
    QList<quint64> listed; // the list's numbers, read with the job

    bool fromList() const { return !listFile.isEmpty(); }
    // How many numbers the series has, and the index-th (0-based).
    qint64 count() const;
    quint64 valueAt(qint64 index) const;
};

struct Job {
    QString name;
    QString revision;

    QString image; // as written, relative to the job file's folder
    QString imageSha256;
    uint32_t imageCrc = 0;
    int32_t imageLength = 0;
    QString imageFormat; // as zqprog names formats: "raw binary", "Intel HEX", ...

    JobOperation operation = JobOperation::Program;
    QString mcuType;                           // "ZQ427"; empty when the job names none
    QString swdSpeed = QStringLiteral("high"); // high, middle or low
    bool powerOff = true;                      // cut the target's supply when done
    QString programNumber = QStringLiteral("100000");

    std::optional<SerialPolicy> serial;
    std::optional<qint64> limit; // passed units of this job in its store, all stations

    QString folder; // the job file's folder (absolute): relative paths resolve against it

    QString imagePath() const; // the image's path, resolved
    QString listPath() const;  // the serial list's path, resolved; empty for a counter
    // The job's content in one fixed form (keys in order, values normalised, no comments):
    // two files that say the same give the same text, and the hash covers exactly it.
    QByteArray canonicalText() const;
    QString hash() const; // SHA-256 of canonicalText, 64 lower-case hex digits
};

// The file's whole text as job create writes it: a comment header, then the canonical keys.
QByteArray jobFileText(const Job &job);

// Reads and checks a job file: its syntax, version, every key and value, and a serial list file
// (read and checked against its hash). The image itself is not read here. On failure error
// names the file, the line and what is wrong.
struct JobRead {
    std::optional<Job> job;
    QString error;
};
JobRead readJobFile(const QString &path);

// What a job may not be, whoever made it: a download job with serial numbers (the board
// programs its units by itself), a serial that does not fit its length, a counter whose step is
// 0 or whose last is below its start, a list with a repeated number. Empty when sound.
QString jobProblem(const Job &job);

// The serial number's bytes in the target; error when the value does not fit the length.
std::optional<QByteArray> encodeSerial(const SerialPolicy &policy, quint64 value, QString *error);

// Writes the value's bytes into the flat image that starts at base. Empty on success, else why
// not (the field lies outside the image, or the value does not fit).
QString patchSerial(QByteArray &image, uint32_t base, const SerialPolicy &policy, quint64 value);

// How records and people show a serial: decimal for the binary and decimal encodings, the
// padded hex digits for ascii-hex.
QString serialText(const SerialPolicy &policy, quint64 value);

QString sha256Hex(const QByteArray &bytes);

} // namespace zq::records
