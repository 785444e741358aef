#include "AutostartEntry.h"

#include "Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace
{
// Escapes for a desktop entry string value.
QString escapeValue(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    if (text.startsWith(QLatin1Char(' ')))
        text.replace(0, 1, QLatin1String("\\s"));
    return text;
}

// One Exec argument: double-quoted, with ", `, $ and \ escaped inside the quotes and % doubled.
QString quoteExecArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (QStringLiteral("\"`$\\").contains(c))
            quoted += QLatin1Char('\\');
        quoted += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    return quoted + QLatin1Char('"');
}
} // namespace

XdgAutostartEntry::XdgAutostartEntry(const QString &program, const QString &folder)
    : m_program(program), m_folder(folder)
{
}

QString XdgAutostartEntry::filePath() const
{
    return m_folder + QStringLiteral("/Mailvane.desktop");
}

QString XdgAutostartEntry::defaultFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

QString XdgAutostartEntry::defaultProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/mailvane");
}

QString XdgAutostartEntry::contents(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Mailvane\n"
                          "Comment=%1\n"
                          "Exec=%2\n"
                          "Icon=%3\n"
                          "Terminal=false\n")
        .arg(escapeValue(mailvane::productName()), escapeValue(quoteExecArgument(program)),
             escapeValue(program));
}

bool XdgAutostartEntry::install()
{
    if (!QDir().mkpath(m_folder))
        return false;
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(contents(m_program).toUtf8());
    return file.commit();
}

bool XdgAutostartEntry::remove()
{
    return !QFile::exists(filePath()) || QFile::remove(filePath());
}
