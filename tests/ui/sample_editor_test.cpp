// The sample editor window: opened from the main window, its labels after
// clicks, the zoom menu, the scroll bar, the strips' pixels, the functions
// pop-up with undo, and saving.

#include "support/uikit.h"
#include "ui/editor/ed_window.h"
#include "ui/editor/strip_view.h"

using testkit::bytes_of;
using testkit::word_at;
using uikit::MainWindowTest;
using uikit::send;

namespace {

class SampleEditorTest : public MainWindowTest {
  protected:
    // Puts `samples` (16-bit mono, 44100 Hz) in the current slot and opens the editor.
    EdWindow* open(const std::vector<std::int16_t>& samples) {
        replace_sound(no_s, testkit::make_sound16(samples, 44100, 60));
        post("edsa");
        return dynamic_cast<EdWindow*>(edwin.data());
    }
    // Fades in the first four frames of the edited sound: one step of history.
    static void fade_in_start(EdWindow* ed) {
        ed->model().state().block_start = 0, ed->model().state().block_end = 4;
        send(ed, fourcc("T004"));
        ASSERT_EQ(ed->model().history().undo_steps(), 1u);
    }
    static std::pair<int, int> view(EdWindow* ed) {
        return {ed->model().state().view_start, ed->model().state().view_end};
    }
};

// Whether strip pixel (column, row) of the column image shows ink.
bool inked(StripView* v, int column, int row) {
    const QColor c = v->composed().pixelColor(10 + column, 10 + row);
    return c == Qt::black || c == QColor(220, 0, 0) || c == QColor(0, 170, 0);
}

}  // namespace

TEST_F(SampleEditorTest, AnEmptySlotIsRefusedAndAnOpenEditorComesToTheFront) {
    post("edsa");
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].text, "Load a sample to edit it...");
    EXPECT_TRUE(edwin.isNull());
    EXPECT_FALSE(prin);

    EdWindow* ed = open(std::vector<std::int16_t>(2000, 100));
    ASSERT_NE(ed, nullptr);
    EXPECT_TRUE(prin);
    post("edsa");
    EXPECT_EQ(edwin.data(), ed);  // the same editor, not a second one
    EXPECT_EQ(ed->total_label()->text(), "Total 2000/045 ms");
    EXPECT_EQ(ed->block_start_label()->text(), "BS ---/--- ms");
    EXPECT_EQ(ed->channels_button()->text(), "Mono");
    EXPECT_EQ(ed->width_button()->text(), "16 Bits");
    EXPECT_EQ(ed->rate_button()->text(), "44100");

    // Emptying the edited slot closes the editor.
    replace_sound(no_s, nullptr);
    editor_minit(no_s);
    uikit::pump();
    EXPECT_TRUE(edwin.isNull());
    EXPECT_FALSE(prin);
}

TEST_F(SampleEditorTest, ClicksAndDragsSetTheBlockAndTheZoomMenuAndScrollBarKeepTheViewInside) {
    EdWindow* ed = open(std::vector<std::int16_t>(1024, 100));
    ASSERT_NE(ed, nullptr);
    uikit::mouse(ed->zoom(), QEvent::MouseButtonPress, {260, 40});  // frame 500, no block yet
    EXPECT_EQ(ed->block_start_label()->text(), "BS 000/000 ms");
    EXPECT_EQ(ed->block_end_label()->text(), "BE 500/011 ms");
    // A right click sets the end of the block: frame 200.
    uikit::mouse(ed->zoom(), QEvent::MouseButtonPress, {110, 40}, false, Qt::RightButton);
    EXPECT_EQ(ed->model().state().block_end, 200);
    // A drag selects from the press to the release.
    uikit::mouse(ed->zoom(), QEvent::MouseButtonPress, {60, 40});
    uikit::mouse(ed->zoom(), QEvent::MouseMove, {30, 40}, true);
    uikit::mouse(ed->zoom(), QEvent::MouseButtonRelease, {30, 40});
    EXPECT_EQ(ed->model().state().block_start, 40);
    EXPECT_EQ(ed->model().state().block_end, 100);
    // A drag in the overview moves the view, keeping its width.
    ed->model().state().view_start = 0, ed->model().state().view_end = 256;
    uikit::mouse(ed->overview(), QEvent::MouseButtonPress, {20, 40});
    uikit::mouse(ed->overview(), QEvent::MouseMove, {70, 40}, true);
    EXPECT_EQ(view(ed), std::pair(100, 356));
    ed = open(std::vector<std::int16_t>(300, 100));
    editor_minit();
    pick(ed->zoom_field(), 2);  // "Normal View (1:1)" on a sound shorter than 512 frames
    EXPECT_EQ(popups.back()[2], "Normal View (1:1)");
    EXPECT_EQ(view(ed), std::pair(0, 300));
    pick(ed->zoom_field(), 1);  // "Zoom Locator" without a block changes nothing
    EXPECT_EQ(view(ed), std::pair(0, 300));

    ed = open(std::vector<std::int16_t>(4096, 100));
    editor_minit();
    send(ed, fourcc("zpls"));
    EXPECT_EQ(view(ed), std::pair(1024, 3072));
    ed->scroll_bar()->setValue(ed->scroll_bar()->maximum());
    EXPECT_EQ(view(ed), std::pair(2048, 4096));
    ed->scroll_bar()->setValue(100);
    EXPECT_EQ(view(ed), std::pair(100, 2148));
    pick(ed->zoom_field(), 0);  // "View All"
    EXPECT_EQ(view(ed), std::pair(0, 4096));
    EXPECT_EQ(ed->scroll_bar()->maximum(), 0);
}

