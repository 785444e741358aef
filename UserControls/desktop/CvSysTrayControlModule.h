#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <array>
#include <memory>

namespace wrenkit
{

// The notification record handed to the shell for one icon; it holds the fields of the single-byte
// NOTIFYICONDATA record of the Windows shell: the controls fill every field before each call.
struct TrayIconData {
    static constexpr int TipLength = 64;

    quint32 cbSize = 0;
    quintptr hWnd = 0;  // identity of the owning control
    quint32 uID = 0;    // icon number within that control
    quint32 uFlags = 0; // which of the fields below are valid
    quint32 uCallbackMessage = 0;
    QIcon hIcon;
    std::array<char, TipLength> szTip{}; // Latin-1, NUL-terminated when it fits
};

// Values of the record and of the shell calls.
namespace TrayShell
{
constexpr quint32 RecordSize = 88;
constexpr quint32 FlagMessage = 1;
constexpr quint32 FlagIcon = 2;
constexpr quint32 FlagTip = 4;
constexpr quint32 MouseMoveMessage = 512;

enum Message { Add = 0, Modify = 1, Delete = 2 };

// Mouse event codes that the shell reports for an icon.
enum Code {
    LeftDown = 513,
    LeftUp = 514,
    LeftDoubleClick = 515,
    RightDown = 516,
    RightUp = 517,
    RightDoubleClick = 518,
};
} // namespace TrayShell

// The text a shell shows for the record's tip: the bytes before the first NUL, at most 63 of them.
QString trayTipText(const TrayIconData &data);

// The notification area of the desktop: adds and deletes icons described by a record and reports
// mouse activity on them as event codes.
class ShellNotifyIcon : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Carries out one request; like the Windows call, its outcome is not reported.
    virtual void notify(TrayShell::Message message, const TrayIconData &data) = 0;

signals:
    // A mouse event on an icon added by this object, as one of the codes in TrayShell::Code.
    void mouseEvent(int code);
};

// The notification area of the running desktop when a QApplication exists, else one that does nothing.
std::unique_ptr<ShellNotifyIcon> createShellNotifyIcon();

} // namespace wrenkit
