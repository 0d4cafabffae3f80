#include "BadFiles.h"
#include "TestFiles.h"
#include "config/SettingsFile.h"

#include <QElapsedTimer>
#include <QTextCodec>
#include <QtTest>

#include <sys/stat.h>

using zq::config::BootUpdateLine;
using zq::config::parseSettingsFile;
using zq::config::readSettingsFile;
using zq::config::SettingsFile;
using zq::config::settingsFileContent;
using zq::config::writeSettingsFile;
using zq::test::NodeKind;

namespace
{

QByteArray textLines(QByteArray text)
{
#ifdef Q_OS_WIN
    text.replace("\n", "\r\n");
#endif
    return text;
}

// Root, and some file systems, ignore permission bits; then a read-only file can be written.
bool permissionsBindUs(const QString &readOnlyFile)
{
    QFile probe(readOnlyFile);
    return !probe.open(QIODevice::WriteOnly | QIODevice::Append);
}

// ctest runs these cases again as an unprivileged user when the suite runs as root
// (tests/config/CMakeLists.txt); there they must not skip.
#define skipOrFailAsRoot(why)                                                                      \
    do {                                                                                           \
        if (qEnvironmentVariableIsSet("ZQ_EXPECT_UNPRIVILEGED"))                                   \
            QFAIL("meant to run as an unprivileged user: " why);                                   \
        QSKIP(why);                                                                                \
    } while (false)

const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadUser;
const QFileDevice::Permissions readWrite =
    readOnly | QFileDevice::WriteOwner | QFileDevice::WriteUser;
const QFileDevice::Permissions folderReadOnly =
    readOnly | QFileDevice::ExeOwner | QFileDevice::ExeUser;

struct LocaleCodecGuard {
    QTextCodec *previous = QTextCodec::codecForLocale();
    ~LocaleCodecGuard() { QTextCodec::setCodecForLocale(previous); }
};

} // namespace

