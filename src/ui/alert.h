// Modal alerts and pop-up menus. Both go through one function each that
// tests replace, so that no test ever waits on a dialog or a menu.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <functional>

// Shows a stop alert titled "title" with `buttons` (left to right) and
// returns the index of the one chosen; Escape answers `escape`. `details`,
// when not empty, is shown on request below the text.
using AlertFunction = std::function<int(const QString& text, const QStringList& buttons, int escape,
                                        const QString& details)>;
// Runs a pop-up menu of `items` at the screen point `where`; returns the
// index chosen, or -1 when the menu was dismissed.
using PopupFunction = std::function<int(const QStringList& items, QPoint where)>;

// Any thread. `text` as a menu item or button label shows it: every "&"
// doubled, so that it is not taken for a shortcut marker.
QString shown_as_is(const QString& text);

// GUI thread.
int show_alert(const QString& text, const QStringList& buttons, int escape = 0,
               const QString& details = {});
// `checked`: the item shown ticked (the current choice), -1 for none; a
// `disabled` menu only says what its one item says.
int run_popup(const QStringList& items, QPoint where, int checked = -1, bool disabled = false);
// GUI thread. Replace the functions; an empty function restores the dialogs.
// Each returns the function it replaced.
AlertFunction set_alert_function(AlertFunction f);
PopupFunction set_popup_function(PopupFunction f);
