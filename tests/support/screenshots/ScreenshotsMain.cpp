// mailvane-screenshots: grabs the real windows, filled from a throwaway store, into the manual's
// image folder. scripts/screenshots.sh runs it under Xvfb.
#include "Screens.h"

#include <QApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: mailvane-screenshots FOLDER\n");
        return 2;
    }
    QDir dir(args.at(1));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qUtf8Printable(dir.path()));
        return 1;
    }
    bool ok = grabMainWindowScreens(dir);
    ok = grabDialogScreens(dir) && ok;
    return ok ? 0 : 1;
}
