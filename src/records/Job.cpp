#include "records/Job.h"

#include "config/RegularFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <QVector>

#include <algorithm>
#include <limits>

namespace zq::records
{

namespace
{

// A job file is a screenful of keys; anything near this size is not one.
constexpr qint64 kMaxJobFileBytes = 64 * 1024;
// A line's serial list: about a million numbers.
constexpr qint64 kMaxListFileBytes = 16 * 1024 * 1024;
constexpr quint64 kU64Max = std::numeric_limits<quint64>::max();
constexpr quint64 kU32Max = std::numeric_limits<uint32_t>::max();
constexpr qint64 kI64Max = std::numeric_limits<qint64>::max();

struct EncodingInfo {
    SerialEncoding encoding;
    const char *name;
    int maxLength; // bytes for binary, digits for ASCII: enough for any 64-bit number
};

const EncodingInfo kEncodings[] = {
    {SerialEncoding::LittleEndian, "le", 8},
    {SerialEncoding::BigEndian, "be", 8},
    {SerialEncoding::AsciiDecimal, "ascii-dec", 20},
    {SerialEncoding::AsciiHex, "ascii-hex", 16},
};

const EncodingInfo &encodingInfo(SerialEncoding encoding)
{
    for (const EncodingInfo &info : kEncodings) {
        if (info.encoding == encoding)
            return info;
    }
    return kEncodings[0];
}

bool lengthFits(const SerialPolicy &policy)
{
    return policy.length >= 1 && policy.length <= encodingInfo(policy.encoding).maxLength;
}

// The largest number the field can hold; 0 when the length is not possible for the encoding.
quint64 largestSerial(const SerialPolicy &policy)
{
    if (!lengthFits(policy))
        return 0;
    const int length = policy.length;
    switch (policy.encoding) {
    case SerialEncoding::LittleEndian:
    case SerialEncoding::BigEndian:
        return length == 8 ? kU64Max : (quint64(1) << (8 * length)) - 1;
    case SerialEncoding::AsciiHex:
        return length == 16 ? kU64Max : (quint64(1) << (4 * length)) - 1;
    case SerialEncoding::AsciiDecimal:
        break;
    }
    quint64 nines = 0;
    for (int i = 0; i < length; ++i) {
        if (nines > (kU64Max - 9) / 10)
            return kU64Max; // 20 digits hold more than 64 bits do
        nines = nines * 10 + 9;
    }
    return nines;
}

QString fitText(const SerialPolicy &policy, quint64 value)
{
    return QStringLiteral("%1 does not fit %2 bytes as %3")
        .arg(value)
        .arg(policy.length)
        .arg(serialEncodingName(policy.encoding));
}

QString hex8(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(8, '0');
}

// Long lines are echoed in messages only as far as a reader needs to recognise them.
QString quoted(const QString &text)
{
    const QString shown = text.size() > 60 ? text.left(57) + QStringLiteral("...") : text;
    return QLatin1Char('\'') + shown + QLatin1Char('\'');
}

int digitValue(QChar c, int base)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (base == 16 && u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (base == 16 && u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Decimal, or 0x hex when allowHex: no sign, no spaces, nothing above max.
std::optional<quint64> parseNumber(const QString &text, bool allowHex, quint64 max)
{
    const bool hex =
        allowHex && (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X")));
    const int base = hex ? 16 : 10;
    const QString digits = hex ? text.mid(2) : text;
    if (digits.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (const QChar c : digits) {
        const int digit = digitValue(c, base);
        if (digit < 0 || quint64(digit) > max || value > (max - quint64(digit)) / quint64(base))
            return std::nullopt;
        value = value * quint64(base) + quint64(digit);
    }
    return value;
}

QString resolvedPath(const QString &folder, const QString &path)
{
    if (path.isEmpty() || QFileInfo(path).isAbsolute() || folder.isEmpty())
        return path.isEmpty() ? path : QDir::cleanPath(path);
    return QDir::cleanPath(QDir(folder).filePath(path));
}

// ---- Reading: one rule per key, in the canonical order.

struct ParseState {
    Job job;
    SerialPolicy serial;
    QHash<QString, int> lines; // each key given, and the line it was on
};

using Apply = bool (*)(ParseState &, const QString &);

struct KeyRule {
    const char *key;
    const char *expects; // "<key> must be <expects>, not '<value>'"
    Apply apply;
};

bool setText(QString &field, const QString &value)
{
    field = value;
    return !value.isEmpty();
}

bool setSha256(QString &field, const QString &value)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    field = value.toLower();
    return hex.match(value).hasMatch();
}

template <typename T> bool setNumber(T &field, const QString &value, bool allowHex, quint64 max)
{
    const std::optional<quint64> number = parseNumber(value, allowHex, max);
    if (number)
        field = T(*number);
    return number.has_value();
}

bool setChoice(QString &field, const QString &value, std::initializer_list<const char *> words)
{
    field = value;
    return std::any_of(words.begin(), words.end(),
                       [&](const char *word) { return value == QLatin1String(word); });
}

bool setWord(QString &field, const QString &value)
{
    static const QRegularExpression word(QStringLiteral("^[A-Za-z0-9_-]+$"));
    field = value;
    return word.match(value).hasMatch();
}

bool setOperation(JobOperation &field, const QString &value)
{
    for (const JobOperation operation : {JobOperation::Program, JobOperation::Download}) {
        if (value == jobOperationName(operation)) {
            field = operation;
            return true;
        }
    }
    return false;
}

bool setEncoding(SerialEncoding &field, const QString &value)
{
    for (const EncodingInfo &info : kEncodings) {
        if (value == QLatin1String(info.name)) {
            field = info.encoding;
            return true;
        }
    }
    return false;
}

bool setProgramNumber(QString &field, const QString &value)
{
    field = value;
    const std::optional<quint64> number = parseNumber(value, false, kU64Max);
    return value.size() <= 10 && number && *number >= 1;
}

bool setLimit(std::optional<qint64> &field, const QString &value)
{
    const std::optional<quint64> number = parseNumber(value, false, quint64(kI64Max));
    if (number)
        field = qint64(*number);
    return number && *number >= 1;
}

const char kAnyNumber[] = "a decimal or 0x hex number below 2^64";

const KeyRule kRules[] = {
    {"name", "a name", [](ParseState &s, const QString &v) { return setText(s.job.name, v); }},
    {"revision", "",
     [](ParseState &s, const QString &v) {
         s.job.revision = v; // may be empty
         return true;
     }},
    {"image", "a file path",
     [](ParseState &s, const QString &v) { return setText(s.job.image, v); }},
    {"image.sha256", "64 hex digits",
     [](ParseState &s, const QString &v) { return setSha256(s.job.imageSha256, v); }},
    {"image.crc32", "0x and up to 8 hex digits, or a decimal number below 2^32",
     [](ParseState &s, const QString &v) { return setNumber(s.job.imageCrc, v, true, kU32Max); }},
    {"image.length", "a decimal number from 8 to 2147483647",
     [](ParseState &s, const QString &v) {
         return setNumber(s.job.imageLength, v, false, quint64(INT32_MAX)) &&
                s.job.imageLength >= 8;
     }},
    {"image.format", "a format's name, such as Intel HEX",
     [](ParseState &s, const QString &v) { return setText(s.job.imageFormat, v); }},
    {"operation", "program or download",
     [](ParseState &s, const QString &v) { return setOperation(s.job.operation, v); }},
    {"mcu", "an MCU type such as ZQ427",
     [](ParseState &s, const QString &v) { return setWord(s.job.mcuType, v); }},
    {"speed", "high, middle or low",
     [](ParseState &s, const QString &v) {
         return setChoice(s.job.swdSpeed, v, {"high", "middle", "low"});
     }},
    {"power-off", "yes or no",
     [](ParseState &s, const QString &v) {
         s.job.powerOff = v == QLatin1String("yes");
         return s.job.powerOff || v == QLatin1String("no");
     }},
    {"program-number", "1 to 10 decimal digits, at least 1",
     [](ParseState &s, const QString &v) { return setProgramNumber(s.job.programNumber, v); }},
    {"limit", "a decimal number of at least 1",
     [](ParseState &s, const QString &v) { return setLimit(s.job.limit, v); }},
    {"serial.address", "a 32-bit address, 0x hex or decimal",
     [](ParseState &s, const QString &v) { return setNumber(s.serial.address, v, true, kU32Max); }},
    {"serial.length", "a decimal number of bytes",
     [](ParseState &s, const QString &v) { return setNumber(s.serial.length, v, false, 1000); }},
    {"serial.encoding", "le, be, ascii-dec or ascii-hex",
     [](ParseState &s, const QString &v) { return setEncoding(s.serial.encoding, v); }},
    {"serial.series", "a name",
     [](ParseState &s, const QString &v) { return setText(s.serial.series, v); }},
    {"serial.start", kAnyNumber,
     [](ParseState &s, const QString &v) { return setNumber(s.serial.start, v, true, kU64Max); }},
    {"serial.step", kAnyNumber,
     [](ParseState &s, const QString &v) { return setNumber(s.serial.step, v, true, kU64Max); }},
    {"serial.last", kAnyNumber,
     [](ParseState &s, const QString &v) { return setNumber(s.serial.last, v, true, kU64Max); }},
    {"serial.list", "a file path",
     [](ParseState &s, const QString &v) { return setText(s.serial.listFile, v); }},
    {"serial.list.sha256", "64 hex digits",
     [](ParseState &s, const QString &v) { return setSha256(s.serial.listSha256, v); }},
};

const KeyRule *ruleFor(const QString &key)
{
    for (const KeyRule &rule : kRules) {
        if (key == QLatin1String(rule.key))
            return &rule;
    }
    return nullptr;
}

QString valueProblem(const KeyRule &rule, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("%1 has no value").arg(QLatin1String(rule.key));
    return QStringLiteral("%1 must be %2, not %3")
        .arg(QLatin1String(rule.key), QLatin1String(rule.expects), quoted(value));
}

QString applyLine(const QString &line, int number, ParseState &state)
{
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return QStringLiteral("expected 'key = value', not %1").arg(quoted(line));
    const QString key = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    const KeyRule *rule = ruleFor(key);
    if (!rule)
        return key.isEmpty() ? QStringLiteral("no key before '='")
                             : QStringLiteral("unknown key %1").arg(quoted(key));
    if (state.lines.contains(key))
        return QStringLiteral("%1 is given again (first on line %2)")
            .arg(key)
            .arg(state.lines.value(key));
    state.lines.insert(key, number);
    return rule->apply(state, value) ? QString() : valueProblem(*rule, value);
}

QString versionProblem(const QString &line)
{
    static const QRegularExpression form(QStringLiteral("^zq-job\\s+(\\S+)$"));
    const QRegularExpressionMatch match = form.match(line);
    if (!match.hasMatch())
        return QStringLiteral("not a job file: it must start with 'zq-job %1', not %2")
            .arg(kJobFormatVersion)
            .arg(quoted(line));
    if (match.captured(1) != QString::number(kJobFormatVersion))
        return QStringLiteral("a job file of version %1; this zqprog reads version %2")
            .arg(match.captured(1), QString::number(kJobFormatVersion));
    return QString();
}

QString parseLines(const QString &path, const QString &text, ParseState &state)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    bool versionSeen = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString problem = versionSeen ? applyLine(line, i + 1, state) : versionProblem(line);
        if (!problem.isEmpty())
            return QStringLiteral("%1:%2: %3").arg(path, QString::number(i + 1), problem);
        versionSeen = true;
    }
    if (!versionSeen)
        return path + QStringLiteral(": not a job file: it holds no 'zq-job %1' line")
                          .arg(kJobFormatVersion);
    return QString();
}

QString missingKey(const QString &path, const ParseState &state)
{
    for (const char *key : {"name", "image", "image.sha256", "image.crc32", "image.length",
                            "image.format", "operation"}) {
        if (!state.lines.contains(QLatin1String(key)))
            return path + QStringLiteral(": no ") + QLatin1String(key);
    }
    if (state.job.operation == JobOperation::Download && !state.lines.contains("mcu"))
        return path + QStringLiteral(": no mcu: a download job must name its MCU type");
    return QString();
}

// The key of the group given first in the file, and its line; 0 when none is given.
QPair<QString, int> firstOf(const ParseState &state, std::initializer_list<const char *> keys)
{
    QPair<QString, int> first(QString(), 0);
    for (const char *key : keys) {
        const int line = state.lines.value(QLatin1String(key));
        if (line > 0 && (first.second == 0 || line < first.second))
            first = qMakePair(QString::fromLatin1(key), line);
    }
    return first;
}

QString serialShapeProblem(const QString &path, const ParseState &state)
{
    for (const char *key : {"serial.address", "serial.length", "serial.encoding"}) {
        if (!state.lines.contains(QLatin1String(key)))
            return path + QStringLiteral(": no %1 (the job has serial.* keys)").arg(key);
    }
    const auto counter = firstOf(state, {"serial.start", "serial.step", "serial.last"});
    const auto list = firstOf(state, {"serial.list", "serial.list.sha256"});
    if (counter.second > 0 && list.second > 0) {
        const auto later = counter.second > list.second ? counter : list;
        const auto earlier = counter.second > list.second ? list : counter;
        return QStringLiteral("%1:%2: %3 cannot go with %4 (line %5): serial numbers come from "
                              "a counter or from a list, not both")
            .arg(path, QString::number(later.second), later.first, earlier.first,
                 QString::number(earlier.second));
    }
    if (state.lines.contains("serial.list") && !state.lines.contains("serial.list.sha256"))
        return path + QStringLiteral(": no serial.list.sha256 (a serial list is pinned by hash)");
    if (list.second > 0 && !state.lines.contains("serial.list"))
        return QStringLiteral("%1:%2: serial.list.sha256 without serial.list")
            .arg(path, QString::number(list.second));
    return QString();
}

QString completeJob(const QString &path, ParseState &state)
{
    QString problem = missingKey(path, state);
    const bool hasSerial =
        std::any_of(state.lines.keyBegin(), state.lines.keyEnd(),
                    [](const QString &key) { return key.startsWith(QLatin1String("serial.")); });
    if (problem.isEmpty() && hasSerial)
        problem = serialShapeProblem(path, state);
    if (!problem.isEmpty() || !hasSerial)
        return problem;
    if (state.serial.series.isEmpty())
        state.serial.series = state.job.name;
    state.job.serial = state.serial;
    return QString();
}

bool decodeUtf8(const QByteArray &bytes, QString &text)
{
    QTextCodec::ConverterState state;
    text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// ---- The serial list file.

QString parseSerialList(const QString &listPath, const QByteArray &bytes, SerialPolicy &policy)
{
    const quint64 largest = largestSerial(policy);
    const QList<QByteArray> lines = bytes.split('\n');
    QHash<quint64, int> lineOf;
    QList<quint64> numbers;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString where = QStringLiteral("%1:%2: ").arg(listPath, QString::number(i + 1));
        const std::optional<quint64> value = parseNumber(line, true, kU64Max);
        if (!value)
            return where +
                   QStringLiteral("%1 is not a number (decimal or 0x hex)").arg(quoted(line));
        if (*value > largest)
            return where + QStringLiteral("serial ") + fitText(policy, *value);
        if (lineOf.contains(*value))
            return where + QStringLiteral("%1 is listed again (first on line %2)")
                               .arg(line)
                               .arg(lineOf.value(*value));
        lineOf.insert(*value, i + 1);
        numbers.append(*value);
    }
    if (numbers.isEmpty())
        return listPath + QStringLiteral(": lists no serial numbers");
    policy.listed = numbers;
    return QString();
}

QString readSerialList(Job &job)
{
    const QString listPath = job.listPath();
    QByteArray bytes;
    const config::FileProblem problem = config::readRegularFile(listPath, kMaxListFileBytes, bytes);
    if (problem != config::FileProblem::None)
        return listPath + QStringLiteral(": ") + config::fileProblemText(problem);
    const QString sha256 = sha256Hex(bytes);
    if (sha256 != job.serial->listSha256)
        return QStringLiteral("%1: its SHA-256 is %2, the job pins %3")
            .arg(listPath, sha256, job.serial->listSha256);
    return parseSerialList(listPath, bytes, *job.serial);
}

// ---- What a job may not be.

QVector<QPair<QString, QString>> canonicalPairs(const Job &job);

// Every value as the file would hold it must read back as itself: one line, no spaces at its
// ends, and what its key's rule accepts.
QString formProblem(const Job &job)
{
    ParseState scratch;
    for (const auto &pair : canonicalPairs(job)) {
        const KeyRule *rule = ruleFor(pair.first);
        if (pair.second.contains(QLatin1Char('\n')) || pair.second.contains(QLatin1Char('\r')) ||
            pair.second != pair.second.trimmed())
            return pair.first + QStringLiteral(" must be one line without spaces at its ends");
        if (!rule->apply(scratch, pair.second))
            return valueProblem(*rule, pair.second);
    }
    return QString();
}

QString counterProblem(const SerialPolicy &policy)
{
    if (policy.step == 0)
        return QStringLiteral("serial.step must be at least 1");
    const quint64 largest = largestSerial(policy);
    const quint64 last = policy.last ? policy.last : largest;
    if (policy.start > largest)
        return QStringLiteral("serial.start ") + fitText(policy, policy.start);
    if (last > largest)
        return QStringLiteral("serial.last ") + fitText(policy, last);
    if (policy.start > last)
        return QStringLiteral("serial.start %1 is above serial.last %2")
            .arg(policy.start)
            .arg(last);
    return QString();
}

QString shapeProblem(const Job &job)
{
    if (job.operation == JobOperation::Download && job.mcuType.isEmpty())
        return QStringLiteral("a download job must name its MCU type (mcu)");
    if (!job.serial)
        return QString();
    if (job.operation == JobOperation::Download)
        return QStringLiteral("a download job cannot carry serial numbers: the programmer "
                              "programs its units by itself");
    const SerialPolicy &policy = *job.serial;
    if (!lengthFits(policy))
        return QStringLiteral("serial.length must be 1 to %1 for %2, not %3")
            .arg(encodingInfo(policy.encoding).maxLength)
            .arg(serialEncodingName(policy.encoding))
            .arg(policy.length);
    return policy.fromList() ? QString() : counterProblem(policy);
}

QString listProblem(const Job &job)
{
    // A job being made has not read its list yet (readJobFile refuses an empty list file).
    if (!job.serial || !job.serial->fromList())
        return QString();
    const SerialPolicy &policy = *job.serial;
    const quint64 largest = largestSerial(policy);
    QSet<quint64> seen;
    for (const quint64 value : policy.listed) {
        if (value > largest)
            return QStringLiteral("the listed serial ") + fitText(policy, value);
        if (seen.contains(value))
            return QStringLiteral("the serial list holds %1 twice").arg(value);
        seen.insert(value);
    }
    return QString();
}

QString prefixed(const QString &path, const QString &problem)
{
    return problem.isEmpty() ? problem : path + QStringLiteral(": ") + problem;
}

// The job file's keys, each checked and then together; the serial list is read later.
QString parseJob(const QString &path, Job &job)
{
    QByteArray bytes;
    const config::FileProblem fileProblem = config::readRegularFile(path, kMaxJobFileBytes, bytes);
    if (fileProblem != config::FileProblem::None)
        return prefixed(path, config::fileProblemText(fileProblem));
    QString text;
    if (!decodeUtf8(bytes, text))
        return prefixed(path, QStringLiteral("is not UTF-8 text"));
    ParseState state;
    QString problem = parseLines(path, text, state);
    if (problem.isEmpty())
        problem = completeJob(path, state);
    if (problem.isEmpty())
        problem = prefixed(path, shapeProblem(state.job));
    job = state.job;
    return problem;
}

// ---- Writing.

QVector<QPair<QString, QString>> serialPairs(const Job &job)
{
    const SerialPolicy &policy = *job.serial;
    QVector<QPair<QString, QString>> pairs = {
        {QStringLiteral("serial.address"), hex8(policy.address)},
        {QStringLiteral("serial.length"), QString::number(policy.length)},
        {QStringLiteral("serial.encoding"), serialEncodingName(policy.encoding)},
        {QStringLiteral("serial.series"), policy.series.isEmpty() ? job.name : policy.series},
    };
    if (policy.fromList()) {
        pairs.append({QStringLiteral("serial.list"), policy.listFile});
        pairs.append({QStringLiteral("serial.list.sha256"), policy.listSha256.toLower()});
        return pairs;
    }
    pairs.append({QStringLiteral("serial.start"), QString::number(policy.start)});
    pairs.append({QStringLiteral("serial.step"), QString::number(policy.step)});
    const quint64 last = policy.last ? policy.last : largestSerial(policy);
    pairs.append({QStringLiteral("serial.last"), QString::number(last)});
    return pairs;
}

QVector<QPair<QString, QString>> canonicalPairs(const Job &job)
{
    QVector<QPair<QString, QString>> pairs = {
        {QStringLiteral("name"), job.name},
        {QStringLiteral("revision"), job.revision},
        {QStringLiteral("image"), job.image},
        {QStringLiteral("image.sha256"), job.imageSha256.toLower()},
        {QStringLiteral("image.crc32"), hex8(job.imageCrc)},
        {QStringLiteral("image.length"), QString::number(job.imageLength)},
        {QStringLiteral("image.format"), job.imageFormat},
        {QStringLiteral("operation"), jobOperationName(job.operation)},
    };
    if (!job.mcuType.isEmpty())
        pairs.append({QStringLiteral("mcu"), job.mcuType});
    pairs.append({QStringLiteral("speed"), job.swdSpeed});
    pairs.append({QStringLiteral("power-off"), job.powerOff ? "yes" : "no"});
    pairs.append({QStringLiteral("program-number"), job.programNumber});
    if (job.limit)
        pairs.append({QStringLiteral("limit"), QString::number(*job.limit)});
    if (job.serial)
        pairs += serialPairs(job);
    return pairs;
}

QByteArray versionLine()
{
    return QByteArrayLiteral("zq-job ") + QByteArray::number(kJobFormatVersion) + '\n';
}

QByteArray serialBytes(const SerialPolicy &policy, quint64 value)
{
    if (policy.encoding == SerialEncoding::AsciiDecimal)
        return QByteArray::number(value).rightJustified(policy.length, '0');
    if (policy.encoding == SerialEncoding::AsciiHex)
        return QByteArray::number(value, 16).toUpper().rightJustified(policy.length, '0');
    QByteArray bytes(policy.length, '\0');
    for (int i = 0; i < policy.length; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    if (policy.encoding == SerialEncoding::BigEndian)
        std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

} // namespace

QString jobOperationName(JobOperation operation)
{
    return operation == JobOperation::Download ? QStringLiteral("download")
                                               : QStringLiteral("program");
}

QString serialEncodingName(SerialEncoding encoding)
{
    return QLatin1String(encodingInfo(encoding).name);
}

qint64 SerialPolicy::count() const
{
    if (fromList())
        return listed.size();
    const quint64 end = last ? last : largestSerial(*this);
    if (step == 0 || start > end)
        return 0;
    // A full 64-bit range has one number more than a qint64 can count.
    const quint64 steps = (end - start) / step;
    return steps >= quint64(kI64Max) ? kI64Max : qint64(steps + 1);
}

quint64 SerialPolicy::valueAt(qint64 index) const
{
    if (fromList())
        return index >= 0 && index < listed.size() ? listed.at(int(index)) : 0;
    return start + quint64(index) * step;
}

QString Job::imagePath() const
{
    return resolvedPath(folder, image);
}

QString Job::listPath() const
{
    return serial && serial->fromList() ? resolvedPath(folder, serial->listFile) : QString();
}

QByteArray Job::canonicalText() const
{
    QByteArray text = versionLine();
    for (const auto &pair : canonicalPairs(*this))
        text += pair.first.toUtf8() + '=' + pair.second.toUtf8() + '\n';
    return text;
}

QString Job::hash() const
{
    return sha256Hex(canonicalText());
}

QByteArray jobFileText(const Job &job)
{
    QByteArray text = QByteArrayLiteral("# ZQ Programmer job file, made by zqprog job create; "
                                        "docs/job-file.md describes it.\n") +
                      versionLine();
    for (const auto &pair : canonicalPairs(job)) {
        text += pair.first.toUtf8() + " =";
        if (!pair.second.isEmpty())
            text += ' ' + pair.second.toUtf8();
        text += '\n';
    }
    return text;
}

JobRead readJobFile(const QString &path)
{
    Job job;
    QString problem = parseJob(path, job);
    if (problem.isEmpty()) {
        job.folder = QFileInfo(path).absolutePath();
        if (job.serial && job.serial->fromList())
            problem = readSerialList(job);
        else if (job.serial && job.serial->last == 0)
            job.serial->last = largestSerial(*job.serial);
    }
    if (problem.isEmpty())
        problem = prefixed(path, jobProblem(job));
    if (!problem.isEmpty())
        return {std::nullopt, problem};
    return {job, QString()};
}

QString jobProblem(const Job &job)
{
    QString problem = formProblem(job);
    if (problem.isEmpty())
        problem = shapeProblem(job);
    return problem.isEmpty() ? listProblem(job) : problem;
}

std::optional<QByteArray> encodeSerial(const SerialPolicy &policy, quint64 value, QString *error)
{
    QString problem;
    if (!lengthFits(policy))
        problem = QStringLiteral("a serial of %1 bytes is not possible as %2")
                      .arg(policy.length)
                      .arg(serialEncodingName(policy.encoding));
    else if (value > largestSerial(policy))
        problem = QStringLiteral("serial ") + fitText(policy, value);
    if (problem.isEmpty())
        return serialBytes(policy, value);
    if (error)
        *error = problem;
    return std::nullopt;
}

QString patchSerial(QByteArray &image, uint32_t base, const SerialPolicy &policy, quint64 value)
{
    const qint64 offset = qint64(policy.address) - qint64(base);
    if (offset < 0 || offset + policy.length > image.size()) {
        const QString range = image.isEmpty() ? QStringLiteral("it is empty")
                                              : hex8(base) + QStringLiteral(" to ") +
                                                    hex8(quint64(base) + image.size() - 1);
        return QStringLiteral("the serial's field %1+%2 lies outside the image (%3)")
            .arg(hex8(policy.address))
            .arg(policy.length)
            .arg(range);
    }
    QString error;
    const std::optional<QByteArray> bytes = encodeSerial(policy, value, &error);
    if (!bytes)
        return error;
    image.replace(int(offset), bytes->size(), *bytes);
    return QString();
}

QString serialText(const SerialPolicy &policy, quint64 value)
{
    if (policy.encoding == SerialEncoding::AsciiHex)
        return QString::fromLatin1(serialBytes(policy, value));
    return QString::number(value);
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace zq::records
