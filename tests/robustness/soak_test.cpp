// Long use: a thousand open/close cycles through the window and five thousand
// composition cycles on a real clip, with the fake clock so that the paced steps end at
// once. Resident memory after warm-up must grow by less than 5 MB. Under the sanitizers
// the figures are only printed (their allocators keep freed memory on purpose) and
// LeakSanitizer checks for leaks at exit instead.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include "avi_bytes.h"
#include "clipgen.h"
#include "media/service/video_device.h"
#include "session.h"

#if defined(__SANITIZE_ADDRESS__)
#define TAMBREL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAMBREL_SANITIZED 1
#endif
#endif

using namespace tambrel;
using namespace tambrel::robustness;

namespace {

constexpr long kGrowthLimitKb = 5 * 1024;

long resident_kb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void check_growth(const char* what, long warm_kb, long end_kb) {
    std::printf("%s: resident %ld kB after warm-up, %ld kB at the end (%+ld kB)\n", what, warm_kb,
                end_kb, end_kb - warm_kb);
    ::testing::Test::RecordProperty("resident_growth_kb", std::to_string(end_kb - warm_kb));
#ifndef TAMBREL_SANITIZED
    EXPECT_LT(end_kb - warm_kb, kGrowthLimitKb) << what;
#endif
}

class Soak : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString clip(const QString& name, int frames) {
        clipgen::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = clipgen::Codec::Mjpeg;
        o.width = 320;
        o.height = 240;
        o.frames = frames;
        const auto error = clipgen::write_clip(o);
        EXPECT_FALSE(error);
        return dir.filePath(name);
    }
};

}  // namespace

TEST_F(Soak, ThousandOpenCloseCycles) {
    const QString a = clip("a.avi", 30), b = clip("b.avi", 12);
    const QString bad = dir.filePath("bad.avi");
    ASSERT_TRUE(write_file(bad, QByteArray("not a clip").repeated(50)));
    Window w;
    constexpr int kCycles = 1000, kWarmUp = 100;
    long warm = 0;
    int refused = 0;
    for (int i = 0; i < kCycles; ++i) {
        if (i == kWarmUp) warm = resident_kb();
        const QString path = i % 2 ? b : a;
        w.open(path);
        ASSERT_EQ(w.form->Label1->text(), path) << "cycle " << i;
        w.form->Command1_Click();  // play, then pause, step, back, a tick and a seek
        w.form->Command2_Click();
        w.form->Command3_Click();
        w.form->Command4_Click();
        w.form->Timer1_Timer();
        w.form->HScroll1_Scroll();
        if (i % 10 == 9) {  // now and then a file that is refused
            w.open(bad);
            ++refused;
        }
        w.form->mnuclose_Click();
        ASSERT_EQ(w.service.device("avfile"), nullptr);
    }
    EXPECT_EQ(w.platform.messages.size(), static_cast<size_t>(refused));
    check_growth("open/close", warm, resident_kb());
}

TEST_F(Soak, FiveThousandCompositionCycles) {
    const QString path = clip("run.avi", 40);
    Window w;
    w.open(path);
    ASSERT_NE(w.service.device("avfile"), nullptr);
    w.form->Command1_Click();
    w.form->Command2_Click();
    w.form->Text6->setText("1");
    w.platform.ms_per_read = 100;  // every read of the clock moves it: paced steps end
    constexpr int kCycles = 5000, kWarmUp = 500;
    long warm = 0;
    w.platform.on_yield = [&](int n) {
        if (n == kWarmUp) warm = resident_kb();
        if (n % 30 == 0) w.form->Cmd_Reserve_Click();  // back to the start: decode again
        if (n == kCycles) w.form->Cmdgouseistop_Click();
    };
    const int beeps = w.platform.beeps;
    w.form->CmdGosei_Click();
    EXPECT_EQ(w.platform.yields, kCycles);
    EXPECT_EQ(w.platform.beeps, beeps);  // no command failed
    EXPECT_EQ(w.form->gosei_fresh, 2);
    EXPECT_EQ(w.platform.clipboard_sets, kCycles);
    check_growth("composition", warm, resident_kb());
}
