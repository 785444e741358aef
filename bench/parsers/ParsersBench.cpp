// Times the header decoder and the REGEDIT4 import on hostile input of 1 MiB, against a plain input
// of the same size measured in the same run. Prints the time per MiB and, for the import, the time
// ratio when the input doubles (512 KiB to 1 MiB). Not a test: the figures depend on the machine.
#include "main/HeaderDecoder.h"
#include "platform/Prompter.h"
#include "platform/RegFile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace
{

constexpr qsizetype MiB = 1024 * 1024;

// The fastest of a few runs, in milliseconds.
double fastest(int runs, const std::function<void()> &work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

// text repeated up to size bytes, then tail.
QByteArray repeatedTo(const QByteArray &text, qsizetype size, const QByteArray &tail = {})
{
    QByteArray out = text.repeated((size - tail.size()) / text.size());
    return out + tail;
}

struct Shape {
    const char *name;
    std::function<QByteArray(qsizetype)> make;
};

void benchDecoder()
{
    const QList<Shape> shapes = {
        {"plain text (baseline)", [](qsizetype n) { return repeatedTo("Bob Smith <bob@example.org> ", n); }},
        {"valid words", [](qsizetype n) { return repeatedTo("=?UTF-8?Q?Gr=C3=BC=C3=9Fe?= ", n); }},
        {"\"=?a\" repeated", [](qsizetype n) { return repeatedTo("=?a", n); }},
        {"\"=?a?b?x...x ?=\"", [](qsizetype n) { return "=?a?b?" + QByteArray(n - 9, 'x') + " ?="; }},
        {"valid words, then \"=FF\"",
         [](qsizetype n) { return repeatedTo("=?UTF-8?Q?a?= ", n, "=?UTF-8?Q?=FF?="); }},
        {"nested word starts", [](qsizetype n) { return repeatedTo("=?U?Q?a", n - 2, "?="); }},
    };
    std::printf("Header decoder, 1 MiB of each shape (fastest of 9 runs):\n");
    double baseline = 0;
    for (const Shape &shape : shapes) {
        const QString header = QString::fromLatin1(shape.make(MiB));
        const double ms = fastest(9, [&] { decodeHeaderForDisplay(header); });
        if (baseline == 0)
            baseline = ms;
        std::printf("  %-28s %8.1f ms per MiB  %6.1fx the baseline\n", shape.name, ms, ms / baseline);
    }
}

double importMs(const QByteArray &file)
{
    return fastest(3, [&] {
        QTemporaryDir dir;
        RecordingPrompter prompter;
        RegistryStore store(dir.filePath(QStringLiteral("bench.sqlite3")), &prompter);
        const RegImportResult result = importRegFile(store, file);
        if (!result.ok && result.error.isEmpty())
            std::printf("    import failed at line %d\n", result.line);
    });
}

void benchImport()
{
    const QByteArray deepPath = "[HKEY_CURRENT_USER" + QByteArray("\\k").repeated(511);
    int counter = 0;
    const QList<Shape> shapes = {
        {"flat keys (baseline)",
         [&](qsizetype n) {
             QByteArray out = "REGEDIT4\n";
             while (out.size() < n)
                 out += "[HKEY_CURRENT_USER\\Software\\Key " + QByteArray::number(++counter) +
                        "]\n\"v\"=dword:1\n";
             return out;
         }},
        {"keys 512 levels deep",
         [&](qsizetype n) {
             QByteArray out = "REGEDIT4\n";
             while (out.size() < n)
                 out += deepPath + "\\" + QByteArray::number(++counter) + "]\n";
             return out;
         }},
        {"values under a deep key",
         [&](qsizetype n) {
             QByteArray out = "REGEDIT4\n" + deepPath + "\\v]\n";
             while (out.size() < n)
                 out += "\"v" + QByteArray::number(++counter) + "\"=dword:1\n";
             return out;
         }},
        {"one key too deep (refused)",
         [](qsizetype n) {
             return "REGEDIT4\n[HKEY_CURRENT_USER" + QByteArray("\\k").repeated(n / 2) + "]\n";
         }},
    };
    std::printf("REGEDIT4 import (fastest of 3 runs, each into a new store):\n");
    double baseline = 0;
    for (const Shape &shape : shapes) {
        const double half = importMs(shape.make(MiB / 2));
        const double whole = importMs(shape.make(MiB));
        if (baseline == 0)
            baseline = whole;
        std::printf("  %-28s %8.1f ms per MiB  %6.1fx the baseline  512 KiB %7.1f ms, 2x input takes %.2fx "
                    "the time\n",
                    shape.name, whole, whole / baseline, half, whole / half);
    }
}

} // namespace

int main()
{
    benchDecoder();
    benchImport();
    return 0;
}
