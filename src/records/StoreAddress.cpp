#include "records/RecordStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

namespace zq::records
{

namespace
{

// libpq's connection keys (PostgreSQL 15); anything else is a typing error worth naming, not a
// setting to pass on and have libpq refuse with less context.
bool isLibpqKey(const QString &key)
{
    static const QStringList keys{
        "host",
        "hostaddr",
        "port",
        "dbname",
        "user",
        "password",
        "passfile",
        "channel_binding",
        "connect_timeout",
        "client_encoding",
        "options",
        "application_name",
        "fallback_application_name",
        "keepalives",
        "keepalives_idle",
        "keepalives_interval",
        "keepalives_count",
        "tcp_user_timeout",
        "replication",
        "gssencmode",
        "sslmode",
        "requiressl",
        "sslcompression",
        "sslcert",
        "sslkey",
        "sslpassword",
        "sslrootcert",
        "sslcrl",
        "sslcrldir",
        "sslsni",
        "requirepeer",
        "ssl_min_protocol_version",
        "ssl_max_protocol_version",
        "krbsrvname",
        "gsslib",
        "service",
        "target_session_attrs",
    };
    return keys.contains(key);
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Refuses a '%' that two hex digits do not follow, which a lenient decoder would keep as it is.
std::optional<QString> percentDecoded(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    for (int i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '%' &&
            (i + 2 >= bytes.size() || !isHexDigit(bytes[i + 1]) || !isHexDigit(bytes[i + 2])))
            return std::nullopt;
    }
    return QString::fromUtf8(QByteArray::fromPercentEncoding(bytes));
}

// A value as libpq's key=value syntax takes it back.
QString conninfoValue(const QString &value)
{
    static const QRegularExpression plain(QStringLiteral("^[^\\s'\\\\]+$"));
    if (plain.match(value).hasMatch())
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// Takes one key into the address: those QtSql sets by name go to their fields, the rest to the
// driver's options. The problem, or empty.
QString applyKey(StoreAddress &address, const QString &key, const QString &value)
{
    if (key == QLatin1String("host")) {
        address.host = value;
    } else if (key == QLatin1String("port") && value.isEmpty()) {
        address.port = -1; // libpq's default
    } else if (key == QLatin1String("port")) {
        bool ok = false;
        const int port = value.toInt(&ok);
        if (!ok || value.startsWith(QLatin1Char('+')) || value.startsWith(QLatin1Char('-')))
            return QStringLiteral("port '%1' is not a number").arg(value);
        if (port < 1 || port > 65535)
            return QStringLiteral("port %1 is out of range (1 to 65535)").arg(port);
        address.port = port;
    } else if (key == QLatin1String("dbname")) {
        address.database = value;
    } else if (key == QLatin1String("user")) {
        address.user = value;
    } else if (key == QLatin1String("password")) {
        address.password = value;
    } else {
        if (!address.options.isEmpty())
            address.options += QLatin1Char(' ');
        address.options += key + QLatin1Char('=') + conninfoValue(value);
    }
    return QString();
}

// "user:password@host:port" of a URL, decoded. The problem, or empty.
QString applyAuthority(StoreAddress &address, const QString &authority)
{
    QString hostPort = authority;
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        const int colon = userInfo.indexOf(QLatin1Char(':'));
        const auto user = percentDecoded(userInfo.left(colon));
        const auto password = percentDecoded(colon < 0 ? QString() : userInfo.mid(colon + 1));
        if (!user || !password)
            return QStringLiteral("bad percent escape in the user or password");
        address.user = *user;
        address.password = *password;
        hostPort = authority.mid(at + 1);
    }
    // An IPv6 address comes in brackets, as its colons would read as the port's.
    const int close =
        hostPort.startsWith(QLatin1Char('[')) ? hostPort.indexOf(QLatin1Char(']')) : -1;
    const int colon = hostPort.indexOf(QLatin1Char(':'), close < 0 ? 0 : close);
    const QString host = close > 0 ? hostPort.mid(1, close - 1) : hostPort.left(colon);
    const auto decoded = percentDecoded(host);
    if (!decoded)
        return QStringLiteral("bad percent escape in host '%1'").arg(host);
    address.host = *decoded;
    return colon < 0 ? QString()
                     : applyKey(address, QStringLiteral("port"), hostPort.mid(colon + 1));
}

// "a=1&b=2", decoded; host, port, dbname, user and password override the URL's own.
QString applyParameters(StoreAddress &address, const QString &query)
{
    for (const QString &parameter : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int equals = parameter.indexOf(QLatin1Char('='));
        const auto key = percentDecoded(parameter.left(equals));
        const auto value = percentDecoded(equals < 0 ? QString() : parameter.mid(equals + 1));
        if (!key || !value)
            return QStringLiteral("bad percent escape in parameter '%1'").arg(parameter);
        if (equals < 0)
            return QStringLiteral("parameter '%1' has no value").arg(*key);
        if (!isLibpqKey(*key))
            return QStringLiteral("unknown parameter '%1'").arg(*key);
        const QString problem = applyKey(address, *key, *value);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

std::optional<StoreAddress> parseUrl(const QString &text, int schemeLength, QString *error)
{
    StoreAddress address;
    address.kind = StoreAddress::Kind::PostgreSQL;
    QString rest = text.mid(schemeLength);
    const int question = rest.indexOf(QLatin1Char('?'));
    const QString query = question < 0 ? QString() : rest.mid(question + 1);
    rest = rest.left(question);
    const int slash = rest.indexOf(QLatin1Char('/'));
    const auto database = percentDecoded(slash < 0 ? QString() : rest.mid(slash + 1));
    QString problem = database ? applyAuthority(address, rest.left(slash))
                               : QStringLiteral("bad percent escape in the database name");
    if (problem.isEmpty())
        problem = applyParameters(address, query);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("postgresql URL: ") + problem;
        return std::nullopt;
    }
    if (address.database.isEmpty())
        address.database = *database;
    return address;
}

struct Pair {
    QString key;
    QString value;
};

// A quoted value of libpq's syntax from its opening quote: \' and \\ escape.
std::optional<QString> quotedValue(const QString &text, int &i)
{
    QString value;
    for (++i; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\'')) {
            ++i;
            return value;
        }
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size())
            ++i;
        value += text[i];
    }
    return std::nullopt;
}

