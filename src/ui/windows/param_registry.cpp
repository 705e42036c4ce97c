#include "ui/windows/param_registry.h"

#include "core/instruments.h"
#include "core/sound.h"
#include "ui/registry.h"
#include "ui/windows/inst_window.h"
#include "ui/windows/sam_window.h"

bool autom = false;

namespace {

// Where the parameter windows open, in screen coordinates.
const QRect kFrame(10, 80, 651, 259);

}  // namespace

void appel_sam(bool instrument) {
    if (nb_sam() >= kMaxParamWindows) return;
    const int s = no_s;
    if (s < 0 || s >= nb_sound) return;
    // Instrument windows are told apart by their instrument, sample windows by their sound.
    const int key = instrument ? quel_baseson(s) : s;
    if (key < 0) return;
    for (const auto& w : samwin) {
        if (!w || w->is_instrument() != instrument || w->key() != key) continue;
        static_cast<SamWindow*>(w.data())->rafraichi();
        w->raise();
        w->activateWindow();
        return;
    }
    SamWindow* w = instrument ? new InstWindow(kFrame, key, "Instrument parameter")
                              : new SamWindow(kFrame, s, "Sample parameter");
    samwin.emplace_back(w);
    w->show();
    w->rafraichi();
}

void rafr_all() {
    for (const auto& w : samwin)
        if (w) post_message(w, fourcc("rafr"));
}

void param_windows_follow(int at, int by, int inst_at, int inst_by) {
    std::erase_if(samwin, [&](const QPointer<ParamWindow>& w) {
        if (!w) return true;
        if (w->follow(at, by, inst_at, inst_by)) return false;
        w->close();  // deleted once the event loop runs
        return true;
    });
    rafr_all();
}
