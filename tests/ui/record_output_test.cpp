// "Record Output..." in the File menu: the panel, the time shown while the
// output is recorded, and a file finished whether the item or quitting ends it.
#include <sndfile.h>

#include <QAction>

#include "platform/output_recorder.h"
#include "support/uikit.h"

using uikit::MainWindowTest;

namespace {

// Frames of the file at `path` and its rate, or -1 when it does not read.
std::pair<sf_count_t, int> file_frames(const QString& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toUtf8().constData(), SFM_READ, &info);
    if (!f) return {-1, 0};
    sf_close(f);
    return {info.frames, info.samplerate};
}

// Plays `seconds` of a quiet tone at 48 kHz to the output's tap, as the
// audio thread does.
void play(double seconds) {
    std::vector<float> buf(2 * 480, 0.25f);
    for (int k = 0; k < int(seconds * 100); ++k) output_tap::pass(buf.data(), 480, 48000.0f);
}

}  // namespace

TEST_F(MainWindowTest, RecordOutputWritesTheFileUntilStoppedOrQuitAndShowsTheTime) {
    QAction* item = win->record_item();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->text(), "Record Output...");
    item->trigger();
    uikit::pump();
    QFileDialog* panel = win->record_panel();
    ASSERT_TRUE(panel);
    // A name typed without an ending takes the one of the filter shown.
    panel->selectNameFilter("FLAC files (*.flac)");
    panel->setDirectory(dir.path());
    panel->findChild<QLineEdit*>("fileNameEdit")->setText("take");
    static_cast<QDialog*>(panel)->accept();  // as the Save button does
    uikit::pump();
    ASSERT_TRUE(win->recorder()) << "the recording did not start";
    EXPECT_EQ(win->recorder()->path(), dir.filePath("take.flac").toStdString());
    EXPECT_EQ(item->text(), "Stop Recording");
    play(1.0);
    uikit::pump(450);  // the line follows on its timer
    EXPECT_TRUE(win->record_line()->isVisible());
    EXPECT_EQ(win->record_line()->text(), "REC 0:01.0  take.flac");

    item->trigger();
    uikit::pump();
    EXPECT_FALSE(win->recorder());
    EXPECT_EQ(item->text(), "Record Output...");
    EXPECT_EQ(win->record_line()->text(), "Recorded 0:01.0 to take.flac");
    EXPECT_EQ(file_frames(dir.filePath("take.flac")), std::make_pair(sf_count_t(48000), 48000));
    play(0.5);  // heard, no longer recorded
    EXPECT_EQ(file_frames(dir.filePath("take.flac")).first, 48000);
    EXPECT_TRUE(alerts().empty()) << "nothing was lost, nothing to say";

    // A file that cannot be made is said at once; nothing records.
    post(Message(fourcc("rcpa")).add("path", dir.filePath("no/such/folder.wav")));
    EXPECT_FALSE(win->recorder());
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].text.rfind("Cannot record to", 0), 0u) << alerts()[0].text;

    // Quitting while recording finishes the file.
    post(Message(fourcc("rcpa")).add("path", dir.filePath("quit.flac")));
    ASSERT_TRUE(win->recorder());
    play(0.3);
    win->close();
    uikit::pump();
    EXPECT_EQ(file_frames(dir.filePath("quit.flac")), std::make_pair(sf_count_t(14400), 48000));
}
