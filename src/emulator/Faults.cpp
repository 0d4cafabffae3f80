#include "emulator/Faults.h"

#include "config/RegularFile.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace zq::emu
{

namespace
{

void apply(const Fault &fault, FrameFaults &faults)
{
    switch (fault.kind) {
    case FaultKind::NoReply:
        faults.noReply = true;
        break;
    case FaultKind::LateReply:
        faults.lateMs += fault.delayMs;
        break;
    case FaultKind::WrongLength:
        faults.wrongLength = true;
        break;
    case FaultKind::WrongMarker:
        faults.wrongMarker = true;
        break;
    case FaultKind::BadReplyCrc:
        faults.badCrc = true;
        break;
    case FaultKind::FailingStatus:
        faults.failingStatus = true;
        break;
    case FaultKind::BoardGone:
        faults.boardGone = true;
        break;
    case FaultKind::Latency:
        faults.latencyMs += fault.delayMs;
        break;
    case FaultKind::HeldFrame:
    case FaultKind::HeldFrameTaken:
        faults.holdMs += fault.delayMs;
        faults.holdIgnoresAbort |= fault.kind == FaultKind::HeldFrameTaken;
        break;
    }
}

// CMD_SWD_INIT keeps its status at byte 7; the connect reply has no status to fail.
void failStatus(Packet &reply)
{
    if (reply.size() != StatusReplyLength)
        return;
    if (reply[2] == replyMarker('A'))
        reply[7] = 1;
    else
        reply[8] = StatusCrcMismatch;
    resealReply(reply);
}

constexpr qint64 kFaultsFileMaxBytes = 64 * 1024;

struct KindName {
    const char *name;
    FaultKind kind;
};

constexpr KindName kKinds[] = {
    {"no-reply", FaultKind::NoReply},          {"late-reply", FaultKind::LateReply},
    {"wrong-length", FaultKind::WrongLength},  {"wrong-marker", FaultKind::WrongMarker},
    {"bad-reply-crc", FaultKind::BadReplyCrc}, {"failing-status", FaultKind::FailingStatus},
    {"board-gone", FaultKind::BoardGone},      {"latency", FaultKind::Latency},
    {"held-frame", FaultKind::HeldFrame},      {"held-frame-taken", FaultKind::HeldFrameTaken},
};

std::optional<Fault> parseFault(const QStringList &words)
{
    if (words.size() < 3 || words.size() > 4)
        return std::nullopt;
    std::optional<Fault> fault;
    for (const KindName &kind : kKinds)
        if (words.at(0) == QLatin1String(kind.name))
            fault = words.at(2) == QLatin1String("every") ? Fault::every(kind.kind)
                                                          : Fault::nth(kind.kind, 1);
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

Fault Fault::nth(FaultKind kind, int frame)
{
    Fault fault;
    fault.kind = kind;
    fault.countdown = std::max(frame, 1);
    return fault;
}

Fault Fault::every(FaultKind kind)
{
    Fault fault;
    fault.kind = kind;
    fault.repeating = true;
    return fault;
}

Fault Fault::onCommand(char letter) const
{
    Fault copy = *this;
    copy.command = letter;
    return copy;
}

Fault Fault::withDelay(int ms) const
{
    Fault copy = *this;
    copy.delayMs = std::max(ms, 0);
    return copy;
}

void FrameFaults::damage(std::vector<Packet> &replies) const
{
    if (noReply)
        replies.clear();
    if (replies.empty())
        return;
    // Progress replies stay intact: a fault hits the reply that carries the verdict.
    Packet &reply = replies.back();
    if (failingStatus)
        failStatus(reply);
    if (wrongMarker) {
        reply[2] = uint8_t(reply[2] + 1);
        resealReply(reply);
    }
    if (badCrc)
        reply.back() ^= 0x5A;
    if (wrongLength)
        reply.pop_back();
}

int Faults::arm(const Fault &fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_.emplace_back(nextId_, fault);
    return nextId_++;
}

void Faults::disarm(int id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_.erase(std::remove_if(armed_.begin(), armed_.end(),
                                [id](const auto &entry) { return entry.first == id; }),
                 armed_.end());
}

void Faults::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_.clear();
}

int Faults::armedCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(armed_.size());
}

FrameFaults Faults::onFrame(char command)
{
    std::lock_guard<std::mutex> lock(mutex_);
    FrameFaults fired;
    for (auto it = armed_.begin(); it != armed_.end();) {
        Fault &fault = it->second;
        const bool matches = fault.command == 0 || fault.command == command;
        if (matches && (fault.repeating || --fault.countdown == 0))
            apply(fault, fired);
        const bool spent = matches && !fault.repeating && fault.countdown == 0;
        it = spent ? armed_.erase(it) : it + 1;
    }
    return fired;
}

bool armFaultsFile(const QString &path, Faults &faults, QString *error)
{
    QByteArray bytes;
    const config::FileProblem problem = config::readRegularFile(path, kFaultsFileMaxBytes, bytes);
    if (problem == config::FileProblem::Missing)
        return true;
    if (problem != config::FileProblem::None) {
        *error = path + QLatin1Char(' ') + config::fileProblemText(problem);
        return false;
    }
    std::vector<Fault> parsed;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const std::optional<Fault> fault =
            parseFault(line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        if (!fault) {
            *error = path + QLatin1Char(':') + QString::number(i + 1) +
                     QStringLiteral(": not a fault switch: ") + line;
            return false;
        }
        parsed.push_back(*fault);
    }
    for (const Fault &fault : parsed)
        faults.arm(fault);
    return true;
}

} // namespace zq::emu
