#include "ui/alert.h"

#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

#include "ui/window_hints.h"

namespace {

int message_box(const QString& text, const QStringList& buttons, int escape,
                const QString& details) {
    QMessageBox box(QMessageBox::Critical, "title", text);
    // A stop alert is moved or answered, never minimised or maximised.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    box.winId();
    hold_window_hints(&box);
    if (!details.isEmpty()) box.setDetailedText(details);
    std::vector<QPushButton*> made;
    for (const QString& b : buttons)
        made.push_back(box.addButton(shown_as_is(b), QMessageBox::AcceptRole));
    if (escape >= 0 && escape < int(made.size())) box.setEscapeButton(made[escape]);
    if (!made.empty()) box.setDefaultButton(made.back());
    box.exec();
    for (std::size_t i = 0; i < made.size(); ++i)
        if (box.clickedButton() == made[i]) return int(i);
    return escape;
}

// How the next pop-up menu shows its items (run_popup).
int g_checked = -1;
bool g_disabled = false;

int popup_menu(const QStringList& items, QPoint where) {
    QMenu menu("mimi");
    std::vector<QAction*> actions;
    for (const QString& item : items) {
        QAction* a = menu.addAction(shown_as_is(item));
        a->setCheckable(g_checked >= 0);
        a->setChecked(int(actions.size()) == g_checked);
        a->setEnabled(!g_disabled);
        actions.push_back(a);
    }
    QAction* chosen = menu.exec(where);
    for (std::size_t i = 0; i < actions.size(); ++i)
        if (actions[i] == chosen) return int(i);
    return -1;
}

}  // namespace

QString shown_as_is(const QString& text) {
    QString out = text;
    return out.replace('&', "&&");
}

namespace {

AlertFunction& alert_function() {
    static AlertFunction f = message_box;
    return f;
}

PopupFunction& popup_function() {
    static PopupFunction f = popup_menu;
    return f;
}

}  // namespace

int show_alert(const QString& text, const QStringList& buttons, int escape,
               const QString& details) {
    return alert_function()(text, buttons, escape, details);
}

int run_popup(const QStringList& items, QPoint where, int checked, bool disabled) {
    g_checked = checked;
    g_disabled = disabled;
    const int k = popup_function()(items, where);
    g_checked = -1;
    g_disabled = false;
    return disabled ? -1 : k;
}

AlertFunction set_alert_function(AlertFunction f) {
    AlertFunction old = alert_function();
    alert_function() = f ? std::move(f) : AlertFunction(message_box);
    return old;
}

PopupFunction set_popup_function(PopupFunction f) {
    PopupFunction old = popup_function();
    popup_function() = f ? std::move(f) : PopupFunction(popup_menu);
    return old;
}
