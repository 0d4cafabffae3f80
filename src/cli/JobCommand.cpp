#include "cli/JobCommand.h"

#include "cli/CommandLine.h"
#include "common/Crc32.h"
#include "config/RegularFile.h"
#include "frontend/NumberText.h"
#include "operations/ImageFile.h"
#include "protocol/TargetIds.h"
#include "records/Job.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <limits>

namespace zq::cli
{

namespace
{

using records::Job;
using records::SerialEncoding;
using records::SerialPolicy;

uint32_t crcOf(const QByteArray &bytes)
{
    return crc32(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
}

SubcommandResult refused(const QString &error, int exitCode = OperationFailed)
{
    SubcommandResult result;
    result.subcommand = QStringLiteral("job");
    result.exitCode = exitCode;
    result.error = error;
    return result;
}

bool parseNumber(const QString &text, quint64 &value)
{
    bool ok = false;
    value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                ? text.mid(2).toULongLong(&ok, 16)
                : text.toULongLong(&ok, 10);
    return ok;
}

// The serial policy from job create's --serial-* options; nothing when none is given.
QString serialFromOptions(const QHash<QString, QString> &given, std::optional<SerialPolicy> &out)
{
    static const QStringList keys{"serial-address", "serial-length", "serial-encoding",
                                  "serial-start",   "serial-step",   "serial-last",
                                  "serial-list",    "serial-series"};
    bool any = false;
    for (const QString &key : keys)
        any = any || given.contains(key);
    if (!any)
        return QString();
    if (!given.contains(QStringLiteral("serial-address")))
        return QStringLiteral("serial numbers need --serial-address");
    SerialPolicy policy;
    static const QStringList encodings{"le", "be", "ascii-dec", "ascii-hex"};
    const int encoding = encodings.indexOf(given.value("serial-encoding", "le"));
    if (encoding < 0)
        return QStringLiteral("--serial-encoding takes le, be, ascii-dec or ascii-hex");
    policy.encoding = SerialEncoding(encoding);
    const QList<QPair<QString, quint64 *>> numbers{{"serial-start", &policy.start},
                                                   {"serial-step", &policy.step},
                                                   {"serial-last", &policy.last}};
    for (const auto &[key, field] : numbers)
        if (given.contains(key) && !parseNumber(given.value(key), *field))
            return QStringLiteral("--") + key + QStringLiteral(" takes a whole number");
    quint64 address = 0, length = 0;
    if (!parseNumber(given.value("serial-address"), address) || address > 0xFFFFFFFFu)
        return QStringLiteral("--serial-address takes an address such as 0x08000100");
    if (!parseNumber(given.value("serial-length", "4"), length) || length > 64)
        return QStringLiteral("--serial-length takes a number of bytes");
    policy.address = uint32_t(address);
    policy.length = int(length);
    policy.series = given.value("serial-series");
    policy.listFile = given.value("serial-list");
    out = policy;
    return QString();
}

// The image as the job will pin it.
QString pinImage(Job &job, const QString &image, const QString &jobFolder)
{
    const ops::LoadedImage loaded = ops::loadCodeImage(image);
    if (loaded.status != ops::LoadedImage::Status::Ready)
        return ops::imageRefusal(image, loaded);
    if (loaded.bytes.size() < ops::kShortestImage)
        return image + QStringLiteral(" holds too few bytes for an image");
    job.image = QDir(jobFolder).relativeFilePath(QFileInfo(image).absoluteFilePath());
    job.imageSha256 = records::sha256Hex(loaded.bytes);
    job.imageCrc = crcOf(loaded.bytes);
    job.imageLength = int32_t(loaded.bytes.size());
    job.imageFormat = ops::imageFormatName(loaded.format);
    if (job.serial) {
        QByteArray probe = loaded.bytes;
        const QString outside =
            records::patchSerial(probe, loaded.base, *job.serial, job.serial->start);
        if (!outside.isEmpty())
            return outside;
    }
    return QString();
}

// The serial list as the job will pin it.
QString pinList(SerialPolicy &policy, const QString &jobFolder)
{
    QByteArray bytes;
    const config::FileProblem problem = config::readRegularFile(policy.listFile, 16 << 20, bytes);
    if (problem != config::FileProblem::None)
        return policy.listFile + QStringLiteral(": ") + config::fileProblemText(problem);
    policy.listSha256 = records::sha256Hex(bytes);
    policy.listFile =
        QDir(jobFolder).relativeFilePath(QFileInfo(policy.listFile).absoluteFilePath());
    return QString();
}

QString panelChoices(const Options &options, Job &job)
{
    const QHash<QString, QString> &given = options.actionOptions;
    const QString operation = given.value(QStringLiteral("operation"), QStringLiteral("program"));
    if (operation != QLatin1String("program") && operation != QLatin1String("download"))
        return QStringLiteral("--operation takes program or download");
    job.operation = operation == QLatin1String("program") ? records::JobOperation::Program
                                                          : records::JobOperation::Download;
    if (given.contains(QStringLiteral("mcu")))
        job.mcuType = protocol::mcuTypeName(options.mcuTypeIndex);
    else if (job.operation == records::JobOperation::Download)
        return QStringLiteral("a download job needs --mcu TYPE (") + mcuTypeNames() +
               QLatin1Char(')');
    static const char *const speeds[] = {"high", "middle", "low"};
    job.swdSpeed = QString::fromLatin1(speeds[options.swdSpeedIndex]);
    job.powerOff = !options.keepPower;
    job.programNumber = options.programNumber;
    if (given.contains(QStringLiteral("limit"))) {
        quint64 limit = 0;
        if (!parseNumber(given.value(QStringLiteral("limit")), limit) || limit < 1 ||
            limit > quint64(std::numeric_limits<qint64>::max()))
            return QStringLiteral("--limit takes a number of units, 1 or more");
        job.limit = qint64(limit);
    }
    return QString();
}

// Everything job create was told, checked as run will read it: the text is read back from a
// scratch copy beside the job before the job itself is written.
QString composeJob(const Options &options, Job &job, const QString &output)
{
    const QHash<QString, QString> &given = options.actionOptions;
    for (const char *required : {"image", "name", "output"})
        if (given.value(QLatin1String(required)).isEmpty())
            return QStringLiteral("job create needs --") + QLatin1String(required);
    const QString folder = QFileInfo(output).absolutePath();
    job.name = given.value(QStringLiteral("name"));
    job.revision = given.value(QStringLiteral("revision"));
    job.folder = folder;
    QString error = panelChoices(options, job);
    if (error.isEmpty())
        error = serialFromOptions(given, job.serial);
    if (error.isEmpty() && job.serial && job.serial->fromList())
        error = pinList(*job.serial, folder);
    if (error.isEmpty())
        error = pinImage(job, given.value(QStringLiteral("image")), folder);
    return error;
}

QString readBack(const QByteArray &text, const QString &output)
{
    const QString copy = QFileInfo(output).absolutePath() + QStringLiteral("/.") +
                         QFileInfo(output).fileName() + QStringLiteral(".check");
    if (!config::replaceRegularFile(copy, text))
        return QStringLiteral("cannot write ") + output;
    const records::JobRead read = records::readJobFile(copy);
    QFile::remove(copy);
    return QString(read.error).replace(copy, output);
}

SubcommandResult createJob(const Options &options)
{
    const QString output = options.actionOptions.value(QStringLiteral("output"));
    Job job;
    const QString error = composeJob(options, job, output);
    if (!error.isEmpty())
        return refused(error, error.startsWith(QLatin1String("job create needs")) ||
                                      error.startsWith(QLatin1String("--"))
                                  ? UsageError
                                  : OperationFailed);
    const QString problem = records::jobProblem(job);
    if (!problem.isEmpty())
        return refused(problem);
    const QByteArray text = records::jobFileText(job);
    const QString unsound = readBack(text, output);
    if (!unsound.isEmpty())
        return refused(unsound);
    if (!config::replaceRegularFile(output, text))
        return refused(QStringLiteral("cannot write ") + output);
    SubcommandResult result;
    result.subcommand = QStringLiteral("job");
    result.summary << output + QStringLiteral(": job ") + job.hash();
    result.details.insert(QStringLiteral("job"), job.hash());
    result.details.insert(QStringLiteral("jobFile"), output);
    return result;
}

void addLine(SubcommandResult &result, const QString &label, const QString &key,
             const QJsonValue &value, const QString &text)
{
    addSummaryField(result, 16, label, key, value, text);
}

void addLine(SubcommandResult &result, const QString &label, const QString &key,
             const QString &text)
{
    addLine(result, label, key, text, text);
}

void describeSerial(SubcommandResult &result, const SerialPolicy &serial)
{
    const QString where = toHexText(serial.address, 8) + QStringLiteral(", ") +
                          QString::number(serial.length) + QStringLiteral(" bytes, ") +
                          records::serialEncodingName(serial.encoding);
    const QString numbers = serial.fromList()
                                ? serial.listFile + QStringLiteral(" (") +
                                      QString::number(serial.count()) + QStringLiteral(" numbers)")
                                : QStringLiteral("from %1 by %2 to %3")
                                      .arg(serial.start)
                                      .arg(serial.step)
                                      .arg(serial.last);
    addLine(result, QStringLiteral("Serial"), QStringLiteral("serial"),
            QJsonObject{{QStringLiteral("address"), qint64(serial.address)},
                        {QStringLiteral("length"), serial.length},
                        {QStringLiteral("encoding"), records::serialEncodingName(serial.encoding)},
                        {QStringLiteral("series"), serial.series},
                        {QStringLiteral("count"), serial.count()}},
            where + QStringLiteral("; ") + numbers + QStringLiteral("; series ") + serial.series);
}

SubcommandResult showJob(const Options &options)
{
    const records::JobRead read = records::readJobFile(options.actionArgument);
    if (!read.job)
        return refused(read.error);
    const Job &job = *read.job;
    SubcommandResult result;
    result.subcommand = QStringLiteral("job");
    addLine(result, QStringLiteral("Job"), QStringLiteral("job"), job.hash());
    addLine(result, QStringLiteral("Name"), QStringLiteral("name"), job.name);
    addLine(result, QStringLiteral("Revision"), QStringLiteral("revision"), job.revision);
    addLine(result, QStringLiteral("Operation"), QStringLiteral("operation"),
            records::jobOperationName(job.operation));
    addLine(result, QStringLiteral("Image"), QStringLiteral("image"), job.imagePath());
    addLine(result, QStringLiteral("Image SHA-256"), QStringLiteral("imageSha256"),
            job.imageSha256);
    addLine(result, QStringLiteral("Image"), QStringLiteral("imageCrc"), qint64(job.imageCrc),
            job.imageFormat + QStringLiteral(", ") + QString::number(job.imageLength) +
                QStringLiteral(" bytes, CRC ") + toHexText(job.imageCrc, 8));
    addLine(result, QStringLiteral("MCU, speed"), QStringLiteral("mcu"), job.mcuType,
            (job.mcuType.isEmpty() ? QStringLiteral("as the target reports") : job.mcuType) +
                QStringLiteral(", SWD ") + job.swdSpeed +
                (job.powerOff ? QStringLiteral(", power off when done")
                              : QStringLiteral(", power kept")));
    addLine(result, QStringLiteral("Program number"), QStringLiteral("programNumber"),
            job.programNumber);
    if (job.serial)
        describeSerial(result, *job.serial);
    if (job.limit)
        addLine(result, QStringLiteral("Limit"), QStringLiteral("limit"), *job.limit,
                QString::number(*job.limit) + QStringLiteral(" passed units"));
    const QString mismatch = jobImageMismatch(job, ops::loadCodeImage(job.imagePath()));
    addLine(result, QStringLiteral("Image check"), QStringLiteral("imageMatches"),
            mismatch.isEmpty(), mismatch.isEmpty() ? QStringLiteral("matches") : mismatch);
    if (!mismatch.isEmpty()) {
        result.exitCode = OperationFailed;
        result.error = mismatch;
    }
    return result;
}

} // namespace

SubcommandResult runJobCommand(const Options &options)
{
    return options.action == QLatin1String("create") ? createJob(options) : showJob(options);
}

QString applyJob(Options &options)
{
    records::JobRead read = records::readJobFile(options.jobFile);
    if (!read.job)
        return read.error;
    const Job &job = *read.job;
    const bool program = job.operation == records::JobOperation::Program;
    options.subcommand = program ? Subcommand::Program : Subcommand::Download;
    options.file = job.imagePath();
    if (!job.mcuType.isEmpty() && !parseMcuType(job.mcuType, options.mcuTypeIndex))
        return options.jobFile + QStringLiteral(": mcu takes one of ") + mcuTypeNames();
    if (!parseSpeed(job.swdSpeed, options.swdSpeedIndex))
        return options.jobFile + QStringLiteral(": speed takes high, middle or low");
    if (!validProgramNumber(job.programNumber))
        return options.jobFile +
               QStringLiteral(": program-number takes a whole number from 10 to 4294967295");
    options.keepPower = !job.powerOff;
    options.programNumber = job.programNumber;
    options.job = job;
    return QString();
}

QString jobImageMismatch(const Job &job, const ops::LoadedImage &image)
{
    if (image.status != ops::LoadedImage::Status::Ready)
        return ops::imageRefusal(job.imagePath(), image);
    QStringList differences;
    const QString sha = records::sha256Hex(image.bytes);
    if (sha != job.imageSha256)
        differences << QStringLiteral("its SHA-256 is ") + sha + QStringLiteral(", the job pins ") +
                           job.imageSha256;
    const uint32_t crc = crcOf(image.bytes);
    if (crc != job.imageCrc)
        differences << QStringLiteral("its CRC-32 is ") + toHexText(crc, 8) +
                           QStringLiteral(", the job pins ") + toHexText(job.imageCrc, 8);
    if (image.bytes.size() != job.imageLength)
        differences << QStringLiteral("it holds %1 bytes, the job pins %2")
                           .arg(image.bytes.size())
                           .arg(job.imageLength);
    const QString format = ops::imageFormatName(image.format);
    if (format != job.imageFormat)
        differences << QStringLiteral("it reads as ") + format + QStringLiteral(", the job pins ") +
                           job.imageFormat;
    if (differences.isEmpty())
        return QString();
    return job.imagePath() + QStringLiteral(" is not the image the job pins: ") +
           differences.join(QStringLiteral("; "));
}

} // namespace zq::cli
