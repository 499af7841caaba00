// Broken files met in daily use, made by the tests themselves: files the service must
// refuse at open, and clips damaged after their start, where only the frames past the
// damage may fail. In every case the command answers 0 or an error number with its text
// and one beep, nothing hangs, and other clips still open.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <vector>

#include "avi_bytes.h"
#include "clipgen.h"
#include "core/surface.h"
#include "media/service/video_device.h"
#include "session.h"

using namespace tambrel;
using namespace tambrel::robustness;
using media::MediaError;

namespace {

constexpr int kFrames = 20;
constexpr int kFirstDamaged = 10;
const QSize kBig(640, 480);

class BadFiles : public ::testing::Test {
  protected:
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }

    // A clip whose frames carry their numbers, every frame a key frame (Motion JPEG), so
    // damage to one chunk touches only its own frame.
    QString good_clip(const QString& name = QStringLiteral("good.avi"), int width = 128,
                      int height = 96) {
        clipgen::ClipOptions o;
        o.path = path(name).toStdString();
        o.codec = clipgen::Codec::Mjpeg;
        o.width = width;
        o.height = height;
        o.frames = kFrames;
        o.keyframe_interval = 6;
        const auto error = clipgen::write_clip(o);
        EXPECT_FALSE(error) << *error;
        return path(name);
    }
    QByteArray good_bytes() { return read_file(good_clip(QStringLiteral("source.avi"))); }

    QString file(const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(write_file(path(name), bytes));
        return path(name);
    }
};

// The frame number that the open clip under `alias` draws now, read from its pixels.
int shown_frame(Session& s, const QString& alias = QStringLiteral("avfile"),
                QSize size = QSize(128, 96)) {
    PictureSurface surface(size.width(), size.height());
    const int32_t hdc = s.handles.add_surface(&surface);
    s.send(QStringLiteral("put %1 destination at 0 0 %2 %3")
               .arg(alias)
               .arg(size.width())
               .arg(size.height()));
    const Answer a = s.send(QStringLiteral("update %1 hdc %2").arg(alias).arg(hdc));
    s.handles.remove(hdc);
    if (a.rc != 0) return -2;
    return clipgen::read_frame_number(surface.image());
}

int position(Session& s, const QString& alias = QStringLiteral("avfile")) {
    const Answer a = s.send(QStringLiteral("status %1 position").arg(alias));
    return a.rc == 0 ? a.reply.toInt() : -1;
}

void expect_refusal(const Answer& a, MediaError e) {
    EXPECT_EQ(a.rc, media::code(e));
    EXPECT_EQ(a.reply, error_text_of(e));
    EXPECT_EQ(a.beeps, 1);
}

struct Refused {
    QString what;
    std::function<QString()> make;
    MediaError error;
};

