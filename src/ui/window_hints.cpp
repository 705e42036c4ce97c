#include "ui/window_hints.h"

#include <QGuiApplication>
#include <QWidget>

#include "platform/x11_window_type.h"

void hold_window_hints(QWidget* w) {
    if (!w || QGuiApplication::platformName() != "xcb") return;
    const Qt::WindowFlags f = w->windowFlags();
    const Qt::WindowType type = w->windowType();
    if (type != Qt::Window && type != Qt::Dialog) return;
    if (!(f & Qt::CustomizeWindowHint) || !(f & Qt::WindowTitleHint)) return;
    if (f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)) return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) return;
    x11_forbid_minimise(
        x11->connection(), static_cast<std::uint32_t>(w->winId()),
        type == Qt::Dialog ? "_NET_WM_WINDOW_TYPE_DIALOG" : "_NET_WM_WINDOW_TYPE_NORMAL");
}
