// The sample parameter, instrument map and note-off time windows driven as a
// user would: typing into fields, clicking keyboards and buttons, choosing
// rows, deleting sounds under open windows; where they open.

#include <QMenuBar>
#include <QSettings>

#include "support/uikit.h"
#include "ui/main/keyboard.h"
#include "ui/window_hints.h"
#include "ui/windows/inst_window.h"
#include "ui/windows/param_keyboard.h"
#include "ui/windows/param_registry.h"
#include "ui/windows/val_window.h"

using uikit::pump;

namespace {

// A point on the lower half of `key` on a keyboard.
QPoint key_point(int key) {
    static const int offset[12] = {2, 8, 11, 17, 22, 29, 35, 38, 44, 47, 53, 58};
    const int pc = key % 12;
    const bool black = pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
    return {10 + 63 * (key / 12) + offset[key % 12] + 1, black ? 20 : 50};
}

void click(ParamKeyboard* kb, int key, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = (buttons & Qt::LeftButton) ? Qt::LeftButton : Qt::RightButton;
    uikit::mouse(kb, QEvent::MouseMove, key_point(key));
    uikit::mouse(kb, QEvent::MouseButtonPress, key_point(key), false, button, buttons);
    uikit::mouse(kb, QEvent::MouseButtonRelease, key_point(key), false, button);
    pump();
}

// Types `text` into `field` and presses Enter.
void type(QLineEdit* field, const QString& text) {
    field->setText(text);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(field, &enter);
    pump();
}

std::pair<int, int> range(int s) {
    return {t_sound[s]->key_lo, t_sound[s]->key_hi};
}

class ParamWindowsTest : public uikit::MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        post("asam");
        post("asam");  // instrument 0 owns sounds 0, 1 and 2
    }
    void TearDown() override {
        autom = false;
        MainWindowTest::TearDown();
    }
    // Opens the window of sound `s` from the Sample menu, or the map window of its instrument.
    SamWindow* open_sample(int s, bool instrument = false) {
        select_sound(s);
        post(instrument ? "pain" : "pasa");
        const int key = instrument ? quel_baseson(s) : s;
        for (const auto& w : samwin)
            if (w && w->is_instrument() == instrument && w->key() == key)
                return static_cast<SamWindow*>(w.data());
        return nullptr;
    }
    InstWindow* open_inst(int s) { return static_cast<InstWindow*>(open_sample(s, true)); }
};

}  // namespace

TEST_F(ParamWindowsTest, FieldsStoreWhatIsTypedAndShowItInTheirOwnForm) {
    SamWindow* w = open_sample(1);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), "Sample parameter");
    EXPECT_EQ(w->key_label()->text(), "----");
    p_s* s = t_sound[1];
    const std::tuple<std::uint32_t, const char*, int, const char*> cases[] = {
        // field, typed, stored, shown
        {fourcc("chfr"), "c#3", 61, "C# 3"},
        {fourcc("chfr"), "B -3", 0, "C -2"},  // limited to key 0
        {fourcc("chto"), "G9", 127, "G  8"},
        {fourcc("chba"), "a#4", 82, "A# 4"},
        {fourcc("chfv"), "200", 127, "127"},
        {fourcc("chfv"), "-5", 0, "000"},
        {fourcc("chtv"), "64", 64, "064"},
        {fourcc("chpa"), "300", 300, "300"},
        {fourcc("chpa"), "1000", 1000, "000"},  // kept in 16 bits, shown in three digits
    };
    // Where each field stores its number (the pan's is unsigned).
    using Field = const rt<std::int16_t>*;
    const std::map<std::uint32_t, Field> at{{fourcc("chfr"), &s->key_lo},
                                            {fourcc("chto"), &s->key_hi},
                                            {fourcc("chba"), &s->base},
                                            {fourcc("chfv"), &s->vel_lo},
                                            {fourcc("chtv"), &s->vel_hi}};
    for (const auto& [code, typed, stored, shown] : cases) {
        type(w->field(code), typed);
        EXPECT_EQ(code == fourcc("chpa") ? int(s->pan) : int(*at.at(code)), stored) << typed;
        EXPECT_EQ(w->field(code)->text(), shown) << typed;
    }
    // From Vel above To Vel is kept (older files hold it) but said in the
    // window, and the two fields turn red, until the range can be met again.
    const auto warned = [w] {
        return std::tuple(
            w->velocity_warning()->isVisibleTo(w),
            w->field(fourcc("chfv"))->palette().color(QPalette::Text) == QColor(200, 0, 0));
    };
    EXPECT_EQ(warned(), std::tuple(false, false));
    type(w->field(fourcc("chfv")), "100");
    EXPECT_EQ(int(s->vel_lo), 100);
    EXPECT_EQ(warned(), std::tuple(true, true));
    EXPECT_TRUE(w->velocity_warning()->text().contains("never plays"));
    type(w->field(fourcc("chtv")), "100");
    EXPECT_EQ(warned(), std::tuple(false, false));
    type(w->field(fourcc("chna")), QString(40, 'n'));
    EXPECT_EQ(std::strlen(s->name), 31u);
    type(w->field(fourcc("chna")), QString(30, 'n') + "é");  // not cut inside the é
    EXPECT_EQ(std::strlen(s->name), 30u);
    type(w->field(fourcc("chna")), "Flute");
    EXPECT_STREQ(s->name, "Flute");  // nothing of the longer name is left
    EXPECT_EQ(rows()[2], "  Flute");
    EXPECT_EQ(win->name_field()->text(), "Flute");  // sound 1 is the selected row
}

