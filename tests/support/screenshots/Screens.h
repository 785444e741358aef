#pragma once

#include <QDir>

// Each grabs the windows of its part of the program into png files in dir and returns false
// (with a line on stderr) when a grab failed.
bool grabMainWindowScreens(const QDir &dir);
bool grabDialogScreens(const QDir &dir);