// key = value pairs as libpq reads them, or nothing when the text is not of that form (a path
// with '=' in it). An unclosed quote ends the pairs with an empty value and a problem.
std::optional<QList<Pair>> conninfoPairs(const QString &text, QString *problem)
{
    static const QRegularExpression key(QStringLiteral("\\G\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*=\\s*"));
    QList<Pair> pairs;
    int i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    while (i < text.size()) {
        const QRegularExpressionMatch match = key.match(text, i);
        if (!match.hasMatch())
            return std::nullopt;
        pairs << Pair{match.captured(1), QString()};
        i = match.capturedEnd();
        if (i < text.size() && text[i] == QLatin1Char('\'')) {
            const auto value = quotedValue(text, i);
            if (!value) {
                *problem =
                    QStringLiteral("the value of '%1' has no closing quote").arg(pairs.last().key);
                return pairs;
            }
            pairs.last().value = *value;
        } else {
            while (i < text.size() && !text[i].isSpace())
                pairs.last().value += text[i++];
        }
        while (i < text.size() && text[i].isSpace())
            ++i;
    }
    return pairs;
}

std::optional<StoreAddress> parseConninfo(const QList<Pair> &pairs, QString problem, QString *error)
{
    StoreAddress address;
    address.kind = StoreAddress::Kind::PostgreSQL;
    for (const Pair &pair : pairs) {
        if (!problem.isEmpty())
            break;
        problem = isLibpqKey(pair.key) ? applyKey(address, pair.key, pair.value)
                                       : QStringLiteral("unknown key '%1'").arg(pair.key);
    }
    if (!problem.isEmpty()) {
        *error = problem + QStringLiteral(" in the PostgreSQL connection string");
        return std::nullopt;
    }
    return address;
}

} // namespace

std::optional<StoreAddress> parseStoreAddress(const QString &text, QString *error)
{
    if (text.trimmed().isEmpty()) {
        *error = QStringLiteral("no records store given (a file, a postgresql:// URL or a libpq "
                                "key=value string)");
        return std::nullopt;
    }
    for (const char *scheme : {"postgresql://", "postgres://"}) {
        if (text.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return parseUrl(text, int(qstrlen(scheme)), error);
    }
    // A key=value string when every word is a pair and one key at least is libpq's: a file
    // named "a=b.sqlite" stays a file, "host=/run/pg dbnme=x" is a typing error to name.
    if (text.contains(QLatin1Char('='))) {
        QString problem;
        const auto pairs = conninfoPairs(text, &problem);
        if (pairs && std::any_of(pairs->begin(), pairs->end(),
                                 [](const Pair &pair) { return isLibpqKey(pair.key); }))
            return parseConninfo(*pairs, problem, error);
    }
    StoreAddress address;
    address.path = text;
    return address;
}

QString StoreAddress::display() const
{
    if (kind == Kind::SQLite)
        return path;
    const QString shownHost =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("postgresql://%1%2%3/%4")
        .arg(user.isEmpty() ? QString() : user + QLatin1Char('@'), shownHost,
             port < 0 ? QString() : QLatin1Char(':') + QString::number(port), database);
}

QString StoreAddress::spoolKey() const
{
    // libpq's defaults filled in, so that "host=/run/pg user=zq" and the same with port=5432
    // share one spool.
    const QString normal =
        kind == Kind::SQLite
            ? QStringLiteral("sqlite\n") + QDir::cleanPath(QFileInfo(path).absoluteFilePath())
            : QStringLiteral("postgresql\n%1\n%2\n%3\n%4")
                  .arg(host, QString::number(port < 0 ? 5432 : port), user,
                       database.isEmpty() ? user : database);
    return QString::fromLatin1(
        QCryptographicHash::hash(normal.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

QString dataFolder()
{
#ifdef Q_OS_WIN
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    // As the XDG base directory rules say: a relative XDG_DATA_HOME is ignored.
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    const QString base =
        QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.local/share");
#endif
    return QDir::cleanPath(base) + QStringLiteral("/zq-programmer");
}

QString defaultStorePath()
{
    return dataFolder() + QStringLiteral("/records.sqlite");
}

} // namespace zq::records
