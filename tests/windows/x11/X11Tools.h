#pragma once

// Asking the X server about windows through the command-line tools (xdotool,
// xprop), as a person at the machine would.

#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <QWindow>

namespace x11test {

// Output of a tool run to its end.
inline QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

inline QString xdotool(const QStringList& arguments)
{
    return run(QStringLiteral("xdotool"), arguments);
}

// The window that holds the keyboard focus.
inline quint64 focusedWindow()
{
    return xdotool({QStringLiteral("getwindowfocus")}).toULongLong();
}

inline void movePointer(const QPoint& p)
{
    xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
}

inline void click(const QPoint& p)
{
    xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()), QStringLiteral("click"),
             QStringLiteral("1")});
}

// Where the X server has the window, and on which X screen.
struct Placement {
    QRect frame;
    int screen = -1;
};

inline Placement placement(const QWidget& window)
{
    const QString text = xdotool({QStringLiteral("getwindowgeometry"), QString::number(window.winId())});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Position: (-?\\d+),(-?\\d+) \\(screen: (\\d+)\\)\\s+Geometry: (\\d+)x(\\d+)"))
            .match(text);
    if (!m.hasMatch())
        return {};
    return {QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(4).toInt(), m.captured(5).toInt()),
            m.captured(3).toInt()};
}

// The window's _NET_WM_STATE atoms and its _NET_WM_DESKTOP, as xprop prints them.
inline QStringList windowStates(const QWidget& window)
{
    const QString text =
        run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()), QStringLiteral("_NET_WM_STATE")});
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0)
        return {};
    QStringList states;
    for (const QString& s : text.mid(eq + 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        states << s.trimmed();
    return states;
}

inline QString windowDesktop(const QWidget& window)
{
    const QString text =
        run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()), QStringLiteral("_NET_WM_DESKTOP")});
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : text.mid(eq + 1).trimmed();
}

// True when the running window manager keeps `atom` (it lists it in _NET_SUPPORTED).
inline bool windowManagerSupports(const QString& atom)
{
    const QString text = run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTED")});
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    return eq >= 0 && text.mid(eq + 1).split(QLatin1Char(',')).contains(QLatin1Char(' ') + atom);
}

// On every desktop, off the taskbar and pager. A window manager that has no
// sticky state (openbox) shows stickiness as the all-desktops number alone.
inline bool hasPanelStates(const QWidget& window)
{
    const QStringList states = windowStates(window);
    const QString sticky = QStringLiteral("_NET_WM_STATE_STICKY");
    return (states.contains(sticky) || !windowManagerSupports(sticky))
        && states.contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR"))
        && states.contains(QStringLiteral("_NET_WM_STATE_SKIP_PAGER"))
        && windowDesktop(window) == QStringLiteral("4294967295");
}

// True when the X server shows the window (mapped and exposed to Qt).
inline bool isMapped(const QWidget& window)
{
    return window.isVisible() && window.windowHandle() && window.windowHandle()->isExposed();
}

} // namespace x11test
