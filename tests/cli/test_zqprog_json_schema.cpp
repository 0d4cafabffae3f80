// Every JSON line of every subcommand against the schema written down in docs/zqprog-json.md:
// the document's tables are read here, so the document and the program cannot drift apart.
#include "ZqprogRun.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

using namespace zq::test;

namespace
{

// key -> the JSON types allowed ("number", "null", ...).
using KeyTypes = QHash<QString, QStringList>;

struct Schema {
    QHash<QString, KeyTypes> required;     // kind -> keys every object of it has
    QHash<QString, KeyTypes> resultExtras; // subcommand -> keys only its result may have
};

Schema readSchema()
{
    Schema schema;
    const QStringList lines =
        QString::fromUtf8(readAll(QStringLiteral(ZQ_JSON_SCHEMA_DOC))).split(QLatin1Char('\n'));
    static const QRegularExpression heading(QStringLiteral("^### (\\w+)(?: \\+ (.*))?$"));
    static const QRegularExpression row(QStringLiteral("^\\| `(\\w+)` \\| ([a-z ]+) \\|"));
    QList<KeyTypes *> tables;
    for (const QString &line : lines) {
        const QRegularExpressionMatch title = heading.match(line);
        if (title.hasMatch()) {
            tables.clear();
            if (title.captured(2).isEmpty())
                tables << &schema.required[title.captured(1)];
            else
                for (const QString &command : title.captured(2).split(QStringLiteral(", ")))
                    tables << &schema.resultExtras[command];
            continue;
        }
        const QRegularExpressionMatch key = row.match(line);
        if (key.hasMatch())
            for (KeyTypes *table : tables)
                table->insert(key.captured(1), key.captured(2).split(QStringLiteral(" or ")));
    }
    return schema;
}

QString typeOf(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("boolean");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::String:
        return QStringLiteral("string");
    case QJsonValue::Array:
        return QStringLiteral("array");
    case QJsonValue::Object:
        return QStringLiteral("object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("undefined");
}

// Empty when the object keeps to the schema; otherwise what is wrong.
QString schemaProblem(const Schema &schema, const QJsonObject &object)
{
    const QString kind = object.value(QStringLiteral("kind")).toString();
    if (!schema.required.contains(kind))
        return QStringLiteral("undocumented kind ") + kind;
    const KeyTypes &required = schema.required.value(kind);
    KeyTypes allowed = required;
    if (kind == QLatin1String("result")) {
        const KeyTypes extras =
            schema.resultExtras.value(object.value(QStringLiteral("command")).toString());
        for (auto it = extras.cbegin(); it != extras.cend(); ++it)
            allowed.insert(it.key(), it.value());
    }
    for (auto it = required.cbegin(); it != required.cend(); ++it)
        if (!object.contains(it.key()))
            return kind + QStringLiteral(" lacks ") + it.key();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!allowed.contains(it.key()))
            return kind + QStringLiteral(" has the undocumented key ") + it.key();
        if (!allowed.value(it.key()).contains(typeOf(it.value())))
            return kind + QLatin1Char('.') + it.key() + QStringLiteral(" is a ") +
                   typeOf(it.value());
    }
    if (object.value(QStringLiteral("schemaVersion")).toInt() != 1)
        return QStringLiteral("schemaVersion is not 1");
    return QString();
}

} // namespace

class ZqprogJsonSchemaTest : public QObject
{
    Q_OBJECT
private slots:
    // The document is read at all: a parser that found nothing would pass every run.
    void theDocumentListsEveryKind()
    {
        const Schema schema = readSchema();
        for (const QString kind : {"log", "progress", "message", "result", "version"})
            QVERIFY2(schema.required.value(kind).contains("schemaVersion"), qPrintable(kind));
        QVERIFY(schema.required.value("result").contains("durationMs"));
        QVERIFY(schema.resultExtras.value("info").contains("boardId"));
        QVERIFY(schema.resultExtras.value("update-boot").contains("mode"));
        QVERIFY(schema.resultExtras.value("verify").contains("summary"));
    }

