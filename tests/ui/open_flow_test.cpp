// Files reaching the main window: through the open panel's message, as a
// drop, and by name classification; failures leave everything as it was.
#include "ui/main/open_flow.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include "core/instruments.h"
#include "io/instrument_file.h"
#include "support/file_builders.h"
#include "support/uikit.h"
#include "ui/main/overview.h"
#include "ui/main/sound_tree.h"

using uikit::MainWindowTest;

namespace {

// A 16-bit mono WAV of `frames` frames of a tone, named `leaf` in the test's folder.
QString tone(const QTemporaryDir& dir, const char* leaf, int frames) {
    const QString path = dir.filePath(leaf);
    files::write_sound(path.toStdString(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100,
                       testkit::sine16(350, 44100, static_cast<std::uint32_t>(frames), 0.4));
    return path;
}

Message refs(const QStringList& paths) {
    return Message(fourcc("_RRC")).add("refs", paths);
}

}  // namespace

TEST(OpenFlow, InstrumentNamesAndFilters) {
    for (const char* name : {"kit.it", "KIT.IT", "kit.SF2", "a.b.sf2"})
        EXPECT_TRUE(is_instrument_name(name)) << name;
    for (const char* name : {"kit.sf2.wav", ".it", "kit.its", "kit"})
        EXPECT_FALSE(is_instrument_name(name)) << name;
    const QString all = open_filters().first();
    for (const char* e : {"*.wav", "*.aiff", "*.avr", "*.flac", "*.ogg", "*.it", "*.sf2"})
        EXPECT_TRUE(all.contains(e)) << e;
}

TEST_F(MainWindowTest, OpeningAWavFillsTheSelectedSlotAndRelabelsItsRow) {
    select_row(1);
    post(refs({tone(dir, "tone.wav", 4000), dir.filePath("ignored.wav")}));
    ASSERT_NE(t_sound[0]->data, nullptr);
    EXPECT_EQ(int(t_sound[0]->size), 8000);
    EXPECT_EQ(rows()[1], QString("  ") + t_sound[0]->name);
    EXPECT_EQ(win->overview()->length(), 4000u);
    EXPECT_TRUE(alerts().empty());
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
    post(refs({path}));
    EXPECT_EQ(alerts().size(), 1u);
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(int(no_s), 0);
    EXPECT_EQ(t_sound[0]->data, nullptr);
    post(refs({dir.filePath("missing.wav")}));  // cannot be found: ignored quietly
    EXPECT_EQ(alerts().size(), 1u);
}

TEST_F(MainWindowTest, ALargeFileIsStreamedAndTheOverviewSaysSo) {
    select_row(1);
    post(refs({tone(dir, "long.wav", 600000)}));  // 1.2 MB of data
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

TEST_F(MainWindowTest, AnInstrumentFileFillsTheSelectedInstrument) {
    select_row(1);
    const QString wav = tone(dir, "tone.wav", 3000);
    post(refs({wav}));
    post("asam");
    post(refs({wav}));  // the instrument now holds two sounds
    const QString it = dir.filePath("pair.it");
    ASSERT_TRUE(saveinst(it.toUtf8().constData()));

    post("ains");  // an empty instrument, selected
    ASSERT_EQ(int(no_s), 2);
    post(refs({it}));
    EXPECT_EQ(int(nb_inst), 2);
    EXPECT_EQ(inst_count(1), 2);
    ASSERT_NE(t_sound[2]->data, nullptr);
    ASSERT_NE(t_sound[3]->data, nullptr);
    EXPECT_EQ(int(t_sound[3]->size), 6000);
    EXPECT_EQ(rows().size(), 6);
}

TEST_F(MainWindowTest, ABankBecomesInstrumentsInTheTree) {
    const QString bank = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!QFile::exists(bank)) GTEST_SKIP() << "no bank installed";
    post(refs({bank}));
    EXPECT_GT(int(nb_inst), 1);
    EXPECT_EQ(win->tree()->topLevelItemCount(), int(nb_inst));
    int sample_rows = 0;
    for (int k = 0; k < win->tree()->topLevelItemCount(); ++k)
        sample_rows += win->tree()->topLevelItem(k)->childCount();
    EXPECT_EQ(sample_rows, int(nb_sound));
    EXPECT_TRUE(alerts().empty());
}

TEST_F(MainWindowTest, ADroppedFileIsOpenedLikeAChosenOne) {
    select_row(1);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(tone(dir, "drop.wav", 2000))});
    const QPointF at(300, 300);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(win.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(win.get(), &drop);
    uikit::pump();
    ASSERT_NE(t_sound[0]->data, nullptr);
    EXPECT_EQ(int(t_sound[0]->size), 4000);
}
