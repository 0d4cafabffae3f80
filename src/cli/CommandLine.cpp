#include "cli/CommandLine.h"

#include "protocol/TargetIds.h"

#include <QHash>
#include <QRegularExpression>

#include <limits>

namespace zq::cli
{

namespace
{

enum class Value { None, Required, JoinedOnly };

// Whose option it is: every subcommand's, or only those whose row names it.
enum class Scope { Every, Row };

struct OptionRule {
    const char *name;
    Value value;
    Scope scope;
};

const QList<OptionRule> &optionRules()
{
    static const QList<OptionRule> rules{
        {"help", Value::None, Scope::Every},
        {"version", Value::None, Scope::Every},
        {"device", Value::Required, Scope::Every},
        {"all", Value::None, Scope::Row},
        {"emulated", Value::JoinedOnly, Scope::Every},
        {"json", Value::None, Scope::Every},
        {"log", Value::Required, Scope::Every},
        {"no-progress", Value::None, Scope::Every},
        {"verbose", Value::None, Scope::Every},
        {"flash-ini", Value::Required, Scope::Every},
        {"mcu", Value::Required, Scope::Row},
        {"number", Value::Required, Scope::Row},
        {"speed", Value::Required, Scope::Row},
        {"keep-power", Value::None, Scope::Row},
        {"allow-boot-update", Value::None, Scope::Row},
        {"records", Value::Required, Scope::Every},
        {"no-records", Value::None, Scope::Every},
        {"station", Value::Required, Scope::Every},
        {"operator", Value::Required, Scope::Every},
        {"unit", Value::Required, Scope::Every},
        // job create's and records' own; their action reads them (JobCommand, RecordsCommand).
        {"image", Value::Required, Scope::Row},
        {"output", Value::Required, Scope::Row},
        {"name", Value::Required, Scope::Row},
        {"revision", Value::Required, Scope::Row},
        {"operation", Value::Required, Scope::Row},
        {"limit", Value::Required, Scope::Row},
        {"serial-address", Value::Required, Scope::Row},
        {"serial-length", Value::Required, Scope::Row},
        {"serial-encoding", Value::Required, Scope::Row},
        {"serial-start", Value::Required, Scope::Row},
        {"serial-step", Value::Required, Scope::Row},
        {"serial-last", Value::Required, Scope::Row},
        {"serial-list", Value::Required, Scope::Row},
        {"serial-series", Value::Required, Scope::Row},
        {"serial", Value::Required, Scope::Row},
        {"board", Value::Required, Scope::Row},
        {"job", Value::Required, Scope::Row},
        {"result", Value::Required, Scope::Row},
        {"since", Value::Required, Scope::Row},
        {"until", Value::Required, Scope::Row},
        {"last", Value::Required, Scope::Row},
        {"by", Value::Required, Scope::Row},
        {"format", Value::Required, Scope::Row},
    };
    return rules;
}

const OptionRule *findRule(const QString &name)
{
    for (const OptionRule &rule : optionRules())
        if (name == QLatin1String(rule.name))
            return &rule;
    return nullptr;
}

// What the scan of the arguments found, before any value is judged.
struct Scan {
    QHash<QString, QString> values;       // option name -> its last value ("" for a switch)
    QHash<QString, QStringList> repeated; // option name -> every value, in order
    QStringList positionals;
    QString error;
};

// Takes one "--name[=value]" at arguments[index]; may consume the next argument as its value.
void scanOption(const QStringList &arguments, int &index, Scan &scan)
{
    const QString text = arguments.at(index).mid(2);
    const int equals = text.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? text : text.left(equals);
    const OptionRule *rule = findRule(name);
    if (!rule) {
        scan.error = QStringLiteral("unknown option --") + name;
        return;
    }
    if (equals >= 0 && rule->value == Value::None) {
        scan.error = QStringLiteral("--") + name + QStringLiteral(" takes no value");
        return;
    }
    QString value = equals >= 0 ? text.mid(equals + 1) : QString();
    if (equals < 0 && rule->value == Value::Required) {
        if (index + 1 >= arguments.size()) {
            scan.error = QStringLiteral("--") + name + QStringLiteral(" needs a value");
            return;
        }
        value = arguments.at(++index);
    }
    scan.values.insert(name, value);
    scan.repeated[name].append(value);
}

// The short spellings, as their long options.
QStringList withLongOptions(QStringList arguments)
{
    for (QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == QLatin1String("-o"))
            argument = QStringLiteral("--output");
    }
    return arguments;
}

Scan scanArguments(const QStringList &given)
{
    const QStringList arguments = withLongOptions(given);
    Scan scan;
    bool onlyPositionals = false;
    for (int i = 0; i < arguments.size() && scan.error.isEmpty(); ++i) {
        const QString &argument = arguments.at(i);
        if (onlyPositionals || argument == QLatin1String("-") || !argument.startsWith('-'))
            scan.positionals.append(argument);
        else if (argument == QLatin1String("--"))
            onlyPositionals = true;
        else if (argument == QLatin1String("-h"))
            scan.values.insert(QStringLiteral("help"), QString());
        else if (argument.startsWith(QLatin1String("--")))
            scanOption(arguments, i, scan);
        else
            scan.error = QStringLiteral("unknown option ") + argument;
    }
    return scan;
}

QString checkOptionsFit(const Scan &scan, const SubcommandRow &row)
{
    for (auto it = scan.values.cbegin(); it != scan.values.cend(); ++it) {
        if (findRule(it.key())->scope == Scope::Row && !row.takesOption(it.key()))
            return QStringLiteral("--") + it.key() + QStringLiteral(" is not an option of ") +
                   row.nameText();
    }
    return QString();
}

QString takeValues(const Scan &scan, Options &options)
{
    const QHash<QString, QString> &values = scan.values;
    options.emulatedStateFolders = scan.repeated.value(QStringLiteral("emulated"));
    if (values.contains(QStringLiteral("all")) && values.contains(QStringLiteral("device")))
        return QStringLiteral("--all takes every ready programmer; leave out --device");
    if (values.contains(QStringLiteral("mcu")) &&
        !parseMcuType(values.value(QStringLiteral("mcu")), options.mcuTypeIndex))
        return QStringLiteral("--mcu takes one of ") + mcuTypeNames();
    if (values.contains(QStringLiteral("speed")) &&
        !parseSpeed(values.value(QStringLiteral("speed")), options.swdSpeedIndex))
        return QStringLiteral("--speed takes high, middle or low");
    if (values.contains(QStringLiteral("number"))) {
        options.programNumber = values.value(QStringLiteral("number"));
        if (!validProgramNumber(options.programNumber))
            return QStringLiteral("--number takes a whole number from 10 to 4294967295");
    }
    if (values.contains(QStringLiteral("log")) && values.value(QStringLiteral("log")).isEmpty())
        return QStringLiteral("--log needs a file name");
    if (values.contains(QStringLiteral("flash-ini")) &&
        values.value(QStringLiteral("flash-ini")).isEmpty())
        return QStringLiteral("--flash-ini needs a file name");
    options.device = values.value(QStringLiteral("device"));
    options.emulated = values.contains(QStringLiteral("emulated"));
    options.all = values.contains(QStringLiteral("all"));
    options.json = values.contains(QStringLiteral("json"));
    options.logFile = values.value(QStringLiteral("log"));
    options.noProgress = values.contains(QStringLiteral("no-progress"));
    options.verbose = values.contains(QStringLiteral("verbose"));
    options.flashIni = values.value(QStringLiteral("flash-ini"));
    options.keepPower = values.contains(QStringLiteral("keep-power"));
    options.records = values.value(QStringLiteral("records"));
    options.noRecords = values.contains(QStringLiteral("no-records"));
    options.station = values.value(QStringLiteral("station"));
    options.operatorName = values.value(QStringLiteral("operator"));
    options.unit = values.value(QStringLiteral("unit"));
    if (values.contains(QStringLiteral("records")) && options.noRecords)
        return QStringLiteral("--records names a store and --no-records keeps none; give one");
    if (values.contains(QStringLiteral("records")) && options.records.isEmpty())
        return QStringLiteral("--records needs a store");
    if (rowOf(options.subcommand).takesAction())
        options.actionOptions = values;
    if (options.subcommand == Subcommand::Run)
        options.jobFile = options.file;
    options.allowBootUpdate = values.contains(QStringLiteral("allow-boot-update"));
    return QString();
}

// job ACTION [FILE], records ACTION [SERIAL]
QString takeAction(const QStringList &positionals, Options &options)
{
    const SubcommandRow &row = rowOf(options.subcommand);
    if (positionals.size() < 2)
        return row.nameText() + QStringLiteral(" needs an action: ") + row.actionNames();
    QString argument;
    options.action = positionals.at(1);
    if (!row.hasAction(options.action, &argument))
        return QStringLiteral("unknown action ") + row.nameText() + QLatin1Char(' ') +
               options.action + QStringLiteral("; it is ") + row.actionNames();
    const int wanted = argument.isEmpty() ? 2 : 3;
    if (positionals.size() < wanted)
        return row.nameText() + QLatin1Char(' ') + options.action + QStringLiteral(" needs ") +
               argument;
    if (positionals.size() > wanted)
        return QStringLiteral("unexpected argument ") + positionals.at(wanted);
    options.actionArgument = wanted == 3 ? positionals.at(2) : QString();
    return QString();
}

QString takePositionals(const QStringList &positionals, Options &options)
{
    if (positionals.isEmpty())
        return QStringLiteral("no subcommand given");
    options.subcommand = subcommandForName(positionals.first());
    if (options.subcommand == Subcommand::None)
        return QStringLiteral("unknown subcommand ") + positionals.first();
    if (rowOf(options.subcommand).takesAction())
        return takeAction(positionals, options);
    const int wanted = rowOf(options.subcommand).takesFile() ? 2 : 1;
    if (positionals.size() < wanted)
        return subcommandName(options.subcommand) + QStringLiteral(" needs a FILE");
    if (positionals.size() > wanted)
        return QStringLiteral("unexpected argument ") + positionals.at(wanted);
    options.file = wanted == 2 ? positionals.at(1) : QString();
    return QString();
}

// "zqprog help [SUBCOMMAND]" and --help anywhere.
ParsedCommandLine helpRequest(const Scan &scan)
{
    ParsedCommandLine parsed;
    parsed.options.help = true;
    QStringList words = scan.positionals;
    if (!words.isEmpty() && words.first() == QLatin1String("help"))
        words.removeFirst();
    if (!words.isEmpty())
        parsed.options.subcommand = subcommandForName(words.first());
    if (!words.isEmpty() && parsed.options.subcommand == Subcommand::None)
        parsed.error = QStringLiteral("unknown subcommand ") + words.first();
    return parsed;
}

} // namespace

