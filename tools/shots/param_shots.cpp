#include "param_shots.h"

#include <cstring>

#include "core/instruments.h"
#include "core/keymap.h"
#include "core/sound.h"
#include "ui/registry.h"
#include "ui/windows/inst_window.h"
#include "ui/windows/val_window.h"

namespace {

// Instrument 0 with a low, a middle and a high sound, mapped evenly, the
// middle one's range then narrowed and its neighbours moved to meet it.
void three_sounds() {
    const char* names[3] = {"Bass C1", "Piano C3", "Bell C6"};
    const int bases[3] = {36, 60, 96};
    add_sounds(0, 2);
    for (int i = 0; i < 3; ++i) {
        p_s* s = t_sound[i];
        std::strcpy(s->name, names[i]);
        s->base = std::int16_t(bases[i]);
        s->rate = 44100;
    }
    even_split(0, 3);
    t_sound[1]->key_lo = 36;
    t_sound[1]->key_hi = 71;
    auto_map(0, 3, 1);
    t_sound[1]->pan = 80;
    t_sound[1]->vel_lo = 20;
}

}  // namespace

bool show_param_window(const char* what) {
    const bool sample = !std::strcmp(what, "sample");
    const bool instrument = !std::strcmp(what, "instrument");
    if (!sample && !instrument && std::strcmp(what, "noteoff")) return false;
    three_sounds();
    no_s = 1;
    if (!std::strcmp(what, "noteoff")) {
        t_sound[1]->rel_time = 22050;
        auto* v = new ValWindow();
        v->move(10, 40);
        v->show();
        return true;
    }
    SamWindow* w = instrument ? new InstWindow(QRect(10, 40, 651, 259), 0, "Instrument parameter")
                              : new SamWindow(QRect(10, 40, 651, 259), 1, "Sample parameter");
    samwin.emplace_back(w);
    if (auto* map = dynamic_cast<InstWindow*>(w)) map->list()->setCurrentRow(1);
    w->show();
    w->rafraichi();
    return true;
}
