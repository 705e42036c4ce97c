// The sound tree's side of the main window: selection, names, adding and
// deleting sample slots and instruments. The table changes themselves are
// the instrument structure's; this keeps the rows in step with them.
#include <QSignalBlocker>
#include <cstring>

#include "core/convert.h"
#include "core/instruments.h"
#include "core/sound.h"
#include "ui/alert.h"
#include "ui/editor/ed_window.h"
#include "ui/main/main_window.h"
#include "ui/main/sound_tree.h"
#include "ui/registry.h"
#include "ui/windows/param_registry.h"

namespace {

QString sound_label(int s) {
    char text[32];
    const_str(s, text);
    return QString::fromUtf8(text);
}

QString inst_label(int k) {
    const char* name = inst_name(k);
    if (name && *name) return QString::fromUtf8(name);
    return QString("None inst (%1)").arg(k, 3, 10, QChar('0'));
}

}  // namespace

QTreeWidgetItem* MyWindow::row_of_sound(int s) const {
    if (s < 0 || s >= nb_sound) return nullptr;
    const int k = t_invert[s];
    QTreeWidgetItem* top = tree_->topLevelItem(k);
    return top ? top->child(s - inst_first(k)) : nullptr;
}

void MyWindow::select_sound(int s) {
    QTreeWidgetItem* item = row_of_sound(s);
    if (!item) return;
    if (item->parent()) item->parent()->setExpanded(true);
    tree_->setCurrentItem(item);
    current_row_ = tree_->full_row(item);
}

void MyWindow::selection_changed() {
    if (loadin) return;
    QTreeWidgetItem* item = tree_->selected();
    if (!item) return;
    current_row_ = tree_->full_row(item);
    no_s = listtoson(current_row_);
    Finst = item->parent() == nullptr;
    name_->setText(item->text(0));
    myupdate();
    aff_ADSR();
    if (valwin) post_message(valwin, fourcc("Graf"));
    // The name field gives up typing; the tree keeps the arrow keys.
    if (name_->hasFocus()) tree_->setFocus();
}

void MyWindow::name_committed() {
    QTreeWidgetItem* item = tree_->selected();
    if (!item) return;
    const QString text = name_->text();
    item->setText(0, text);
    if (item->parent()) {
        if (p_s* s = t_sound[no_s & (kMaxSounds - 1)]) {
            // Only windows read names, and only on this thread.
            std::strncpy(s->name, text.toUtf8().constData(), sizeof s->name - 1);
            s->name[sizeof s->name - 1] = 0;
            PostMessage(fourcc("RauQ"));
        }
    } else {
        set_inst_name(tree_->indexOfTopLevelItem(item), text.toUtf8().constData());
    }
    tree_->setFocus();
}

void MyWindow::add_multi() {
    if (!tree_->selected()) {
        do_invert();
        return;
    }
    const int s = ::add_multi();
    if (s < 0) return;  // the sound table is full
    QTreeWidgetItem* inst = tree_->topLevelItem(t_invert[s]);
    if (!inst) return rebuild_tree();
    new QTreeWidgetItem(inst, QStringList("None sample"));
    param_windows_follow(s, 1, nb_inst, 0);
    select_sound(s);
}

void MyWindow::add_inst() {
    const QString label = QString("None inst (%1)").arg(creation, 3, 10, QChar('0'));
    const int k = ::add_inst(label.toUtf8().constData());
    if (k < 0) return;  // a table is full
    ++creation;
    auto* inst = new QTreeWidgetItem(tree_, QStringList(label));
    new QTreeWidgetItem(inst, QStringList("None sample"));
    inst->setExpanded(true);
    tree_->setCurrentItem(inst);
    current_row_ = tree_->full_row(inst);
}

void MyWindow::del_sound() {
    QTreeWidgetItem* item = tree_->selected();
    if (!item) return;
    const int s = no_s;
    const int k = quel_baseson(s);
    if (k < 0) return;
    // Deleting the only sample of an instrument deletes the instrument.
    const bool whole = !item->parent() || inst_count(k) == 1;
    if (whole && show_alert("Delete instrument and his samples ?", {"No", "Yes"}, 0) != 1) return;
    const int first = whole ? inst_first(k) : s;
    const int count = whole ? inst_count(k) : 1;

    {
        const QSignalBlocker quiet(tree_);
        if (::del_sound(s, whole) == 0) return;
        if (whole)
            delete tree_->takeTopLevelItem(k);
        else if (QTreeWidgetItem* top = tree_->topLevelItem(k))
            delete top->takeChild(s - inst_first(k));  // the deleted sound's own row
        tree_->clearSelection();
    }
    param_windows_follow(first, -count, whole ? k : kMaxInsts, whole ? -1 : 0);
    if (nb_sound > 0) {
        select_sound(nb_sound - 1);
    } else {
        current_row_ = -1;
        name_->clear();
        myupdate();
    }
}

void MyWindow::sound_changed(int s) {
    // An empty slot keeps its row's label (a load that failed changes nothing).
    const p_s* rec = (s >= 0 && s < kMaxSounds) ? t_sound[s].load() : nullptr;
    QTreeWidgetItem* item = rec && rec->data ? row_of_sound(s) : nullptr;
    if (item) {
        item->setText(0, sound_label(s));
        if (item == tree_->selected()) name_->setText(item->text(0));
    }
    if (s == no_s) {
        myupdate();
        aff_ADSR();
    }
    editor_minit(s);
}

void MyWindow::actu_list() {
    for (int s = 0; s < nb_sound; ++s)
        if (QTreeWidgetItem* item = row_of_sound(s)) item->setText(0, sound_label(s));
    tree_->viewport()->update();
}

void MyWindow::rebuild_tree() {
    // Rows are made away from the tree and handed over in one insertion: a
    // bank of thousands of sounds then costs one layout, not one per row.
    QList<QTreeWidgetItem*> insts;
    insts.reserve(nb_inst);
    for (int k = 0; k < nb_inst; ++k) {
        auto* inst = new QTreeWidgetItem(QStringList(inst_label(k)));
        const int first = inst_first(k), n = inst_count(k);
        QList<QTreeWidgetItem*> sounds;
        sounds.reserve(n);
        for (int s = first; s < first + n; ++s)
            sounds << new QTreeWidgetItem(QStringList(sound_label(s)));
        inst->addChildren(sounds);
        insts << inst;
    }
    {
        const QSignalBlocker quiet(tree_);
        tree_->setUpdatesEnabled(false);
        tree_->clear();
        tree_->insertTopLevelItems(0, insts);
        tree_->expandAll();
        tree_->setUpdatesEnabled(true);
    }
    select_sound(no_s);
    myupdate();
    aff_ADSR();
}