TEST_F(ParamWindowsTest, KeyboardClicksSetRangeEndsOnTheirSideAndAChangeRefreshesEveryOpenWindow) {
    SamWindow* w = open_sample(0);
    auto* kb = w->keyboard();
    click(kb, 30, Qt::LeftButton);
    EXPECT_EQ(range(0), std::make_pair(30, 127));
    click(kb, 50, Qt::RightButton);
    EXPECT_EQ(range(0), std::make_pair(30, 50));
    click(kb, 60, Qt::LeftButton);   // above the high end
    click(kb, 20, Qt::RightButton);  // below the low end
    EXPECT_EQ(range(0), std::make_pair(30, 50));
    click(kb, 40, Qt::LeftButton | Qt::RightButton);  // both ends at once
    EXPECT_EQ(range(0), std::make_pair(40, 40));
    EXPECT_EQ(w->key_label()->text(), "E  1");
    EXPECT_EQ(w->field(fourcc("chfr"))->text(), "E  1");
    SamWindow* a = open_sample(1);
    SamWindow* b = open_sample(2);
    InstWindow* map = open_inst(0);
    ASSERT_TRUE(a && b && map);
    uikit::choose(map->list(), 1);
    ASSERT_EQ(map->sound(), 1);
    click(a->keyboard(), 36, Qt::LeftButton);
    EXPECT_EQ(map->field(fourcc("chfr"))->text(), "C  1");
    type(a->field(fourcc("chna")), "Cello");
    EXPECT_EQ(map->list()->item(1)->text(), "Cello");
    EXPECT_EQ(map->field(fourcc("chna"))->text(), "Cello");
    // Typing into a range field refreshes only the window typed in.
    b->field(fourcc("chfr"))->setText("stale");
    type(a->field(fourcc("chto")), "C4");
    EXPECT_EQ(b->field(fourcc("chfr"))->text(), "stale");
}

TEST_F(ParamWindowsTest, AutoMapMakesTheNeighboursMeetARangeSetByClicks) {
    InstWindow* map = open_inst(0);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->windowTitle(), "Instrument parameter");
    EXPECT_EQ(map->list()->count(), 3);
    EXPECT_TRUE(map->map_button()->isEnabled());  // all three cover 0..127
    uikit::click(map->map_button());              // the split itself is the key map's test
    EXPECT_EQ(range(2), std::make_pair(84, 125));
    EXPECT_FALSE(map->map_button()->isEnabled());

    // A second instrument's window learns of the shared switch.
    post("ains");
    InstWindow* other = open_inst(3);
    ASSERT_NE(other, nullptr);
    uikit::click(map->auto_map_button());
    EXPECT_TRUE(autom);
    EXPECT_EQ(map->auto_map_button()->Value() + other->auto_map_button()->Value(), 2);

    uikit::choose(map->list(), 1);
    click(map->keyboard(), 40, Qt::LeftButton);
    click(map->keyboard(), 60, Qt::RightButton);
    EXPECT_EQ(range(1), std::make_pair(40, 60));
    EXPECT_EQ(range(2), std::make_pair(61, 125));  // the upper neighbour meets it

    uikit::click(map->auto_map_button());
    click(map->keyboard(), 50, Qt::RightButton);  // off: the neighbours stay
    EXPECT_EQ(range(2), std::make_pair(61, 125));
}

