// The command channel: reply buffer rules, the beep, the error text, and the one-word
// path form, down to the real service.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "clipgen.h"
#include "window/module1.h"
#include "media/service/path_codec.h"
#include "media/service/service_fixture.h"
#include "support/fake_media_service.h"
#include "support/fake_platform.h"

using namespace tambrel;
using namespace tambrel::testing;

TEST(MciSend, SuccessWithoutAnswerGivesEmptyReply) {
    FakeMediaService service;
    FakePlatform platform;
    Module1 m(service, platform);
    QString reply = "left over";
    EXPECT_EQ(m.mci_send("play avfile window", reply), 0);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(platform.beeps, 0);
    EXPECT_EQ(service.commands, std::vector<std::string>{"play avfile window"});
}

TEST(MciSend, AShorterReplyCarriesNothingOfTheLast) {
    FakeMediaService service;
    FakePlatform platform;
    Module1 m(service, platform);
    service.script["status avfile length"] = {0, "12345"};
    service.script["status avfile position"] = {0, "7"};
    QString reply;
    m.mci_send("status avfile length", reply);
    EXPECT_EQ(reply, "12345");
    m.mci_send("status avfile position", reply);
    EXPECT_EQ(reply, "7");
}

TEST(MciSend, FailureBeepsOnceAndReturnsTheErrorText) {
    FakeMediaService service;
    FakePlatform platform;
    Module1 m(service, platform);
    service.script["close avfile"] = {263, ""};
    service.error_texts[263] = "The device alias is not open.";
    QString reply = "x";
    EXPECT_EQ(m.mci_send("close avfile", reply), 263);
    EXPECT_EQ(reply, "The device alias is not open.");
    EXPECT_EQ(platform.beeps, 1);
}

TEST(MciSend, UnknownErrorCodeLeavesTheEmptyBuffer) {
    FakeMediaService service;
    FakePlatform platform;
    Module1 m(service, platform);
    service.script["bogus"] = {999, ""};
    QString reply = "previous";
    EXPECT_EQ(m.mci_send("bogus", reply), 999);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(platform.beeps, 1);
}

TEST(CommandPath, KeepsTheTextAndEscapesOnlyWhatSplitsACommand) {
    for (const std::string path :
         {"/tmp/plain.avi", "/tmp/with blank/clip 1.avi", "/tmp/振り子/実験.avi",
          "/tmp/100%/a%20b.avi", "/tmp/tab\there", "/tmp/\x7f\x01\n\r", "/tmp/\"quoted\" 'too'"}) {
        const std::string encoded = media::encode_command_path(path);
        for (unsigned char c : encoded) EXPECT_TRUE(c > 0x20 && c != 0x7f) << encoded;
        EXPECT_EQ(media::decode_command_path(encoded), path);
    }
    EXPECT_EQ(media::encode_command_path("/tmp/振り子/実験.avi"), "/tmp/振り子/実験.avi");
    EXPECT_EQ(media::encode_command_path("/a b/100%\t\"x\".avi"), "/a%20b/100%25%09\"x\".avi");
    // Forms that escape every byte still name the same file.
    EXPECT_EQ(media::decode_command_path("/tmp/%E6%8C%AF%E3%82%8A%E5%AD%90"), "/tmp/振り子");
    EXPECT_FALSE(media::decode_command_path("/tmp/bad%2"));
    EXPECT_FALSE(media::decode_command_path("/tmp/bad%zz"));
}

TEST(ShortPath, OpensAnyPathTheFileSystemTakesInTheWindowsFormAndTheTypedOnes) {
    // Several hundred Japanese characters with blanks, '%' and quotes: three times too
    // long for 255 bytes once every byte of a character is escaped.
    QTemporaryDir dir;
    QString folder = dir.path();
    for (const QString& part :
         {QStringLiteral("振り子実験データ"), QStringLiteral("令和六年度 第三学年"),
          QStringLiteral("物理基礎 100% \"周期\" と '振幅'"),
          QStringLiteral("長い名前の振り子の周期測定").repeated(6),
          QStringLiteral("振り子の等時性を確かめる").repeated(6)}) {
        folder += QLatin1Char('/') + part;
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    const QString path =
        folder + "/" + QStringLiteral("振り子の周期測定の動画").repeated(7) + ".avi";
    const std::string bytes = QFile::encodeName(path).toStdString();
    ASSERT_GT(path.size(), 250);
    clipgen::ClipOptions clip;
    clip.path = bytes;
    clip.width = 64;
    clip.height = 48;
    clip.frames = 8;
    ASSERT_EQ(clipgen::write_clip(clip), std::nullopt);

    media::testing::ServiceHarness harness;
    FakePlatform platform;
    Module1 m(harness.service, platform);
    const QString form = Module1::short_path(path);
    EXPECT_FALSE(form.contains(' '));
    EXPECT_LT(form.toUtf8().size(), qsizetype(bytes.size()) + 40);  // three bytes a character
    QString reply;
    EXPECT_EQ(m.mci_send("open " + form + " alias avfile", reply), 0) << reply.toStdString();
    m.mci_send("status avfile length", reply);
    EXPECT_EQ(reply, "8");
    EXPECT_EQ(m.mci_send("close avfile", reply), 0);

    // What a user types into tambrel-mci (the text as it is, %20 for blanks) and the form
    // that escaped every byte outside printable ASCII open the same file.
    std::string typed, every_byte;
    for (const unsigned char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        typed += c == ' ' || c == '%' ? std::string(hex) : std::string(1, char(c));
        every_byte +=
            c <= 0x20 || c >= 0x7f || c == '%' ? std::string(hex) : std::string(1, char(c));
    }
    for (const std::string& word : {typed, every_byte}) {
        EXPECT_EQ(harness.send("open " + word + " alias avfile").rc, 0) << word;
        EXPECT_EQ(harness.send("close avfile").rc, 0);
    }

    // A file that is not there is named all the same, and the service says why.
    const QString missing = folder + QStringLiteral("/ない ファイル.avi");
    EXPECT_EQ(media::decode_command_path(Module1::short_path(missing).toStdString()),
              QFile::encodeName(missing).toStdString());
    EXPECT_EQ(m.mci_send("open " + Module1::short_path(missing) + " alias avfile", reply),
              int32_t(media::MediaError::FileNotFound));
    EXPECT_EQ(Module1::short_path(""), "");
}