TEST_F(SampleEditorTest, StripsShowTheViewInGreenTheBlockInRedAndNoWaveformForAStreamedSound) {
    // What the columns hold is the strips' own test (sample_edit_parts_test).
    EdWindow* ed = open(std::vector<std::int16_t>(1024, -32768));
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(ed->overview()->composed().pixelColor(13, 42), QColor(0, 170, 0));
    EXPECT_EQ(ed->zoom()->composed().pixelColor(13, 42), QColor(Qt::black));
    pick(ed->zoom_field(), 3);  // "Set Locator All"
    EXPECT_EQ(ed->zoom()->composed().pixelColor(13, 42), QColor(220, 0, 0));

    // A sound streamed from disk has no waveform to show, only "D2D File".
    t_sound[no_s].load()->type = kTypeStreamed;
    editor_minit();
    for (StripView* s : {ed->overview(), ed->zoom()}) {
        EXPECT_FALSE(inked(s, 3, 0));
        EXPECT_FALSE(inked(s, 400, 32));
    }
}

TEST_F(SampleEditorTest, FunctionsMenuEditsUndoesAndSaves) {
    EdWindow* ed = open(std::vector<std::int16_t>(1000, 1000));
    ASSERT_NE(ed, nullptr);
    ed->model().state().block_start = 0, ed->model().state().block_end = 4;
    pick(ed->functions_field(), 3);  // "Fade In"
    uikit::pump();
    ASSERT_EQ(popups.back().size(), 10);
    EXPECT_EQ(popups.back()[7], "Undo");
    EXPECT_EQ(word_at(t_sound[no_s], 1), 250);
    send(ed, fourcc("undo"));
    EXPECT_EQ(word_at(t_sound[no_s], 1), 1000);
    send(ed, fourcc("redo"));
    EXPECT_EQ(word_at(t_sound[no_s], 1), 250);

    // Deleting frames changes the length label and the main window's overview.
    ed->model().state().block_end = 100;
    send(ed, fourcc("T002"));
    EXPECT_EQ(ed->total_label()->text(), "Total 900/020 ms");

    ed->loop_start_field()->setText("12x4");
    send(ed, fourcc("glos"));
    EXPECT_EQ(ed->loop_start_field()->text(), "000");  // loop end is 0: rejected

    const QString path = dir.filePath("saved.wav");
    send(ed, Message(fourcc("svas")).add("path", path));
    SF_INFO info;  // what a saved file holds is the saving's own test
    files::read_sound(path.toStdString(), info);
    EXPECT_EQ(info.frames, 900);
    EXPECT_TRUE(alerts().empty());
}

