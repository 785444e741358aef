#include "RegFile.h"

#include <QStringDecoder>

#include <variant>

namespace
{

QString quote(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        default:
            out += c;
        }
    }
    return out + QLatin1Char('"');
}

void exportKey(const RegistryKey &key, QString &out)
{
    out += QLatin1Char('[') + key.fullPath().mid(1) + QLatin1String("]\n");
    for (const RegValue &v : key.values()) {
        out += v.name.isEmpty() ? QStringLiteral("@") : quote(v.name);
        out += QLatin1Char('=');
        if (v.type == RegType::DWord)
            out += QStringLiteral("dword:%1").arg(v.data.toUInt(), 8, 16, QLatin1Char('0'));
        else
            out += quote(v.data.toString());
        out += QLatin1Char('\n');
    }
    out += QLatin1Char('\n');
    for (const QString &name : key.subKeyNames())
        exportKey(key.subKey(name), out);
}

struct KeyOp {
    QStringList path;
    bool remove;
};
struct ValueOp {
    QString name;
    std::optional<RegValue> value; // nothing: remove
};
struct Op {
    int line;
    std::variant<KeyOp, ValueOp> op;
};

struct ParseError {
    QString text;
};

// A quoted string starting at pos (on the opening quote); pos ends after the closing quote.
QString parseQuoted(const QString &line, qsizetype &pos)
{
    QString out;
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line.at(pos);
        if (c == QLatin1Char('"')) {
            ++pos;
            return out;
        }
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++pos == line.size())
            break;
        switch (line.at(pos).unicode()) {
        case '\\':
            out += QLatin1Char('\\');
            break;
        case '"':
            out += QLatin1Char('"');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        default:
            throw ParseError{QStringLiteral("unknown escape \\%1").arg(line.at(pos))};
        }
    }
    throw ParseError{QStringLiteral("missing closing quote")};
}

// The registry's own limit on how deep keys go below a root key.
constexpr qsizetype MaxKeyDepth = 512;

QStringList parseKeyPath(const QString &text)
{
    const QStringList path = text.split(QLatin1Char('\\'));
    if (path.contains(QString()))
        throw ParseError{QStringLiteral("empty key name in \"%1\"").arg(text)};
    if (path.size() - 1 > MaxKeyDepth)
        throw ParseError{QStringLiteral("key deeper than %1 levels").arg(MaxKeyDepth)};
    const QString root = registryNameKey(path.first());
    if (root != RegistryStore::rootName(RegistryStore::Root::LocalMachine) &&
        root != RegistryStore::rootName(RegistryStore::Root::CurrentUser))
        throw ParseError{QStringLiteral("unknown root key \"%1\"").arg(path.first())};
    return path;
}

ValueOp parseValueLine(const QString &line)
{
    ValueOp op{{}, {}};
    qsizetype pos = 0;
    if (line.startsWith(QLatin1Char('@')))
        pos = 1;
    else
        op.name = parseQuoted(line, pos);
    if (pos >= line.size() || line.at(pos) != QLatin1Char('='))
        throw ParseError{QStringLiteral("expected = after the value name")};
    const QString data = line.mid(pos + 1).trimmed();
    if (data == QLatin1String("-"))
        return op;
    if (data.startsWith(QLatin1Char('"'))) {
        qsizetype end = 0;
        const QString text = parseQuoted(data, end);
        if (end != data.size())
            throw ParseError{QStringLiteral("text after the closing quote")};
        op.value = RegValue{op.name, RegType::String, text};
        return op;
    }
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = data.mid(6);
        bool ok = false;
        const uint n = digits.toUInt(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8 || digits.startsWith(QLatin1Char('+')))
            throw ParseError{QStringLiteral("bad dword \"%1\"").arg(digits)};
        op.value = RegValue{op.name, RegType::DWord, QVariant::fromValue(quint32(n))};
        return op;
    }
    throw ParseError{QStringLiteral("unsupported value data \"%1\"").arg(data)};
}

QList<Op> parse(const QByteArray &content, RegImportResult &result)
{
    QList<Op> ops;
    const QList<QByteArray> lines = content.split('\n');
    bool header = false;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        result.line = int(i + 1);
        QByteArray bytes = lines.at(i);
        if (i == 0 && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString line = QString(decoder(bytes)).trimmed();
        if (decoder.hasError())
            throw ParseError{QStringLiteral("not UTF-8 text")};
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (!header) {
            if (line != QLatin1String("REGEDIT4") &&
                line != QLatin1String("Windows Registry Editor Version 5.00"))
                throw ParseError{QStringLiteral("the file does not start with REGEDIT4")};
            header = true;
        } else if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                throw ParseError{QStringLiteral("missing ] after the key path")};
            const bool remove = line.at(1) == QLatin1Char('-');
            const QStringList path = parseKeyPath(line.mid(remove ? 2 : 1, line.size() - (remove ? 3 : 2)));
            if (remove && path.size() == 1)
                throw ParseError{QStringLiteral("a root key cannot be removed")};
            ops.append({int(i + 1), KeyOp{path, remove}});
            inSection = !remove;
        } else if (line.startsWith(QLatin1Char('"')) || line.startsWith(QLatin1Char('@'))) {
            if (!inSection)
                throw ParseError{QStringLiteral("a value outside a key section")};
            ops.append({int(i + 1), parseValueLine(line)});
        } else {
            throw ParseError{QStringLiteral("not a key or value line")};
        }
    }
    if (!header) {
        result.line = 1;
        throw ParseError{QStringLiteral("the file does not start with REGEDIT4")};
    }
    return ops;
}

// Applies one line. section is the key of the last [key] line, which the value lines after it name.
bool apply(RegistryStore &store, const Op &op, RegistryKey &section)
{
    if (const auto *k = std::get_if<KeyOp>(&op.op)) {
        if (k->remove) {
            const RegistryKey parent = store.open(k->path.mid(0, k->path.size() - 1).join(QLatin1Char('\\')));
            parent.removeSubKey(k->path.last()); // a missing key is no error
            section = {};
            return true;
        }
        section = store.open(k->path.first()).addSubKeyPath(k->path.mid(1));
        return section.isValid();
    }
    const auto &v = std::get<ValueOp>(op.op);
    const RegistryKey &key = section;
    if (!v.value) {
        key.removeValue(v.name);
        return key.isValid();
    }
    return key.setValue(*v.value);
}

} // namespace

QString exportRegFile(const RegistryKey &top)
{
    QString out = QStringLiteral("REGEDIT4\n\n");
    exportKey(top, out);
    return out;
}

QString exportRegFile(RegistryStore &store)
{
    QString out = QStringLiteral("REGEDIT4\n\n");
    exportKey(store.root(RegistryStore::Root::LocalMachine), out);
    exportKey(store.root(RegistryStore::Root::CurrentUser), out);
    return out;
}

RegImportResult importRegFile(RegistryStore &store, const QByteArray &content)
{
    RegImportResult result;
    QList<Op> ops;
    try {
        ops = parse(content, result);
    } catch (const ParseError &e) {
        result.ok = false;
        result.error = e.text;
        return result;
    }
    result.line = 0;
    result.ok = store.transaction([&] {
        RegistryKey section;
        for (const Op &op : std::as_const(ops)) {
            if (!apply(store, op, section)) {
                result.line = op.line;
                return false;
            }
        }
        return true;
    });
    if (!result.ok) {
        result.error = QStringLiteral("the store could not take this change");
    }
    return result;
}
