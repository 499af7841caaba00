// The command channel: reply buffer rules, the beep, the error text, and the
// blank-free path form.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "media/module1.h"
#include "media/service/path_codec.h"
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

TEST(CommandPath, RoundTripsOddPathsWithoutBlanks) {
    for (const std::string path :
         {"/tmp/plain.avi", "/tmp/with blank/clip 1.avi", "/tmp/振り子/実験.avi",
          "/tmp/100%/a%20b.avi", "/tmp/tab\there", "/tmp/\x7f\x01"}) {
        const std::string encoded = media::encode_command_path(path);
        EXPECT_EQ(encoded.find(' '), std::string::npos) << encoded;
        for (unsigned char c : encoded) EXPECT_TRUE(c > 0x20 && c < 0x7f) << encoded;
        EXPECT_EQ(media::decode_command_path(encoded), path);
    }
    EXPECT_EQ(media::encode_command_path("/tmp/plain.avi"), "/tmp/plain.avi");
    EXPECT_FALSE(media::decode_command_path("/tmp/bad%2"));
    EXPECT_FALSE(media::decode_command_path("/tmp/bad%zz"));
}

TEST(ShortPath, GivesTheBlankFreeFormOfAnExistingFileAndEmptyOtherwise) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("振り子 の 実験 100%.avi"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString form = Module1::short_path(path);
    ASSERT_FALSE(form.isEmpty());
    EXPECT_FALSE(form.contains(' '));
    EXPECT_EQ(media::decode_command_path(form.toStdString()), QFile::encodeName(path).toStdString());
    EXPECT_EQ(Module1::short_path(dir.filePath("missing.avi")), "");
    EXPECT_EQ(Module1::short_path(""), "");
    // A form that would not fit the 256-byte buffer is empty, as for a missing file.
    const QString deep = dir.filePath(QString(60, QChar(0x632F)));  // 60 x 振 = 540 bytes encoded
    QFile g(deep);
    if (g.open(QIODevice::WriteOnly)) {
        g.close();
        EXPECT_EQ(Module1::short_path(deep), "");
    }
}