TEST_F(ParamWindowsTest, ChoosingARowShowsThatSoundSolidAndTheOthersStippled) {
    InstWindow* map = open_inst(0);
    type(map->field(fourcc("chto")), "C 0");  // sound 0: keys 0..24
    uikit::choose(map->list(), 2);
    type(map->field(fourcc("chfr")), "C 5");  // sound 2: keys 84..127
    EXPECT_EQ(map->sound(), 2);
    t_sound[1]->key_lo = 30, t_sound[1]->key_hi = 40;
    uikit::choose(map->list(), 1);
    // Which keys are solid, stippled or plain is the key map's test; here the
    // window draws them (the sample window's keyboard draws the same way).
    const QImage img = map->keyboard()->composed();
    const auto lit = [&](int key) {
        // Pixels of the key's lower half in the highlight colour.
        int n = 0;
        const QPoint p = key_point(key);
        for (int y = 40; y < 55; ++y)
            for (int x = p.x() - 1; x < p.x() + 4; ++x)
                n += QColor(img.pixel(x, y)) == SamWindow::kHighWhite;
        return n;
    };
    EXPECT_EQ(lit(36), 75);  // chosen: solid
    EXPECT_GT(lit(12), 10);  // sound 0: stippled
    EXPECT_LT(lit(12), 60);
    EXPECT_EQ(lit(26), 0);  // nobody's
    EXPECT_EQ(map->field(fourcc("chfr"))->text(), "F# 0");
}

TEST_F(ParamWindowsTest, OneWindowEachAndDeletingSoundsClosesTheirsAndTheOthersFollow) {
    post("ains");  // instrument 1 owns sound 3
    SamWindow* gone = open_sample(1);
    SamWindow* moved = open_sample(2);
    InstWindow* later = open_inst(3);  // instrument 1: not the window of sound 1
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(open_sample(1), gone);
    EXPECT_EQ(open_inst(3), later);
    open_inst(2);
    EXPECT_EQ(nb_sam(), 4);  // one window for each sound and instrument asked for
    std::strcpy(t_sound[2]->name, "Third");
    QPointer<SamWindow> gone_p(gone), moved_p(moved);
    QPointer<InstWindow> later_p(later);

    select_sound(1);
    post("dsam");
    EXPECT_TRUE(gone_p.isNull());
    ASSERT_FALSE(moved_p.isNull());
    EXPECT_EQ(moved->key(), 1);
    EXPECT_EQ(moved->field(fourcc("chna"))->text(), "Third");
    EXPECT_EQ(later->key(), 1);
    EXPECT_EQ(later->sound(), 2);

    alert_answer = 1;  // "Yes"
    select_row(0);
    post("dins");  // instrument 0 goes with sounds 0 and 1
    EXPECT_TRUE(moved_p.isNull());
    ASSERT_FALSE(later_p.isNull());
    EXPECT_EQ(later->key(), 0);
    EXPECT_EQ(later->sound(), 0);
    EXPECT_EQ(nb_sam(), 1);
}

TEST_F(ParamWindowsTest, NoteOffTimeFollowsTheSelectionAndStoresFrames) {
    p_s *s0 = t_sound[0], *s1 = t_sound[1];
    s0->rate = 44100, s0->rel_time = 102400;
    s1->rate = 22050, s1->rel_time = 1102;
    select_sound(0);
    post("aopt");  // the envelope editor shows "Velocity": no window
    EXPECT_TRUE(valwin.isNull());
    no_courbe = kCurveVelocityOff;
    post("aopt");
    auto* v = static_cast<ValWindow*>(valwin.data());
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->time_field()->text(), "2321");
    type(v->time_field(), "3");
    EXPECT_EQ(s0->rel_time, 132u);
    EXPECT_TRUE(v->isVisible());  // Enter commits without closing
    post("aopt");
    EXPECT_EQ(valwin.data(), v);

    select_sound(1);
    EXPECT_EQ(v->time_field()->text(), "049");
    v->time_field()->setText("2000");
    uikit::click(v->ok_button());
    EXPECT_EQ(s1->rel_time, 44100u);  // the sound selected now
    EXPECT_EQ(s0->rel_time, 132u);
    EXPECT_TRUE(valwin.isNull());
    no_courbe = 0;
}