std::vector<Refused> refused_files(BadFiles& t,
                                   std::function<QString(const QString&, const QByteArray&)> file,
                                   std::function<QByteArray()> good, const QDir& dir) {
    std::vector<Refused> out;
    out.push_back(
        {"zero-byte file", [=] { return file("empty.avi", {}); }, MediaError::NotPlayable});
    out.push_back({"random bytes",
                   [=] {
                       QByteArray b(64 * 1024, '\0');
                       QRandomGenerator gen(20261207);
                       for (char& c : b) c = static_cast<char>(gen.bounded(256));
                       return file("noise.avi", b);
                   },
                   MediaError::NotPlayable});
    out.push_back({"text file named .avi",
                   [=] {
                       return file("notes.avi",
                                   QByteArray("Shopping list\n- milk\n- bread\n").repeated(200));
                   },
                   MediaError::NotPlayable});
    out.push_back({"cut inside the main header",
                   [=] { return file("cut100.avi", good().left(100)); }, MediaError::NotPlayable});
    out.push_back({"cut before the first frame",
                   [=] {
                       const QByteArray b = good();
                       const auto movi = find_chunk(b, "movi");
                       return file("cutmovi.avi", b.left(*movi + 4));
                   },
                   MediaError::NotPlayable});
    out.push_back({"audio stream only",
                   [=] {
                       RawAvi layout;
                       layout.video = false;
                       layout.audio = true;
                       return file("audio.avi", raw_avi(layout));
                   },
                   MediaError::NotPlayable});
    out.push_back({"header claims 100000 x 100000 pixels",
                   [=] {
                       RawAvi layout;
                       layout.header_width = 100000;
                       layout.header_height = 100000;
                       return file("absurd.avi", raw_avi(layout));
                   },
                   MediaError::NotPlayable});
    out.push_back({"16385 pixels wide",
                   [=] {
                       RawAvi layout;
                       layout.width = 16385;
                       layout.height = 2;
                       layout.frames = 2;
                       return file("wide.avi", raw_avi(layout));
                   },
                   MediaError::NotPlayable});
    out.push_back({"over 64 megapixels claimed",
                   [=] {
                       RawAvi layout;
                       layout.header_width = 8192;
                       layout.header_height = 8193;
                       return file("mp.avi", raw_avi(layout));
                   },
                   MediaError::NotPlayable});
    out.push_back({"directory named x.avi",
                   [=] {
                       dir.mkdir("x.avi");
                       return dir.filePath("x.avi");
                   },
                   MediaError::FileNotFound});
    // Opening a FIFO for reading waits for a writer: the service must not go near it.
    out.push_back({"FIFO named pipe.avi",
                   [=] {
                       const QString p = dir.filePath("pipe.avi");
                       EXPECT_EQ(mkfifo(QFile::encodeName(p).constData(), 0644), 0);
                       return p;
                   },
                   MediaError::FileNotFound});
    out.push_back(
        {"no such file", [=] { return dir.filePath("gone.avi"); }, MediaError::FileNotFound});
    (void)t;
    return out;
}

}  // namespace

TEST_F(BadFiles, RefusedAtOpenWithItsErrorTextAndOneBeep) {
    Session s;
    const QString good = good_clip();
    const auto cases = refused_files(
        *this, [this](const QString& n, const QByteArray& b) { return file(n, b); },
        [this] { return good_bytes(); }, QDir(dir.path()));
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.what.toStdString());
        expect_refusal(s.open(c.make()), c.error);
        expect_refusal(s.send("status avfile length"), MediaError::NotOpen);
        // The service is unharmed: a good clip opens under the same alias.
        const Answer opened = s.open(good);
        EXPECT_EQ(opened.rc, 0);
        EXPECT_EQ(opened.beeps, 0);
        EXPECT_EQ(s.send("status avfile length").reply, QString::number(kFrames));
        EXPECT_EQ(s.send("close avfile").rc, 0);
    }
}

TEST_F(BadFiles, RefusedOpenInTheWindowNamesTheFileAndTheReason) {
    Window w;
    const QString good = good_clip();
    w.open(good);
    ASSERT_EQ(w.form->Label1->text(), good);
    ASSERT_TRUE(w.form->Timer1->isActive());
    ASSERT_EQ(w.form->HScroll1->maximum(), kFrames);
    const auto cases = refused_files(
        *this, [this](const QString& n, const QByteArray& b) { return file(n, b); },
        [this] { return good_bytes(); }, QDir(dir.path()));
    bool clip_open = true;
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.what.toStdString());
        const int beeps = w.platform.beeps;
        const size_t messages = w.platform.messages.size();
        const QString path = c.make();
        w.open(path);
        ASSERT_EQ(w.platform.messages.size(), messages + 1);
        const auto& m = w.platform.messages.back();
        EXPECT_TRUE(m.stop_icon);
        EXPECT_TRUE(m.text.contains(path)) << m.text.toStdString();
        EXPECT_TRUE(m.text.contains("\n" + error_text_of(c.error) + "\n")) << m.text.toStdString();
        // One beep for the refused open, one more for the close when nothing was open.
        EXPECT_EQ(w.platform.beeps - beeps, clip_open ? 1 : 2);
        clip_open = false;
        // The earlier clip is closed: nothing names it and the read-out is off.
        EXPECT_EQ(w.form->Label1->text(), QString());
        EXPECT_FALSE(w.form->Timer1->isActive());
        EXPECT_EQ(w.form->HScroll1->maximum(), kFrames);
        EXPECT_EQ(w.service.device("avfile"), nullptr);
    }
    const QString other = good_clip(QStringLiteral("other.avi"));
    const size_t messages = w.platform.messages.size();
    w.open(other);
    EXPECT_EQ(w.platform.messages.size(), messages);
    EXPECT_EQ(w.form->Label1->text(), other);
    ASSERT_NE(w.service.device("avfile"), nullptr);
}

