#include "ui/windows/help_bubble.h"

#include <QLabel>
#include <QTimer>

#include "ui/registry.h"

namespace {
// How long the bubble waits between two looks at the clock.
constexpr int kTailMs = 100;
}  // namespace

HELPWindow::HELPWindow(QRect frame, const QString& text)
    : MyBWindow(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setGeometry(frame);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    auto* helper = new QLabel(text, this);
    helper->setObjectName("helper");
    helper->setGeometry(1, 1, frame.width() - 2, frame.height() - 2);
    helper->setStyleSheet("background: rgb(255, 255, 150); color: black; padding-left: 2px;");
    QFont f = helper->font();
    f.setPixelSize(10);
    helper->setFont(f);
    helper->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    helpwin = this;
    shown_.start();
    show();
    PostMessage(fourcc("tail"));
}

void HELPWindow::MessageReceived(const Message& m) {
    switch (m.what) {
        case fourcc("tail"):
            if (shown_.elapsed() < kLifeMs)
                QTimer::singleShot(kTailMs, this, [this] { PostMessage(fourcc("tail")); });
            else
                PostMessage(fourcc("dodo"));
            break;
        case fourcc("dodo"):
            if (helpwin == this) helpwin = nullptr;
            close();
            break;
        default:
            break;
    }
}