class SettingsFileTest : public QObject
{
    Q_OBJECT
private slots:
    void writtenFileReadsBack()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("config.ini"));

        QVERIFY(writeSettingsFile(path, QStringLiteral("/work/code.bin"), QStringLiteral("./out"),
                                  true));
        QCOMPARE(readAll(path), textLines("UPBOOT:0\nNFLASH:0\n/work/code.bin\n./out\n"
                                          "BLSET:0\nWAITT:0\nPWROFF:1\n"));
        SettingsFile read = readSettingsFile(path);
        QVERIFY(read.opened);
        QCOMPARE(read.bootUpdateEnabled, std::optional<bool>(false));
        QCOMPARE(read.mcuCodeLine, std::optional<QString>(QStringLiteral("/work/code.bin")));
        QCOMPARE(read.secondPath, std::optional<QString>(QStringLiteral("./out")));
        QCOMPARE(read.powerOff, std::optional<bool>(true));

        // Replaces what is there, and an empty path stays an empty line.
        QVERIFY(writeSettingsFile(path, QString(), QStringLiteral("./"), false));
        QCOMPARE(readAll(path),
                 textLines("UPBOOT:0\nNFLASH:0\n\n./\nBLSET:0\nWAITT:0\nPWROFF:0\n"));
        read = readSettingsFile(path);
        QCOMPARE(read.mcuCodeLine, std::optional<QString>(QString()));
        QCOMPARE(read.secondPath, std::optional<QString>(QStringLiteral("./")));
        QCOMPARE(read.powerOff, std::optional<bool>(false));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("config.ini")}); // no temporary left behind
    }

    void missingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        const SettingsFile read = readSettingsFile(path);
        QVERIFY(!read.opened);
        QVERIFY(!read.bootUpdateEnabled && !read.mcuCodeLine && !read.secondPath && !read.powerOff);

        QVERIFY(writeSettingsFile(path, QStringLiteral("./"), QStringLiteral("./"), true));
        QCOMPARE(readAll(path).count('\n'), 7);
    }

    void shortFilesApplyTheLinesTheyHave()
    {
        const SettingsFile three = parseSettingsFile("UPBOOT:1\nNFLASH:0\n  code.bin \t\n");
        QVERIFY(three.opened);
        QCOMPARE(three.bootUpdateEnabled, std::optional<bool>(true));
        QCOMPARE(three.mcuCodeLine, std::optional<QString>(QStringLiteral("  code.bin \t")));
        QVERIFY(!three.secondPath);
        QVERIFY(!three.powerOff);

        const SettingsFile six = parseSettingsFile("a\nb\nc\n  d  \ne\nPWROFF:1\n");
        QCOMPARE(six.secondPath, std::optional<QString>(QStringLiteral("d")));
        QVERIFY(!six.powerOff);

        const SettingsFile empty = parseSettingsFile(QByteArray());
        QVERIFY(empty.opened);
        QVERIFY(!empty.bootUpdateEnabled && !empty.mcuCodeLine);

        const SettingsFile unended = parseSettingsFile("1\n2\n3\n4\n5\n6\nPWROFF:1");
        QCOMPARE(unended.powerOff, std::optional<bool>(true));
    }

    void searchedTextsAndTheirLines()
    {
        QCOMPARE(parseSettingsFile("xxUPBOOT:1yy\n").bootUpdateEnabled, std::optional<bool>(true));
        QCOMPARE(parseSettingsFile("upboot:1\n").bootUpdateEnabled, std::optional<bool>(false));
        QCOMPARE(parseSettingsFile("UPBOOT:0\nUPBOOT:1\n").bootUpdateEnabled,
                 std::optional<bool>(false));

        const SettingsFile elsewhere = parseSettingsFile(
            "PWROFF:1\nPWROFF:1\nPWROFF:1\nPWROFF:1\nPWROFF:1\nPWROFF:1\nPWROFF:0\nPWROFF:1\n");
        QCOMPARE(elsewhere.powerOff, std::optional<bool>(false));
        QCOMPARE(parseSettingsFile("\n\n\n\n\n\n--PWROFF:1--\n").powerOff,
                 std::optional<bool>(true));
        QCOMPARE(parseSettingsFile("\n\n\n\n\n\npwroff:1\n").powerOff, std::optional<bool>(false));

        // Reading stops at line 7, so nothing after it can have an effect.
        const QByteArray seven = "UPBOOT:0\nNFLASH:0\nc\nd\nBLSET:0\nWAITT:0\nPWROFF:0\n";
        const SettingsFile longer =
            parseSettingsFile(seven + "UPBOOT:1\nPWROFF:1\n" + QByteArray(100000, '\xFF'));
        QCOMPARE(longer.bootUpdateEnabled, std::optional<bool>(false));
        QCOMPARE(longer.powerOff, std::optional<bool>(false));
        QCOMPARE(longer.mcuCodeLine, std::optional<QString>(QStringLiteral("c")));
    }

    void lineEndsLfAndCrLfReadTheSame()
    {
        const QByteArray lf =
            "UPBOOT:1\nNFLASH:0\n  /a b/c.bin  \n ./x \nBLSET:0\nWAITT:0\nPWROFF:1\n";
        QByteArray crlf = lf;
        crlf.replace("\n", "\r\n");
        const SettingsFile a = parseSettingsFile(lf);
        const SettingsFile b = parseSettingsFile(crlf);
        QCOMPARE(b.mcuCodeLine, std::optional<QString>(QStringLiteral("  /a b/c.bin  ")));
        QCOMPARE(a.mcuCodeLine, b.mcuCodeLine);
        QCOMPARE(a.secondPath, std::optional<QString>(QStringLiteral("./x")));
        QCOMPARE(a.secondPath, b.secondPath);
        QCOMPARE(a.bootUpdateEnabled, b.bootUpdateEnabled);
        QCOMPARE(a.powerOff, b.powerOff);
        QCOMPARE(b.powerOff, std::optional<bool>(true));
    }

    void oddBytes()
    {
        QByteArray nul("UPBOOT:1\0\n", 10);
        nul += QByteArray(5000, '\0') + "\n\xFF\xFE\x80\n\x01\x02\n\n\n\xC3PWROFF:1\n";
        const SettingsFile read = parseSettingsFile(nul);
        QCOMPARE(read.bootUpdateEnabled, std::optional<bool>(true));
        QVERIFY(read.mcuCodeLine);
        QCOMPARE(read.powerOff, std::optional<bool>(true));

        const QByteArray longLine(4 * 1024 * 1024, 'p');
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        QVERIFY(writeAll(path, "UPBOOT:0\nNFLASH:0\n" + longLine + "\r\n"));
        QCOMPARE(readSettingsFile(path).mcuCodeLine->size(), longLine.size());

        // Whatever the bytes, reading ends and holds no more than seven lines' worth.
        quint32 seed = 12345;
        for (int round = 0; round < 500; ++round) {
            QByteArray noise(int(seed % 300), '\0');
            for (char &c : noise) {
                seed = seed * 1103515245u + 12345u;
                c = char(seed >> 24);
            }
            const SettingsFile any = parseSettingsFile(noise);
            QVERIFY(any.opened);
            QVERIFY(!any.mcuCodeLine || any.mcuCodeLine->size() <= noise.size());
        }
    }

    void contentUsesTheLocaleCodec()
    {
        LocaleCodecGuard guard;
        const QString path = QStringLiteral("/home/jos\u00e9/\u4ee3\u7801.bin");

        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        const QByteArray utf8 = settingsFileContent(path, QStringLiteral("./"), true);
        QVERIFY(utf8.contains("jos\xC3\xA9/\xE4\xBB\xA3\xE7\xA0\x81.bin"));
        QCOMPARE(parseSettingsFile(utf8).mcuCodeLine, std::optional<QString>(path));

        const QString latinPath = QStringLiteral("C:/Users/Jos\u00e9/code.bin");
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
        const QByteArray latin1 = settingsFileContent(latinPath, QStringLiteral("./"), true);
        QVERIFY(latin1.contains("Jos\xE9/code.bin"));
        QCOMPARE(parseSettingsFile(latin1).mcuCodeLine, std::optional<QString>(latinPath));
    }

    // A FIFO in config.ini's place is neither read nor written (either would wait for the
    // other end for good), and stays as it is.
    void aFifoIsNeitherReadNorWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!readSettingsFile(path).opened);
        QVERIFY(!writeSettingsFile(path, QStringLiteral("new"), QStringLiteral("./"), true));
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!QFileInfo(path).isFile() && QFileInfo::exists(path));
        QVERIFY(!readSettingsFile(QStringLiteral("/dev/zero")).opened);
    }

    // A link to a regular file is written through, and stays a link.
    void aLinkToAFileIsWrittenThrough()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        QVERIFY(writeAll(dir.filePath("mine.ini"), "UPBOOT:0\n"));
        QVERIFY(symlink("mine.ini", QFile::encodeName(path)) == 0);
        QCOMPARE(zq::config::allowBootUpdate(path), BootUpdateLine::Written);
        QVERIFY(writeSettingsFile(path, QStringLiteral("new.bin"), QStringLiteral("./"), true));
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(readSettingsFile(dir.filePath("mine.ini")).mcuCodeLine,
                 std::optional<QString>("new.bin"));
    }

    void aLinkToANodeIsLeftAlone_data() { zq::test::addLinkedNodeRows(); }

    void aLinkToANodeIsLeftAlone()
    {
        QFETCH(NodeKind, kind);
        if (!zq::test::mayMakeNode(kind))
            QSKIP("only root may make a device node");
        QTemporaryDir dir;
        const QString path = zq::test::makeLinkToNode(kind, dir.path(), "config.ini");
        QVERIFY(!path.isEmpty());
        QVERIFY(!readSettingsFile(path).opened);
        QVERIFY(!writeSettingsFile(path, QStringLiteral("new"), QStringLiteral("./"), true));
        QCOMPARE(zq::config::allowBootUpdate(path), BootUpdateLine::NotRegularFile);
        QVERIFY(zq::test::linkedNodeIntact(kind, path));
    }

    void unwritableFileStaysAsItWas()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        const QByteArray old = "UPBOOT:1\nhand-made\n";
        QVERIFY(writeAll(path, old));
        QVERIFY(QFile::setPermissions(path, readOnly));
        if (!permissionsBindUs(path))
            skipOrFailAsRoot("permission bits do not stop this user (root?): a read-only file is "
                             "writable");

        QVERIFY(!writeSettingsFile(path, QStringLiteral("new"), QStringLiteral("./"), true));
        QCOMPARE(readAll(path), old);
        QCOMPARE(QFile::permissions(path) & readWrite, readOnly);
    }

    void unwritableFolderKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkdir(folder));
        const QString path = folder + QStringLiteral("/config.ini");
        const QString absent = dir.filePath(QStringLiteral("locked/other.ini"));
        const QByteArray old = "UPBOOT:0\nNFLASH:0\nold.bin\n";
        QVERIFY(writeAll(path, old));
        QVERIFY(QFile::setPermissions(folder, folderReadOnly));
        const bool binding = !writeAll(absent, "probe");
        QFile::remove(absent);
        if (!binding) {
            QFile::setPermissions(folder, readWrite | QFileDevice::ExeOwner);
            skipOrFailAsRoot("permission bits do not stop this user (root?): a read-only folder "
                             "is writable");
        }

        const bool written =
            writeSettingsFile(path, QStringLiteral("new"), QStringLiteral("./"), false);
        const bool created =
            writeSettingsFile(absent, QStringLiteral("new"), QStringLiteral("./"), false);
        const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        QFile::setPermissions(folder, readWrite | QFileDevice::ExeOwner);
        QVERIFY(!written);
        QVERIFY(!created);
        QCOMPARE(readAll(path), old);
        QCOMPARE(entries, QStringList{QStringLiteral("config.ini")});
    }

    void impossiblePaths()
    {
        QTemporaryDir dir;
        QVERIFY(!writeSettingsFile(dir.path(), QStringLiteral("a"), QStringLiteral("b"), true));
        QVERIFY(QFileInfo(dir.path()).isDir());
        QVERIFY(!writeSettingsFile(dir.filePath(QStringLiteral("no/such/config.ini")),
                                   QStringLiteral("a"), QStringLiteral("b"), true));
        QVERIFY(!readSettingsFile(dir.path()).opened);
    }

    void fileLivesInTheWorkingDirectory()
    {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const bool written = writeSettingsFile(
            zq::config::settingsFilePath(), QStringLiteral("here.bin"), QStringLiteral("./"), true);
        const QString path = zq::config::settingsFilePath();
        QDir::setCurrent(previous);
        QVERIFY(written);
        QVERIFY(path.endsWith(QStringLiteral("/config.ini")));
        QCOMPARE(readSettingsFile(dir.filePath(QStringLiteral("config.ini"))).mcuCodeLine,
                 std::optional<QString>(QStringLiteral("here.bin")));
    }
};

QTEST_APPLESS_MAIN(SettingsFileTest)
#include "test_settings_file.moc"
