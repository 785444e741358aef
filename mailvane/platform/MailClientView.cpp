#include "MailClientView.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>

namespace
{

// Undoes the escapes of a desktop entry string value.
QString unescapeValue(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar e = value.at(++i);
        switch (e.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        default:
            out += e;
            break;
        }
    }
    return out;
}

// The keys of the [Desktop Entry] group; localised keys (Name[de]) are left out.
QHash<QString, QString> readDesktopEntry(const QString &path)
{
    QHash<QString, QString> entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entry;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inGroup || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!key.contains(QLatin1Char('[')) && !entry.contains(key))
            entry.insert(key, unescapeValue(line.mid(eq + 1).trimmed()));
    }
    return entry;
}

} // namespace

QStringList xdgDataDirs()
{
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty() || QDir::isRelativePath(home))
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList all{home};
    for (const QString &dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (!QDir::isRelativePath(dir))
            all.append(dir);
    }
    return all;
}

QList<DesktopMailClient> findMailClients(const QStringList &dataDirs)
{
    QList<DesktopMailClient> clients;
    QSet<QString> seenIds;
    for (const QString &dataDir : dataDirs) {
        const QDir apps(dataDir + QStringLiteral("/applications"));
        QDirIterator it(apps.path(), {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        for (const QString &file : std::as_const(files)) {
            const QString id = apps.relativeFilePath(file).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seenIds.contains(id))
                continue;
            seenIds.insert(id);
            const auto entry = readDesktopEntry(file);
            const QStringList types = entry.value(QStringLiteral("MimeType")).split(QLatin1Char(';'));
            if (entry.value(QStringLiteral("Type")) != QLatin1String("Application") ||
                entry.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
                !types.contains(QLatin1String("x-scheme-handler/mailto")) ||
                entry.value(QStringLiteral("Name")).isEmpty())
                continue;
            clients.append(
                {entry.value(QStringLiteral("Name")), stripFieldCodes(entry.value(QStringLiteral("Exec")))});
        }
    }
    return clients;
}

QString stripFieldCodes(const QString &exec)
{
    static const QString codes = QStringLiteral("fFuUdDnNickvm");
    QString out;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (c != QLatin1Char('%') || i + 1 == exec.size()) {
            out += c;
            continue;
        }
        const QChar code = exec.at(++i);
        if (code == QLatin1Char('%')) {
            out += code;
        } else if (codes.contains(code)) {
            // A code that stands as an argument of its own takes its separating blank with it.
            const bool alone = i + 1 == exec.size() || exec.at(i + 1) == QLatin1Char(' ');
            if (alone && out.endsWith(QLatin1Char(' ')))
                out.chop(1);
        } else {
            out += c;
            out += code;
        }
    }
    return out.trimmed();
}

VirtualKey mailClientsView(const QList<DesktopMailClient> &clients)
{
    VirtualKey mail{QStringLiteral("Mail"), {}, {}};
    for (const DesktopMailClient &client : clients) {
        if (client.name.contains(QLatin1Char('\\')))
            continue; // cannot be a key name
        const VirtualKey command{
            QStringLiteral("Command"), {RegValue{QString(), RegType::String, client.command}}, {}};
        const VirtualKey open{QStringLiteral("open"), {}, {command}};
        const VirtualKey shell{QStringLiteral("Shell"), {}, {open}};
        mail.subKeys.append({client.name, {RegValue{QString(), RegType::String, client.name}}, {shell}});
    }
    return mail;
}