// The MCU type list's names, in any letter case.
bool parseMcuType(const QString &text, int &index)
{
    for (int i = 0; i < protocol::kMcuTypeCount; ++i) {
        if (text.compare(protocol::mcuTypeName(i), Qt::CaseInsensitive) == 0) {
            index = i;
            return true;
        }
    }
    return false;
}

QString mcuTypeNames()
{
    QStringList names;
    for (int i = 0; i < protocol::kMcuTypeCount; ++i)
        names.append(protocol::mcuTypeName(i));
    return names.join(QStringLiteral(", "));
}

bool parseSpeed(const QString &text, int &index)
{
    const QStringList speeds{QStringLiteral("high"), QStringLiteral("middle"),
                             QStringLiteral("low")};
    index = speeds.indexOf(text.toLower());
    return index >= 0;
}

// The form's field accepts what its validator lets through: two digits or more, no leading
// zero. The programmer stores the number in 32 bits.
bool validProgramNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[1-9][0-9]+$"));
    bool fits = false;
    const qulonglong number = text.toULongLong(&fits);
    return pattern.match(text).hasMatch() && fits && number <= std::numeric_limits<uint32_t>::max();
}

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    const Scan scan = scanArguments(arguments);
    ParsedCommandLine parsed;
    if (!scan.error.isEmpty()) {
        parsed.error = scan.error;
        return parsed;
    }
    parsed.options.arguments = arguments;
    if (scan.values.contains(QStringLiteral("version"))) {
        // Like --help, it needs nothing else; --json chooses its form.
        parsed.options.version = true;
        parsed.options.json = scan.values.contains(QStringLiteral("json"));
        return parsed;
    }
    if (scan.values.contains(QStringLiteral("help")) ||
        (!scan.positionals.isEmpty() && scan.positionals.first() == QLatin1String("help")))
        return helpRequest(scan);
    parsed.error = takePositionals(scan.positionals, parsed.options);
    if (parsed.error.isEmpty())
        parsed.error = checkOptionsFit(scan, rowOf(parsed.options.subcommand));
    if (parsed.error.isEmpty())
        parsed.error = takeValues(scan, parsed.options);
    if (parsed.error.isEmpty() && parsed.options.subcommand == Subcommand::Download &&
        !scan.values.contains(QStringLiteral("mcu")))
        parsed.error =
            QStringLiteral("download needs --mcu TYPE (") + mcuTypeNames() + QStringLiteral(")");
    return parsed;
}

bool asksForJson(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--json"))
            return true;
    }
    return false;
}

} // namespace zq::cli
