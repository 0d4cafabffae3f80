#include "cli/EmulatedFaults.h"

#include "emulator/Faults.h"

#include "config/RegularFile.h"

#include <optional>
#include <vector>

namespace zq::cli
{

namespace
{

constexpr qint64 kMaxBytes = 64 * 1024;

struct KindName {
    const char *name;
    emu::FaultKind kind;
};

constexpr KindName kKinds[] = {
    {"no-reply", emu::FaultKind::NoReply},
    {"late-reply", emu::FaultKind::LateReply},
    {"wrong-length", emu::FaultKind::WrongLength},
    {"wrong-marker", emu::FaultKind::WrongMarker},
    {"bad-reply-crc", emu::FaultKind::BadReplyCrc},
    {"failing-status", emu::FaultKind::FailingStatus},
    {"board-gone", emu::FaultKind::BoardGone},
    {"latency", emu::FaultKind::Latency},
    {"held-frame", emu::FaultKind::HeldFrame},
    {"held-frame-taken", emu::FaultKind::HeldFrameTaken},
};

std::optional<emu::Fault> parseFault(const QStringList &words)
{
    if (words.size() < 3 || words.size() > 4)
        return std::nullopt;
    std::optional<emu::Fault> fault;
    for (const KindName &kind : kKinds)
        if (words.at(0) == QLatin1String(kind.name))
            fault = words.at(2) == QLatin1String("every") ? emu::Fault::every(kind.kind)
                                                          : emu::Fault::nth(kind.kind, 1);
    if (!fault)
        return std::nullopt;
    if (words.at(2) != QLatin1String("every")) {
        bool ok = false;
        fault->countdown = words.at(2).toInt(&ok);
        if (!ok || fault->countdown < 1)
            return std::nullopt;
    }
    if (words.at(1) != QLatin1String("*")) {
        if (words.at(1).size() != 1 || words.at(1).at(0).unicode() > 0x7F)
            return std::nullopt;
        *fault = fault->onCommand(char(words.at(1).at(0).unicode()));
    }
    if (words.size() == 4) {
        bool ok = false;
        const int ms = words.at(3).toInt(&ok);
        if (!ok || ms < 0)
            return std::nullopt;
        *fault = fault->withDelay(ms);
    }
    return fault;
}

} // namespace

bool armFaultsFile(const QString &path, emu::Faults &faults, QString *error)
{
    QByteArray bytes;
    const config::FileProblem problem = config::readRegularFile(path, kMaxBytes, bytes);
    if (problem == config::FileProblem::Missing)
        return true;
    if (problem != config::FileProblem::None) {
        *error = path + QLatin1Char(' ') + config::fileProblemText(problem);
        return false;
    }
    std::vector<emu::Fault> parsed;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const std::optional<emu::Fault> fault =
            parseFault(line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        if (!fault) {
            *error = path + QLatin1Char(':') + QString::number(i + 1) +
                     QStringLiteral(": not a fault switch: ") + line;
            return false;
        }
        parsed.push_back(*fault);
    }
    for (const emu::Fault &fault : parsed)
        faults.arm(fault);
    return true;
}

} // namespace zq::cli
