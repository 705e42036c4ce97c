#include "ui/windows/about_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <cmath>

#include "ui/graphics.h"
#include "ui/window_hints.h"

const char* const ABWindow::kCredits[19] = {
    "Plexora, by the Plexora developers",
    "A virtual MIDI sampler for the Linux desktop",
    "Version 1.1",
    "",
    "Thanks to :",
    "",
    "The Qt project, for the windows",
    "RtAudio and RtMidi, for sound and MIDI",
    "libsndfile, for reading audio files",
    "The JACK and ALSA developers",
    "Every musician who played it live",
    "",
    "",
    "Contact :",
    "The Plexora developers",
    "By post: write first by e-mail",
    "",
    "plexora.example.org",
    "plexora@example.org",
};

namespace {

constexpr int kWidth = 332, kHeight = 234;

class AboutPicture : public QWidget {
  public:
    explicit AboutPicture(QWidget* parent) : QWidget(parent) { setGeometry(0, 0, kWidth, kHeight); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QImage& img = picture(kPlexora);
        if (!img.isNull()) {
            p.drawImage(0, 0, img);
            return;
        }
        QLinearGradient g(0, 0, 0, kHeight);
        g.setColorAt(0, QColor(90, 50, 25));
        g.setColorAt(1, QColor(30, 15, 8));
        p.fillRect(rect(), g);
        QFont f = font();
        f.setPixelSize(40);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(255, 210, 120));
        p.drawText(rect(), Qt::AlignCenter, "Plexora");
    }
};

}  // namespace

ABBBox::ABBBox(ABWindow* owner, QRect frame) : QWidget(owner), owner_(owner) {
    setGeometry(frame);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    lines_ = new QWidget(this);
    lines_->setGeometry(0, 0, kWidth, 16 * 18 + 60);
    for (int i = 0; i < 19; ++i) {
        auto* pret = new QLabel(ABWindow::kCredits[i], lines_);
        pret->setObjectName("pret");
        pret->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        QFont f = pret->font();
        f.setPixelSize(i == 4 ? 12 : i == 17 ? 16 : 10);
        pret->setFont(f);
        pret->setStyleSheet(i <= 4 ? "color: rgb(255, 0, 0);" : "color: rgb(120, 200, 120);");
        pret->setGeometry(0, i <= 3 ? 16 * i : 16 * i + 20, kWidth, 19);
    }
}

bool ABBBox::Pulse() {
    if (countdown_ == 100 && !grown_) {
        owner_->grow();
        grown_ = true;
    }
    if (countdown_ != 0) {
        if (countdown_ != INT_MAX) --countdown_;
        return countdown_ != INT_MAX;
    }
    if (scroll_ != 0)
        --scroll_;
    else
        countdown_ = INT_MAX;  // the credits stand still from now on
    scrolled_ += 0.5;
    lines_->move(0, -int(std::floor(scrolled_)));
    return countdown_ != INT_MAX;
}

ABWindow::ABWindow(bool splash)
    : MyBWindow(nullptr, splash ? Qt::SplashScreen | Qt::FramelessWindowHint
                                : Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                      Qt::CustomizeWindowHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("About...");
    setFixedSize(kWidth, kHeight);
    new AboutPicture(this);
    box_ = new ABBBox(this, QRect(0, kHeight, kWidth, 100));
    if (splash) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        move((screen.width() - kWidth) / 2, (screen.height() - kHeight) / 2);
    } else {
        move(10, 10);
    }
    connect(&pulse_, &QTimer::timeout, this, [this] {
        if (!box_->Pulse()) pulse_.stop();
    });
    pulse_.start(50);
}

void ABWindow::hideEvent(QHideEvent* e) {
    // Nothing scrolls out of sight.
    pulse_.stop();
    MyBWindow::hideEvent(e);
}

void ABWindow::grow() {
    setFixedSize(kWidth, kHeight + 100);
}

void ABWindow::MessageReceived(const Message& m) {
    if (m.what == fourcc("_QRQ")) close();
}

ABWindow* appel_about() {
    auto* w = new ABWindow(false);
    w->show();
    return w;
}

ABWindow* open_splash() {
    auto* w = new ABWindow(true);
    if (!paint_before_showing(w)) {
        delete w;
        return nullptr;
    }
    w->show();
    return w;
}