TEST_F(SampleEditorTest, AfterALoadReplacesItsSoundUndoNeverReachesTheNewOne) {
    // A sample loaded into the edited slot: the editor shows it, with a fresh history.
    EdWindow* ed = open(std::vector<std::int16_t>(1000, 1000));
    ASSERT_NE(ed, nullptr);
    const int slot = no_s;
    fade_in_start(ed);
    open_paths({write_wav("new.wav", 2000)});
    ASSERT_EQ(edwin.data(), ed);
    EXPECT_EQ(ed->total_label()->text().toStdString(), "Total 2000/045 ms");
    std::vector<std::int8_t> loaded = bytes_of(t_sound[slot]);
    send(ed, fourcc("undo"));
    EXPECT_EQ(bytes_of(t_sound[slot]), loaded) << "Undo after a sample load changed the new sound";

    // A bank imported over its instrument: the editor closes, and an undo
    // sent to it changes nothing.
    fade_in_start(ed);
    const QString bank = dir.filePath("kit.sf2");
    std::vector<std::int16_t> points(600);
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = std::int16_t(100 + i);
    ASSERT_TRUE(files::write_bytes(
        bank.toStdString(),
        files::sf_bank({{"tone", points, 10, 500}}, {{"Kit", {{files::sample_id(0)}}}})));
    QPointer<EdWindow> kept(ed);
    open_paths({bank});
    ASSERT_TRUE(alerts().empty()) << alerts()[0].text;
    loaded = bytes_of(t_sound[slot]);
    ASSERT_FALSE(loaded.empty());
    if (kept) send(kept, fourcc("undo"));
    EXPECT_EQ(bytes_of(t_sound[slot]), loaded) << "Undo after a bank import changed its sound";
    EXPECT_TRUE(edwin.isNull()) << "the editor stayed open on a sound that has gone";

    // An instrument file loaded over it: the same.
    post("edsa");
    ed = dynamic_cast<EdWindow*>(edwin.data());
    ASSERT_NE(ed, nullptr);
    fade_in_start(ed);
    const QString inst = dir.filePath("kit.it");
    files::ItSound is;
    is.data = files::be_points(std::vector<std::int16_t>(800, -300));
    ASSERT_TRUE(files::write_bytes(inst.toStdString(), files::it_file({is})));
    kept = ed;
    open_paths({inst});
    ASSERT_TRUE(alerts().empty()) << alerts()[0].text;
    loaded = bytes_of(t_sound[slot]);
    ASSERT_EQ(loaded.size(), 1600u);
    if (kept) send(kept, fourcc("undo"));
    EXPECT_EQ(bytes_of(t_sound[slot]), loaded) << "Undo after an instrument load changed its sound";
    EXPECT_TRUE(edwin.isNull()) << "the editor stayed open on a sound that has gone";
}

TEST_F(SampleEditorTest, TheEditorFollowsItsSoundWhenSoundsAreAddedOrDeletedBeforeIt) {
    post("ains");  // instrument 1 owns sound 1
    select_sound(1);
    EdWindow* ed = open(std::vector<std::int16_t>(1000, 1000));
    ASSERT_NE(ed, nullptr);
    fade_in_start(ed);
    EXPECT_EQ(word_at(t_sound[1], 1), 250);

    // A sound added to instrument 0 moves it to slot 2.
    select_sound(0);
    post("asam");
    ASSERT_EQ(edwin.data(), ed) << "the editor closed when its sound moved";
    EXPECT_EQ(ed->model().state().sound, 2);
    EXPECT_EQ(ed->total_label()->text().toStdString(), "Total 1000/022 ms");
    send(ed, fourcc("undo"));
    EXPECT_EQ(word_at(t_sound[2], 1), 1000);
    EXPECT_EQ(t_sound[1].load()->data, nullptr);  // the added sound is left alone
    send(ed, fourcc("redo"));
    EXPECT_EQ(word_at(t_sound[2], 1), 250);

    // Deleting that sound again moves it back to slot 1.
    select_sound(1);
    post("dsam");
    ASSERT_EQ(edwin.data(), ed);
    EXPECT_EQ(ed->model().state().sound, 1);
    send(ed, fourcc("undo"));
    EXPECT_EQ(word_at(t_sound[1], 1), 1000);

    // Deleting the sound itself closes the editor.
    alert_answer = 1;  // "Yes": its instrument goes with it
    select_sound(1);
    post("dsam");
    EXPECT_TRUE(edwin.isNull());
}

TEST_F(SampleEditorTest, AStreamedSoundShowsItsFileAndNoLoop) {
    limitd2d = 100000;
    open_paths({write_wav("long.wav", 300000)});  // 600 KB: streamed
    p_s* s = t_sound[no_s].load();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(int(s->type), int(kTypeStreamed));
    const std::uint32_t loop_end = s->loop_end;
    post("edsa");
    auto* ed = dynamic_cast<EdWindow*>(edwin.data());
    ASSERT_NE(ed, nullptr);
    // The file's 300000 frames (6.8 s), not the ring's 153600 (3.5 s); no loop.
    EXPECT_EQ(ed->total_label()->text().toStdString(), "Total 300000/6802 ms");
    EXPECT_EQ(ed->loop_button()->Value(), 0);
    EXPECT_EQ(ed->loop_start_field()->text().toStdString(), "000");
    EXPECT_EQ(ed->loop_end_field()->text().toStdString(), "300000");
    pick(ed->zoom_field(), 3);  // "Set Locator All"
    EXPECT_EQ(ed->block_end_label()->text().toStdString(), "BE 300000/6802 ms");
    // Loop changes are refused by the editing layer (sample_edit_test); the
    // window shows the file's "no loop" after one.
    uikit::click(ed->loop_button());
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(ed->loop_button()->Value(), 0);
    EXPECT_EQ(std::uint32_t(s->loop_end), loop_end);
}