    void everyLineKeepsToTheSchema_data()
    {
        QTest::addColumn<QByteArray>("boardIni");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("kinds"); // kinds that must be among the lines

        const QByteArray normal;
        const QByteArray update = "mode=mcu-update\n";
        QTest::newRow("list") << normal << QStringList{"list"} << 0 << QStringList{"result"};
        QTest::newRow("info") << normal << QStringList{"info"} << 0 << QStringList{"log", "result"};
        QTest::newRow("download") << normal << QStringList{"download", "demo.bin", "--mcu", "ZQ318"}
                                  << 0 << QStringList{"log", "progress", "result"};
        QTest::newRow("check of an empty flash") << normal << QStringList{"check", "demo.bin"} << 1
                                                 << QStringList{"log", "progress", "result"};
        QTest::newRow("program") << normal << QStringList{"program", "demo.bin"} << 0
                                 << QStringList{"log", "progress", "result"};
        QTest::newRow("verify of an empty target")
            << normal << QStringList{"verify", "demo.bin"} << 1 << QStringList{"log", "result"};
        QTest::newRow("update-app") << update << QStringList{"update-app", "demo.app"} << 0
                                    << QStringList{"log", "progress", "result"};
        QTest::newRow("update-boot")
            << normal << QStringList{"update-boot", "demo.boot", "--allow-boot-update"} << 0
            << QStringList{"log", "progress", "result"};
        QTest::newRow("download on every board")
            << normal << QStringList{"download", "demo.bin", "--mcu", "ZQ318", "--all"} << 0
            << QStringList{"log", "progress", "result"};
        QTest::newRow("a refusal")
            << update << QStringList{"program", "demo.bin"} << 1 << QStringList{"result"};
        QTest::newRow("a message box")
            << normal << QStringList{"program", "short.bin"} << 1 << QStringList{"result"};
        QTest::newRow("a program with its record")
            << normal << QStringList{"program", "demo.bin", "--records", "r.sqlite"} << 0
            << QStringList{"result"};
        QTest::newRow("the records")
            << normal << QStringList{"records", "list", "--records", "r.sqlite"} << 0
            << QStringList{"result"};
        QTest::newRow("a job") << normal << QStringList{"job",    "create", "--image", "demo.bin",
                                                        "--name", "n",      "-o",      "j"}
                               << 0 << QStringList{"result"};
        QTest::newRow("a usage error")
            << normal << QStringList{"erase"} << 2 << QStringList{"result"};
        QTest::newRow("the version")
            << normal << QStringList{"--version"} << 0 << QStringList{"version"};
    }

    void everyLineKeepsToTheSchema()
    {
        QFETCH(QByteArray, boardIni);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, kinds);
        const Schema schema = readSchema();
        WorkFolder work;
        if (!boardIni.isEmpty())
            work.setBoard(boardIni);
        // Its entry address is outside the flash: the window's box, then the refusal.
        writeAll(work.path("short.bin"), WorkFolder::codeImage().left(4) +
                                             QByteArray::fromHex("01100008") + QByteArray(64, 'x'));
        const ZqprogRun run = work.run(QStringList{"--json", work.emulated()} + arguments);
        QCOMPARE(run.exitCode, exitCode);
        const QList<QJsonObject> lines = jsonLines(run);
        QVERIFY2(!lines.isEmpty() && lines.size() == run.out.size(),
                 qPrintable(run.out.join('\n')));
        QSet<QString> seen;
        for (const QJsonObject &line : lines) {
            const QString problem = schemaProblem(schema, line);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            seen.insert(line.value("kind").toString());
        }
        for (const QString &kind : kinds)
            QVERIFY2(seen.contains(kind), qPrintable(kind));
        const QJsonObject last = lines.last();
        if (last.value("kind") == "result")
            QCOMPARE(last.value("exit").toInt(), exitCode);
    }

    // What the numbers say, where a hex text or a sentence stood before.
    void theResultCarriesTheImageAndTheBoardAsNumbers()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({"--json", work.emulated(), "program", "demo.bin"});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject result = jsonLines(run).last();
        QCOMPARE(result.value("file").toString(), QString("demo.bin"));
        QCOMPARE(result.value("format").toString(), QString("raw binary"));
        QCOMPARE(result.value("length").toInt(), work.codeImage().size());
        QCOMPARE(zq::toHexText(uint32_t(result.value("crc").toDouble()), 8),
                 crcText(work.codeImage()));
        QCOMPARE(result.value("board").toDouble(), double(0x00012345));
        QCOMPARE(result.value("targetId").toDouble(), double(0x5A3C3180));
        QVERIFY(result.value("flashIni").toString().endsWith("/Flash.ini"));
    }

    // The write restarts at 0 for the check: the phase tells the two apart.
    void progressNamesItsPhase()
    {
        WorkFolder work;
        const ZqprogRun run =
            work.run({"--json", work.emulated(), "download", "demo.bin", "--mcu", "ZQ318"});
        QCOMPARE(run.exitCode, 0);
        QStringList phases;
        for (const QJsonObject &line : jsonLines(run)) {
            const QString phase = line.value("phase").toString();
            if (line.value("kind") == "progress" && (phases.isEmpty() || phases.last() != phase))
                phases << phase;
        }
        QCOMPARE(phases.mid(0, 2), QStringList({"write", "check"}));

        const ZqprogRun quiet =
            work.run({"--json", "--no-progress", work.emulated(), "check", "demo.bin"});
        QCOMPARE(quiet.exitCode, 0);
        for (const QJsonObject &line : jsonLines(quiet))
            QVERIFY(line.value("kind") != "progress");
    }
};

QTEST_GUILESS_MAIN(ZqprogJsonSchemaTest)
#include "test_zqprog_json_schema.moc"
