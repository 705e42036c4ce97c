// Files reaching the main window: through the open panel's message, as a
// drop, and by name classification; failures leave everything as it was.
#include "ui/main/open_flow.h"

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include "io/loadi.h"
#include "support/uikit.h"
#include "ui/main/overview.h"

using uikit::MainWindowTest;

namespace {

// True when the file at `path` imports as a bank whose first program plays
// the five sounds of the SFZ kit.
bool loadi_bank_back(const QString& path) {
    loadi(0, path.toUtf8().constData(), "");
    return nb_inst == 128 && inst_count(0) == 5 && t_sound[4].load()->key_lo == 44;
}

}  // namespace

TEST(OpenFlow, InstrumentNamesAndFilters) {
    for (const char* name : {"kit.it", "KIT.IT", "kit.SF2", "a.b.sf2", "kit.SFZ"})
        EXPECT_TRUE(is_instrument_name(name)) << name;
    for (const char* name : {"kit.sf2.wav", ".it", "kit.its", "kit"})
        EXPECT_FALSE(is_instrument_name(name)) << name;
    const QString all = open_filters().first();
    for (const char* e : {"*.wav", "*.aiff", "*.avr", "*.flac", "*.ogg", "*.it", "*.sf2", "*.sfz"})
        EXPECT_TRUE(all.contains(e)) << e;
}

TEST_F(MainWindowTest, OpeningOrDroppingAWavFillsTheSelectedSlotAndRelabelsItsRow) {
    select_row(1);
    open_paths({write_wav("tone.wav", 4000), dir.filePath("ignored.wav")});
    ASSERT_NE(t_sound[0]->data, nullptr);
    EXPECT_EQ(int(t_sound[0]->size), 8000);
    EXPECT_EQ(rows()[1], QString("  ") + t_sound[0]->name);
    EXPECT_EQ(win->overview()->length(), 4000u);
    EXPECT_TRUE(alerts().empty());
    // A dropped file is opened like a chosen one.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(write_wav("drop.wav", 2000))});
    const QPointF at(300, 300);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(win.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(win.get(), &drop);
    uikit::pump();
    finish_loads();
    EXPECT_EQ(int(t_sound[0]->size), 4000);
}

TEST_F(MainWindowTest, AnSfzInstrumentLoadsInTheBackgroundAndItsSummaryIsShown) {
    const std::string kit = files::write_sfz_kit(dir.path().toStdString());
    open_paths({QString::fromStdString(kit)});
    EXPECT_EQ(nb_sound, 5);
    EXPECT_EQ(rows()[0].trimmed(), "kit");
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].text, "kit.sfz: 5 of 11 regions loaded, 6 refused.");
    EXPECT_NE(alerts()[0].details.find("missing.wav"), std::string::npos);
    // Saved as a bank, ".sf2" added; a folder that is not there is told.
    post(Message(fourcc("SASF")).add("path", dir.filePath("kit")).add("all", 0));
    EXPECT_TRUE(loadi_bank_back(dir.filePath("kit.sf2")));
    post(Message(fourcc("SASF")).add("path", dir.filePath("none/kit.sf2")).add("all", 1));
    ASSERT_EQ(alerts().size(), 2u);
    EXPECT_EQ(alerts()[1].text, "The bank could not be written: No such file or directory");
}

TEST_F(MainWindowTest, AFileThatFailsLeavesTreeAndSelectionAlone) {
    post("asam");
    select_row(1);
    const QStringList before = rows();
    const QString path = dir.filePath("notes.wav");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is text, not sound\n");
    f.close();
    open_paths({path});
    ASSERT_EQ(alerts().size(), 1u);
    // The alert keeps its text; the decoder's reason is in its details.
    EXPECT_EQ(alerts()[0].text, "Not an audio file or format not supported");
    EXPECT_NE(alerts()[0].details.find("Format not recognised"), std::string::npos)
        << alerts()[0].details;
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(int(no_s), 0);
    EXPECT_EQ(t_sound[0]->data, nullptr);
    open_paths({dir.filePath("missing.wav")});  // cannot be found: ignored quietly
    EXPECT_EQ(alerts().size(), 1u);
}

TEST_F(MainWindowTest, ALargeFileIsStreamedAndTheOverviewSaysSo) {
    select_row(1);
    open_paths({write_wav("long.wav", 600000)});  // 1.2 MB of data
    ASSERT_NE(t_sound[0]->data, nullptr);
    EXPECT_EQ(int(t_sound[0]->type), int(kTypeStreamed));
    EXPECT_TRUE(win->overview()->streamed());
    for (int x = 0; x < kOverviewWidth; x += 16)
        EXPECT_FALSE(overview_bit(win->overview()->bits(), x, 32));
    // "D2D File" is written in black where the waveform would be.
    const QImage shot = win->overview()->grab().toImage();
    int black = 0;
    for (int y = 25; y < 55; ++y)
        for (int x = 100; x < 220; ++x) black += (shot.pixel(x, y) & 0xFFFFFF) == 0;
    EXPECT_GT(black, 50);
}
