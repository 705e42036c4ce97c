#include "ui/window_hints.h"

#include <QApplication>
#include <QBackingStore>
#include <QGuiApplication>
#include <QImage>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include "platform/x11_window_type.h"
#include "ui/main/main_window.h"
#include "ui/main/sound_tree.h"
#include "ui/registry.h"

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

namespace {

constexpr int kGap = 8;    // between the main window and one beside it
constexpr int kStep = 24;  // from one window to the next of a cascade

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora");
}

QString place_key(const char* kind) {
    return QString("windows/%1").arg(kind);
}

// The screen that shows `p`, or null.
QScreen* screen_showing(QPoint p) {
    for (QScreen* s : QGuiApplication::screens())
        if (s->geometry().contains(p)) return s;
    return nullptr;
}

}  // namespace

QPoint free_place(QSize size, QRect main, QRect needed, QRect screen) {
    const QPoint tries[] = {{main.right() + 1 + kGap, main.top()},
                            {main.left() - kGap - size.width(), main.top()},
                            {main.left(), main.bottom() + 1 + kGap}};
    for (QPoint p : tries)
        if (screen.contains(QRect(p, size))) return p;
    const int x = std::clamp(main.left() + kGap, screen.left(),
                             std::max(screen.left(), screen.right() + 1 - size.width()));
    const int y = std::clamp(needed.bottom() + 1 + kGap, screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return {x, y};
}

void place_window(QWidget* w, const char* kind) {
    if (!w || !kind) return;
    // The frame the window manager will add, guessed from the main window's.
    QSize size = w->size();
    if (awin && awin->isVisible()) size += awin->frameGeometry().size() - awin->geometry().size();
    const QVariant saved = settings().value(place_key(kind));
    QPoint p;
    // The title bar of a remembered place must be on a screen present now.
    if (saved.canConvert<QPoint>() &&
        screen_showing(saved.toPoint() + QPoint(std::min(size.width() / 2, 40), 10))) {
        p = saved.toPoint();
    } else if (awin && awin->isVisible()) {
        const QRect main = awin->frameGeometry();
        QRect needed = awin->menu_bar()->geometry();
        if (QWidget* panel = awin->tree()->parentWidget()) needed |= panel->geometry();
        needed.translate(awin->mapToGlobal(QPoint(0, 0)));
        QScreen* s = awin->screen() ? awin->screen() : QGuiApplication::primaryScreen();
        p = free_place(size, main, needed, s ? s->availableGeometry() : main);
    } else {
        p = w->pos();
    }
    const QRect area = screen_showing(p) ? screen_showing(p)->availableGeometry() : QRect();
    for (int i = 0; i < 20; ++i) {
        const auto taken = [&](QPoint at) {
            for (QWidget* other : QApplication::topLevelWidgets())
                if (other != w && other->isVisible() && other->pos() == at) return true;
            return false;
        };
        const QPoint next = p + QPoint(kStep, kStep);
        if (!taken(p) || (area.isValid() && !area.contains(QRect(next, size)))) break;
        p = next;
    }
    w->move(p);
}

void remember_place(QWidget* w, const char* kind) {
    if (w && kind) settings().setValue(place_key(kind), w->pos());
}