// Permissions do not stop root, and the tests run as root: the refusal of a file without
// read permission is checked by running the service console as the unprivileged user
// "nobody" (setpriv), on a file in a folder that user may enter.
TEST_F(BadFiles, FileWithoutReadPermissionIsRefused) {
    const QString p = good_clip(QStringLiteral("locked.avi"));
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(p).constData(), 0000), 0);
    const QString form =
        QString::fromStdString(media::encode_command_path(QFile::encodeName(p).toStdString()));
    const QString expected = QString::number(media::code(MediaError::FileNotFound)) + '\t' +
                             error_text_of(MediaError::FileNotFound);
    if (geteuid() != 0) {
        Session s;
        expect_refusal(s.open(p), MediaError::FileNotFound);
        return;
    }
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (setpriv.isEmpty()) GTEST_SKIP() << "setpriv is not installed";
    // The parents of the temporary folder must be enterable too.
    for (QDir d(dir.path()); !d.isRoot(); d.cdUp())
        if (QFileInfo(d.path()).permissions().testFlag(QFileDevice::ExeOther) == false)
            GTEST_SKIP() << "nobody cannot reach " << d.path().toStdString();
    QProcess mci;
    mci.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", TAMBREL_MCI,
                        "open " + form + " alias avfile"});
    ASSERT_TRUE(mci.waitForFinished(60000));
    const QString out = QString::fromUtf8(mci.readAllStandardOutput()).trimmed();
    if (out.isEmpty())
        GTEST_SKIP() << "the console did not run as nobody: "
                     << mci.readAllStandardError().toStdString();
    EXPECT_EQ(out, expected);
    EXPECT_EQ(mci.exitCode(), 1);
}

namespace {
struct Damage {
    QString what;
    std::function<QByteArray(const QByteArray&)> apply;
    int first_lost;  // the first frame that is gone; kFrames when none is
    bool last_reachable_may_be_partial = false;
};

std::vector<Damage> damages() {
    return {
        {"cut inside the index",
         [](const QByteArray& b) {
             const auto idx = find_chunk(b, "idx1");
             return b.left(*idx + 8 + chunk_size(b, *idx) / 2 + 3);
         },
         kFrames},
        {"index removed",
         [](const QByteArray& b) {
             QByteArray out = b;
             const auto idx = find_chunk(b, "idx1");
             out.replace(*idx, 4, "JUNK");
             const auto avih = find_chunk(b, "avih");
             out[*avih + 8 + 12] = static_cast<char>(out[*avih + 8 + 12] & ~0x10);
             return out;
         },
         kFrames},
        {"cut in the middle of a frame",
         [](const QByteArray& b) {
             const auto chunks = video_chunks(b);
             const qsizetype at = chunks[kFirstDamaged];
             return b.left(at + 8 + chunk_size(b, at) / 2);
         },
         kFirstDamaged, true},
        {"frames stop decoding half-way",
         [](const QByteArray& b) {
             QByteArray out = b;
             const auto chunks = video_chunks(b);
             for (size_t k = kFirstDamaged; k < chunks.size(); ++k) {
                 const qsizetype at = chunks[k];
                 for (uint32_t i = 0; i < chunk_size(b, at); ++i)
                     out[at + 8 + i] = static_cast<char>((i * 37 + 11) & 0xff);
             }
             return out;
         },
         kFirstDamaged},
    };
}
}  // namespace