TEST_F(ParamWindowsTest,
       WindowsFollowTheirSoundWhenABankGrowsAnInstrumentBeforeItAndCloseWhenItGoes) {
    post("ains");  // instrument 1 owns sound 3
    std::strcpy(t_sound[3]->name, "Fourth");
    SamWindow* fourth = open_sample(3);
    InstWindow* map = open_inst(3);
    SamWindow* replaced = open_sample(1);
    ASSERT_TRUE(fourth && map && replaced);
    QPointer<SamWindow> replaced_p(replaced);
    const p_s* rec = t_sound[3];

    // A bank of one instrument with four sounds over instrument 0 (three sounds).
    std::vector<files::SfSample> samples;
    std::vector<std::vector<files::SfGen>> zones;
    for (int i = 0; i < 4; ++i) {
        samples.push_back(
            {"bank" + std::to_string(i), std::vector<std::int16_t>(200, 500), 10, 150});
        zones.push_back({files::key_range(i * 32, i * 32 + 31), files::sample_id(i)});
    }
    const QString bank = dir.filePath("grow.sf2");
    ASSERT_TRUE(
        files::write_bytes(bank.toStdString(), files::sf_bank(samples, {{"Grown", zones}})));
    select_sound(0);
    open_paths({bank});
    ASSERT_TRUE(alerts().empty()) << alerts()[0].text;
    ASSERT_EQ(t_sound[4].load(), rec);  // the sound moved from slot 3 to slot 4

    EXPECT_EQ(fourth->key(), 4);
    EXPECT_EQ(fourth->sound(), 4);
    EXPECT_EQ(fourth->field(fourcc("chna"))->text().toStdString(), "Fourth");
    type(fourth->field(fourcc("chba")), "C 5");
    EXPECT_EQ(t_sound[4]->base, 84);
    EXPECT_EQ(t_sound[3]->base, 60);  // the bank's sound now in slot 3 is left alone
    EXPECT_EQ(map->key(), 1);
    EXPECT_EQ(map->sound(), 4);
    EXPECT_EQ(map->field(fourcc("chna"))->text().toStdString(), "Fourth");
    // The window of a sound the bank replaced is gone.
    EXPECT_TRUE(replaced_p.isNull() || !replaced_p->isVisible())
        << "the window of a replaced sound shows "
        << replaced->field(fourcc("chna"))->text().toStdString();
    EXPECT_EQ(open_sample(4), fourth);  // asked for again, the same window comes forward
}

TEST_F(ParamWindowsTest, TheMapWindowKeepsItsChosenSoundWhenOneBeforeItIsDeleted) {
    const char* names[] = {"A", "B", "C"};
    for (int s = 0; s < 3; ++s) std::strcpy(t_sound[s]->name, names[s]);
    InstWindow* map = open_inst(0);
    ASSERT_NE(map, nullptr);
    uikit::choose(map->list(), 1);  // "B"
    ASSERT_EQ(map->field(fourcc("chna"))->text().toStdString(), "B");

    select_sound(0);
    post("dsam");  // "A" goes; "B" moves to slot 0
    EXPECT_EQ(map->sound(), 0);
    EXPECT_EQ(map->list()->currentRow(), 0);
    EXPECT_EQ(map->field(fourcc("chna"))->text().toStdString(), "B");
    type(map->field(fourcc("chto")), "C 3");
    EXPECT_EQ(t_sound[0]->key_hi, 60);   // "B"
    EXPECT_EQ(t_sound[1]->key_hi, 127);  // "C" left alone
}

TEST_F(ParamWindowsTest, NewWindowsLeaveTheMenuBarAndTreeInSightAndReopenWhereTheyWereLeft) {
    const QRect needed =
        QRect(win->menu_bar()->geometry() | win->tree()->parentWidget()->geometry())
            .translated(win->mapToGlobal(QPoint(0, 0)));
    SamWindow* sample = open_sample(1);
    SamWindow* inst = open_sample(1, true);
    for (QWidget* w : {static_cast<QWidget*>(sample), static_cast<QWidget*>(inst)})
        EXPECT_FALSE(w->frameGeometry().intersects(needed))
            << w->frameGeometry().x() << "," << w->frameGeometry().y();
    EXPECT_NE(sample->pos(), inst->pos());  // the second one steps aside
    // Moved by the user, closed, opened again: where it was left. The
    // instrument window keeps a place of its own.
    sample->move(30, 350);
    pump();
    sample->close();
    pump();
    EXPECT_EQ(open_sample(2)->pos(), QPoint(30, 350));
    EXPECT_NE(inst->pos(), QPoint(30, 350));
    // A place on a screen that is gone is not used.
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora")
        .setValue("windows/instrument", QPoint(9000, 9000));
    inst->close();
    pump();
    EXPECT_FALSE(open_sample(1, true)->frameGeometry().intersects(needed));
    // On a screen with room, beside the main window, covering none of it.
    const QRect main(10, 80, 701, 490), screen(0, 0, 1600, 1000);
    const QRect put(free_place(QSize(651, 290), main, QRect(10, 80, 701, 250), screen),
                    QSize(651, 290));
    EXPECT_TRUE(screen.contains(put));
    EXPECT_FALSE(put.intersects(main));
}
