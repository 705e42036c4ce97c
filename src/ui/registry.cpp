#include "ui/registry.h"

MyWindow* awin = nullptr;
std::vector<QPointer<ParamWindow>> samwin;
QPointer<MyBWindow> chwin, edwin, valwin, oscwin;
QPointer<QWidget> helpwin;
std::uint16_t no_courbe = 0;
std::uint16_t old_sel = kNone;
std::uint16_t creation = 1;

int nb_sam() {
    std::erase_if(samwin, [](const QPointer<ParamWindow>& w) { return w.isNull(); });
    return int(samwin.size());
}
