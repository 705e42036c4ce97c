#include "ui/windows/inst_window.h"

#include <QSignalBlocker>

#include "core/convert.h"
#include "core/instruments.h"
#include "core/keymap.h"
#include "core/sound.h"
#include "ui/controls/my_button.h"
#include "ui/main/keyboard.h"
#include "ui/windows/param_keyboard.h"
#include "ui/windows/param_registry.h"

namespace {

QString slot_label(int s) {
    char text[32];
    const_str(s, text);
    return QString::fromUtf8(text);
}

}  // namespace

InstWindow::InstWindow(QRect frame, int inst, const QString& title)
    : SamWindow(frame, inst_first(inst), title), inst_(inst) {
    set_place_kind("instrument");
    list_ = new QListWidget(this);
    list_->setGeometry(400, 10, 221, 149);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(list_, &QListWidget::currentRowChanged, this, [this] { PostMessage(fourcc("siit")); });
    auto_map_ = new MyBButton(36, QRect(260, 10, 81, 18), "Auto Map", fourcc("amap"), this, this);
    auto_map_->SetValue(autom);
    map_ = new MyBButton(36, QRect(260, 40, 81, 18), "Map", fourcc("mmap"), this, this);
    build_list();
}

void InstWindow::build_list() {
    first_ = inst_first(inst_);
    count_ = inst_count(inst_);
    {
        const QSignalBlocker quiet(list_);
        list_->clear();
        // One row per slot, an empty one included, so that row r is always slot first + r.
        for (int j = 0; j < count_; ++j) list_->addItem(slot_label(first_ + j));
        if (row_ >= count_) row_ = 0;
        if (count_ > 0) list_->setCurrentRow(row_);
    }
    if (sound_ != first_ + row_ || ref_.empty()) show_slot(first_ + row_);
    SamWindow::rafraichi();
}

void InstWindow::choose(int row) {
    if (row < 0 || row >= count_) return;
    row_ = row;
    show_slot(first_ + row_);
    rafraichi();
}

bool InstWindow::sync() {
    if (!still_there()) return false;
    if (!record()) return true;  // an empty slot: the instrument's arithmetic holds
    const int k = quel_baseson(sound_);
    if (k < 0) return true;
    inst_ = k;
    const int row = sound_ - inst_first(k);
    if (inst_first(k) != first_ || inst_count(k) != count_ || row != row_) {
        row_ = row;
        build_list();
    }
    return true;
}

bool InstWindow::follow(int, int, int inst_at, int inst_by) {
    if (!ref_.empty() && record()) {
        // The chosen sound is still there, perhaps in another slot: its
        // instrument is the window's. The list follows on the next refresh.
        const int k = quel_baseson(sound_);
        if (k >= 0) {
            inst_ = k;
            first_ = inst_first(k);
            row_ = sound_ - first_;
            return true;
        }
    }
    // The chosen sound was deleted: the instrument stays shown, with another
    // of its sounds chosen, unless it was deleted too.
    if (inst_by < 0 && inst_ >= inst_at && inst_ < inst_at - inst_by) return false;
    if (inst_ >= inst_at) inst_ += inst_by;
    // The slots are counted again on the refresh that follows.
    first_ = inst_first(inst_);
    row_ = std::min(row_, std::max(0, inst_count(inst_) - 1));
    show_slot(first_ + row_);
    return true;
}

void InstWindow::MessageReceived(const Message& m) {
    if (!sync()) return;
    switch (m.what) {
        case fourcc("siit"):
            choose(list_->currentRow());
            break;
        case fourcc("mmap"):
            even_split(first_, count_);
            map_->SetValue(0);
            rafr_all();
            rafraichi();
            break;
        case fourcc("amap"):
            autom = !autom;
            auto_map_->SetValue(autom);
            for (const auto& w : samwin)
                if (w && w != this) post_message(w, fourcc("amaa"));
            break;
        case fourcc("amaa"):
            auto_map_->SetValue(autom);
            break;
        case fourcc("rafr"):
            refresh_with_auto_map();
            break;
        default:
            SamWindow::MessageReceived(m);
            break;
    }
}

void InstWindow::refresh_with_auto_map() {
    if (!sync()) return;
    if (inst_count(inst_) != count_ || inst_first(inst_) != first_) build_list();
    if (autom && count_ > 1 && record()) auto_map(first_, count_, sound_);
    for (int j = 0; j < count_ && j < list_->count(); ++j) {
        const QString label = slot_label(first_ + j);
        if (list_->item(j)->text() != label) list_->item(j)->setText(label);
    }
    rafraichi();
}

void InstWindow::rafraichi() {
    SamWindow::rafraichi();
    map_->setEnabled(domap(first_, count_));
}

void InstWindow::mydraw(QImage& canvas) {
    KeyPaint paint[kKeys];
    inst_key_paint(first_, count_, sound_, paint);
    for (int k = 0; k < 120; ++k) {
        if (paint[k] == KeyPaint::kPlain) continue;
        affonenote(std::uint16_t(k), kHighWhite, kHighBlack, canvas,
                   paint[k] == KeyPaint::kChosen ? 0 : 1);
    }
}
