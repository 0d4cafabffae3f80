// Whatever a programmer (or something posing as one) answers: every command's reply check
// must judge it without reading past the reply, log a CRC mismatch in its one form, and the
// connect reply's decoding must take its fields from the 36 bytes and nowhere else.
#include "FuzzCheck.h"
#include "common/Crc32.h"
#include "frontend/FrontEnd.h"
#include "protocol/CommandFrame.h"
#include "protocol/CommandSet.h"
#include "protocol/TargetIds.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using zq::protocol::checkReply;
using zq::protocol::ConnectionMode;
using zq::protocol::ConnectReply;
using zq::protocol::decodeConnectReply;
using zq::protocol::kConnectReplySize;
using zq::protocol::kReplySize;
using zq::protocol::ReplyRule;

namespace
{

// Collects log lines; nothing else of the front end may be touched by a reply check.
class LogOnlyFrontEnd : public zq::FrontEnd
{
public:
    QStringList lines;

    void appendLog(const QString &line) override { lines.append(line); }
    void clearLog() override { misuse(); }
    void setProgress(int) override { misuse(); }
    void showCriticalMessage(const QString &) override { misuse(); }
    void showErrorMessage(const QString &) override { misuse(); }
    void setOperationButtonsEnabled(bool) override { misuse(); }
    void setButtonEnabled(Button, bool) override { misuse(); }
    Choices choices() const override { return misuse(), Choices(); }
    void setMcuTypeIndex(int) override { misuse(); }
    void setCodePathText(const QString &) override { misuse(); }
    void setCodeSummary(const QString &) override { misuse(); }
    void setBoardIdText(const QString &) override { misuse(); }
    void showFlashInfo(const QString &, const QString &, const QString &) override { misuse(); }
    QString chooseOpenFile(const QString &, const QString &, const QString &) override
    {
        return misuse(), QString();
    }
    void processEvents() override { misuse(); }

private:
    [[noreturn]] static void misuse()
    {
        std::fprintf(stderr, "a reply check used the front end for more than its log\n");
        std::abort();
    }
};

// The rules the commands hold their replies to.
const ReplyRule kRules[] = {
    {kConnectReplySize, ReplyRule::Length::Exact, -1, "CRC error:"},  // connect
    {kReplySize, ReplyRule::Length::Exact, 'X', "Write Eflash CRC:"}, // write SPI flash
    {kReplySize, ReplyRule::Length::Exact, 'Y', "CRC error:"},        // check SPI flash
    {kReplySize, ReplyRule::Length::Exact, 'Z', nullptr},             // update flash
    {kReplySize, ReplyRule::Length::Exact, '\\', "CRC error:"},       // check embedded flash
    {kReplySize, ReplyRule::Length::Exact, '_', "REQ CRC:"},          // USB boot
    {kReplySize, ReplyRule::Length::AtLeast, 'Q', "SWD init CRC:"},   // SWD init
    {kReplySize, ReplyRule::Length::Exact, 'V', nullptr},             // SWD write
    {kReplySize, ReplyRule::Length::Exact, 'W', "CRC error:"},        // SWD check
};

uint32_t bigEndian(const uint8_t *bytes, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// "0x" and eight upper-case hex digits, as the log shows CRCs.
QString crcText(uint32_t crc)
{
    return QStringLiteral("0x") +
           QString::number(crc, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

void checkDecoded(const uint8_t *reply)
{
    const ConnectReply decoded = decodeConnectReply(reply);
    ZQ_FUZZ_CHECK(decoded.modeByte == reply[2]);
    const ConnectionMode mode = decoded.connectionMode;
    switch (reply[2]) {
    case '[':
        ZQ_FUZZ_CHECK(mode == ConnectionMode::UpdateMcuCode);
        break;
    case ';':
        ZQ_FUZZ_CHECK(mode == ConnectionMode::NormalWork);
        break;
    case '+':
        ZQ_FUZZ_CHECK(mode == ConnectionMode::UpdateBoot);
        break;
    default:
        ZQ_FUZZ_CHECK(mode == ConnectionMode::Unknown);
        break;
    }
    const uint32_t running = 0x20000000u | bigEndian(reply + 3, 3);
    const uint32_t other = 0x20000000u | bigEndian(reply + 18, 3);
    if (mode == ConnectionMode::Unknown) {
        ZQ_FUZZ_CHECK(decoded.appVersion == 0 && decoded.bootVersion == 0);
    } else if (mode == ConnectionMode::NormalWork) {
        ZQ_FUZZ_CHECK(decoded.appVersion == running && decoded.bootVersion == other);
    } else {
        ZQ_FUZZ_CHECK(decoded.bootVersion == running && decoded.appVersion == other);
    }
    ZQ_FUZZ_CHECK(decoded.boardMcu == bigEndian(reply + 14, 4));
    ZQ_FUZZ_CHECK(decoded.boardId == bigEndian(reply + 22, 4));
    ZQ_FUZZ_CHECK(decoded.flashId == bigEndian(reply + 7, 3));
}

// The checks every verdict must satisfy; reply points at exactly length bytes.
int checkOne(const uint8_t *reply, int length, const ReplyRule &rule)
{
    LogOnlyFrontEnd frontEnd;
    const int result = checkReply(reply, length, rule, frontEnd);
    const bool lengthFits =
        rule.length == ReplyRule::Length::AtLeast ? length >= rule.size : length == rule.size;
    if (!lengthFits) {
        ZQ_FUZZ_CHECK(result == -3 && frontEnd.lines.isEmpty());
        return result;
    }
    const bool markerFits = rule.marker < 0 || reply[2] == rule.marker;
    const int covered = rule.size - 4;
    const bool crcFits = zq::crc32(reply, size_t(covered)) == bigEndian(reply + covered, 4);
    if (!markerFits) {
        ZQ_FUZZ_CHECK(result == -3 && frontEnd.lines.isEmpty());
    } else if (!crcFits) {
        ZQ_FUZZ_CHECK(result == -4);
        if (!rule.crcLabel) {
            ZQ_FUZZ_CHECK(frontEnd.lines.isEmpty());
        } else {
            const QString expected = QString::fromLatin1(rule.crcLabel) +
                                     crcText(zq::crc32(reply, size_t(covered))) + QLatin1Char(',') +
                                     crcText(bigEndian(reply + covered, 4));
            ZQ_FUZZ_CHECK(frontEnd.lines == QStringList{expected});
        }
    } else {
        ZQ_FUZZ_CHECK(result == 0 && frontEnd.lines.isEmpty());
        if (rule.size == kReplySize) {
            ZQ_FUZZ_CHECK(zq::protocol::replyValue(reply) == bigEndian(reply + 4, 4));
            ZQ_FUZZ_CHECK(zq::protocol::replyStatus(reply) == reply[8]);
        }
        if (rule.size == kConnectReplySize)
            checkDecoded(reply);
    }
    return result;
}

// A copy of the reply with the rule's marker and a matching CRC, so that the checks past the
// CRC see as many replies as the ones before it.
std::vector<uint8_t> sealed(const uint8_t *data, size_t size, const ReplyRule &rule)
{
    std::vector<uint8_t> reply(data, data + size);
    if (reply.size() < size_t(rule.size))
        return reply;
    if (rule.marker >= 0)
        reply[2] = uint8_t(rule.marker);
    const size_t covered = size_t(rule.size) - 4;
    const uint32_t crc = zq::crc32(reply.data(), covered);
    for (size_t i = 0; i < 4; ++i)
        reply[covered + i] = uint8_t(crc >> (24 - 8 * i));
    return reply;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Replies come in 512-byte reads at most.
    if (size > 512)
        return 0;
    const int length = int(size);
    for (const ReplyRule &rule : kRules) {
        checkOne(data, length, rule);
        const std::vector<uint8_t> reply = sealed(data, size, rule);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
        std::copy(reply.begin(), reply.end(), exact.get());
        const int result = checkOne(exact.get(), length, rule);
        const bool lengthFits =
            rule.length == ReplyRule::Length::AtLeast ? length >= rule.size : length == rule.size;
        ZQ_FUZZ_CHECK(result == (lengthFits ? 0 : -3));
    }

    // Decoding on its own takes exactly 36 bytes, whatever they hold.
    std::unique_ptr<uint8_t[]> connect(new uint8_t[kConnectReplySize]);
    std::memset(connect.get(), 0, kConnectReplySize);
    std::memcpy(connect.get(), data, std::min<size_t>(size, kConnectReplySize));
    checkDecoded(connect.get());

    // SWD init reports the target id it read at bytes 3..6 as a list index.
    if (size >= 7) {
        const uint32_t targetId = bigEndian(data + 3, 4);
        const int index = zq::protocol::indexForTargetId(targetId);
        ZQ_FUZZ_CHECK(index >= 0 && index < zq::protocol::kMcuTypeCount);
        if (index != 0)
            ZQ_FUZZ_CHECK(zq::protocol::targetIdForIndex(index) == targetId);
        ZQ_FUZZ_CHECK(!zq::protocol::mcuTypeName(index).isEmpty() || index == 0);
    }
    return 0;
}
