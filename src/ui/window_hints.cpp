#include "ui/window_hints.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
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

bool paint_before_showing(QWidget* w) {
    if (!w) return false;
    const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    w->winId();  // the native window and its buffer, not mapped yet
    if (QBackingStore* store = w->backingStore()) {
        const QRect all(QPoint(0, 0), w->size());
        store->resize(w->size());
        store->beginPaint(all);
        if (QPaintDevice* device = store->paintDevice()) {
            QPainter p(device);
            p.drawImage(all, img);
        }
        store->endPaint();
        store->flush(all);
    }
    if (QGuiApplication::platformName() != "xcb") return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 && x11_paint_background(x11->connection(), static_cast<std::uint32_t>(w->winId()),
                                       reinterpret_cast<const std::uint32_t*>(img.constBits()),
                                       img.width(), img.height(), int(img.bytesPerLine() / 4));
}