TEST_F(BadFiles, DamageAfterTheStartFailsOnlyPastIt) {
    const QByteArray source = good_bytes();
    const QString other = good_clip(QStringLiteral("other.avi"));
    for (const Damage& d : damages()) {
        SCOPED_TRACE(d.what.toStdString());
        Session s;
        const Answer opened = s.open(file("damaged.avi", d.apply(source)));
        ASSERT_EQ(opened.rc, 0) << opened.reply.toStdString();
        EXPECT_EQ(s.send("status avfile length").reply, QString::number(kFrames));
        EXPECT_EQ(shown_frame(s), 0);

        // Step forward through the whole clip (bounded): every frame before the damage
        // shows its own picture; past it every step fails with a beep and stays put.
        int reached = 0;
        bool failed = false;
        for (int k = 1; k < kFrames + 3; ++k) {
            const Answer a = s.send("step avfile");
            if (a.rc == 0) {
                EXPECT_FALSE(failed) << "a step succeeded after one failed, at " << k;
                reached = std::min(k, kFrames - 1);
                EXPECT_EQ(position(s), reached);
                if (reached < d.first_lost) {
                    EXPECT_EQ(shown_frame(s), reached);
                }
            } else {
                failed = true;
                expect_refusal(a, MediaError::DecodeFailed);
                EXPECT_EQ(position(s), reached);
            }
        }
        if (d.first_lost == kFrames) {
            EXPECT_FALSE(failed);
            EXPECT_EQ(reached, kFrames - 1);
        } else {
            EXPECT_TRUE(failed);
            EXPECT_GE(reached, d.first_lost - 1);
            EXPECT_LE(reached, d.last_reachable_may_be_partial ? d.first_lost : d.first_lost - 1);
            expect_refusal(s.send("seek avfile to 18"), MediaError::DecodeFailed);
            expect_refusal(s.send("seek avfile to 20"), MediaError::DecodeFailed);
            EXPECT_EQ(position(s), reached);
        }
        // Back before the damage everything works, renders included.
        EXPECT_EQ(s.send("seek avfile to 3").rc, 0);
        EXPECT_EQ(shown_frame(s), 3);
        EXPECT_EQ(s.send("step avfile reverse").rc, 0);
        EXPECT_EQ(shown_frame(s), 2);
        // Another clip opens and plays its frames beside the damaged one.
        ASSERT_EQ(s.open(other, "second").rc, 0);
        EXPECT_EQ(s.send("seek second to 15").rc, 0);
        EXPECT_EQ(shown_frame(s, "second"), 15);
        EXPECT_EQ(s.send("close second").rc, 0);
        EXPECT_EQ(s.send("close avfile").rc, 0);
    }
}

TEST_F(BadFiles, DamagedClipInTheWindowBeepsPastTheDamageAndKeepsTheComposite) {
    Window w;
    const QString damaged = file("damaged.avi", damages()[3].apply(good_bytes()));
    w.open(damaged);
    ASSERT_EQ(w.form->Label1->text(), damaged);
    w.form->Command1_Click();  // play: enables the transport
    w.form->Command2_Click();
    w.form->Cmd_Reserve_Click();
    const int beeps = w.platform.beeps;
    for (int k = 0; k < 12; ++k) w.form->Command3_Click();
    // Steps 1 to 9 reach frames 1 to 9; the last three find only damaged frames.
    EXPECT_EQ(w.platform.beeps - beeps, 3);
    EXPECT_EQ(w.service.device("avfile")->position(), kFirstDamaged - 1);

    // A composition run over the damage: every step fails (one beep each), the run goes
    // on blending the last good frame, and the composite it has survives the stop.
    w.platform.ms_per_read = 100;
    w.platform.on_yield = [&](int n) {
        if (n == 4) w.form->Cmdgouseistop_Click();
    };
    w.form->Text6->setText("2");
    const int before_run = w.platform.beeps;
    w.form->CmdGosei_Click();
    EXPECT_EQ(w.platform.beeps - before_run, 3 * 2);  // three blend cycles of two steps
    EXPECT_EQ(w.form->gosei_fresh, 2);
    EXPECT_TRUE(w.form->CmdGosei->isEnabled());
    const QImage& composite = w.form->Picture3->surface().image();
    int clip_pixels = 0;  // the clip's field is dark: the white background is covered
    for (int y = 0; y < 236; ++y)
        for (int x = 0; x < 316; ++x) clip_pixels += composite.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_GT(clip_pixels, 316 * 236 * 9 / 10);

    // The window stays usable: another clip opens.
    const QString other = good_clip(QStringLiteral("other.avi"));
    w.open(other);
    EXPECT_EQ(w.form->Label1->text(), other);
    EXPECT_EQ(w.service.device("avfile")->length(), kFrames);
}

TEST_F(BadFiles, FileTruncatedWhileOpenAndPlaying) {
    Session s;
    // Large enough that the frames past the cut are not in the reader's buffer already.
    const QString p = good_clip(QStringLiteral("big.avi"), 640, 480);
    const QByteArray bytes = read_file(p);
    ASSERT_EQ(s.open(p).rc, 0);
    ASSERT_EQ(s.send("play avfile").rc, 0);
    // Another program cuts the file short while it plays: frames 10 on are gone.
    const qsizetype cut = video_chunks(bytes)[kFirstDamaged];
    ASSERT_TRUE(QFile::resize(p, cut));
    expect_refusal(s.send("seek avfile to 15"), MediaError::DecodeFailed);
    const int at = position(s);
    EXPECT_GE(at, 0);
    EXPECT_LT(at, kFirstDamaged);
    EXPECT_EQ(s.send("seek avfile to 9").rc, 0);
    EXPECT_EQ(shown_frame(s, "avfile", kBig), 9);
    expect_refusal(s.send("step avfile"), MediaError::DecodeFailed);
    EXPECT_EQ(position(s), 9);
    EXPECT_EQ(s.send("play avfile").rc, 0);
    EXPECT_EQ(s.send("step avfile reverse").rc, 0);
    EXPECT_EQ(shown_frame(s, "avfile", kBig), 8);
    EXPECT_EQ(s.send("close avfile").rc, 0);
    // What is left of the file still opens; its missing frames fail the same way.
    ASSERT_EQ(s.open(p).rc, 0);
    EXPECT_EQ(s.send("seek avfile to 9").rc, 0);
    expect_refusal(s.send("seek avfile to 12"), MediaError::DecodeFailed);
}

TEST_F(BadFiles, FileDeletedWhileOpenAndPlaying) {
    Session s;
    const QString p = good_clip(QStringLiteral("big.avi"), 640, 480);
    ASSERT_EQ(s.open(p).rc, 0);
    ASSERT_EQ(s.send("play avfile").rc, 0);
    ASSERT_TRUE(QFile::remove(p));
    // The open file keeps its data until it is closed: nothing is lost.
    EXPECT_EQ(s.send("seek avfile to 15").rc, 0);
    EXPECT_EQ(shown_frame(s, "avfile", kBig), 15);
    EXPECT_EQ(s.send("seek avfile to 19").rc, 0);
    EXPECT_EQ(shown_frame(s, "avfile", kBig), 19);
    EXPECT_EQ(s.send("step avfile reverse").rc, 0);
    EXPECT_EQ(shown_frame(s, "avfile", kBig), 18);
    EXPECT_EQ(s.send("close avfile").rc, 0);
    expect_refusal(s.open(p), MediaError::FileNotFound);
}

// The rules that make damaged frames fail must leave whole files alone: the field clips
// (null frames, B-frames, a header total larger than the index, audio) answer every
// step and seek with 0.
TEST(DamageRules, WholeClipsFromTheFieldReachEveryFrame) {
    const QByteArray env = qgetenv("TAMBREL_CLIPS");
    const QDir clips(env.isEmpty() ? QStringLiteral(TAMBREL_SOURCE_DIR "/../shared/clips")
                                   : QString::fromLocal8Bit(env));
    const QStringList files = clips.entryList({"*.avi"}, QDir::Files, QDir::Name);
    if (files.isEmpty()) GTEST_SKIP() << "no field clips in " << clips.path().toStdString();
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        Session s;
        ASSERT_EQ(s.open(clips.filePath(name)).rc, 0);
        const int length = s.send("status avfile length").reply.toInt();
        ASSERT_GT(length, 0);
        int failures = 0;
        for (int k = 1; k < length; ++k) failures += s.send("step avfile").rc != 0;
        EXPECT_EQ(position(s), length - 1);
        for (int k = 1; k < length; ++k) failures += s.send("step avfile reverse").rc != 0;
        EXPECT_EQ(position(s), 0);
        for (const int n : {length - 1, length, length / 2, 0})
            failures += s.send(QStringLiteral("seek avfile to %1").arg(n)).rc != 0;
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(s.platform.beeps, 0);
    }
}
