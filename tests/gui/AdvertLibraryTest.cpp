// The house advertising library advert.so, driven through the banner.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

#include "AdTestHelpers.h"
#include "components/AdImage.h"

using namespace quorvel;

namespace {

constexpr QRgb kTitleColour = 0xFFFFFFFF;
constexpr QRgb kLineColour = 0xFFFFD66B;
constexpr QRgb kBorderColour = 0xFF0A1F3D;

class AdvertLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent_.resize(800, 600);
        parent_.show();
    }
    std::unique_ptr<TAdImage> make() {
        auto banner = std::make_unique<TAdImage>(&parent_, dialogs_, adtest::advertLibrary());
        banner->setRefreshInterval(0);
        banner->show();
        return banner;
    }
    static int countColour(const QImage& image, QRgb colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour;
        return n;
    }

    QWidget parent_;
    adtest::AssertionDialogs dialogs_;
};

// Children of this process that have ended but were never waited for.
int zombieChildren() {
    int zombies = 0;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* e = readdir(proc)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QLatin1String(e->d_name)));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] == "Z" && fields[1].toLongLong() == getpid())
            ++zombies;
    }
    closedir(proc);
    return zombies;
}

}  // namespace

TEST_F(AdvertLibraryTest, PaintsTheHouseBannerAtEverySizeStartedOrNot) {
    auto b = make();
    ASSERT_TRUE(dialogs_.assertions.isEmpty()) << dialogs_.assertions.join("|").toStdString();
    for (bool started : {false, true}) {
        if (started) b->loaded();
        ASSERT_EQ(b->isStarted(), started);
        for (int i = 0; i < kAdImageSizeCount; ++i) {
            const auto size = static_cast<TAdImageSize>(i);
            b->setAdSize(size);
            const QImage shot = b->grab().toImage();
            const AdDimensions d = adDimensions(size);
            SCOPED_TRACE(testing::Message() << d.width << "x" << d.height);
            ASSERT_EQ(shot.size(), QSize(d.width, d.height));
            EXPECT_EQ(shot.pixel(0, 0), kBorderColour);
            EXPECT_EQ(shot.pixel(d.width - 1, d.height - 1), kBorderColour);
            // The name and the line are both there, whatever the size.
            EXPECT_GT(countColour(shot, kTitleColour), 30);
            EXPECT_GT(countColour(shot, kLineColour), 30);
            // A gradient: the inside is not one flat colour.
            EXPECT_NE(shot.pixel(d.width / 2, 2), shot.pixel(d.width / 2, d.height - 2));
        }
    }
}

TEST_F(AdvertLibraryTest, ReportsEachNewLineOnceFromInsideAPaint) {
    auto b = make();
    QSignalSpy counted(b.get(), &TAdImage::adCounted);
    b->setMinimumAdDisplayTime(1);  // seconds
    b->loaded();
    ASSERT_TRUE(b->isStarted());
    EXPECT_EQ(counted.count(), 0);
    for (int i = 0; i < 3; ++i) QApplication::processEvents();  // the start's repaint
    EXPECT_EQ(counted.count(), 1);  // the first line, now shown

    const QImage first = b->grab().toImage();
    EXPECT_EQ(b->grab().toImage(), first);
    EXPECT_EQ(counted.count(), 1);

    // Time passing alone changes nothing: the library acts only while painting.
    QThread::msleep(1100);
    QApplication::processEvents();
    EXPECT_EQ(counted.count(), 1);

    const QImage second = b->grab().toImage();
    EXPECT_EQ(counted.count(), 2);
    EXPECT_NE(second, first);
    b->grab();
    EXPECT_EQ(counted.count(), 2);
}

TEST_F(AdvertLibraryTest, KeepsTheNetworkStateItIsToldAndReportsItsStatus) {
    auto b = make();
    EXPECT_TRUE(b->status().empty());
    b->loaded();
    EXPECT_FALSE(b->networkIsUp());
    EXPECT_EQ(b->status(), TAdStatusSet{TAdStatus::adiIdle});
    b->setNetworkIsUp(true);
    EXPECT_TRUE(b->networkIsUp());
    EXPECT_EQ(b->status(), (TAdStatusSet{TAdStatus::adiIdle, TAdStatus::adiNetworkIsUp}));
    b->setNetworkIsUp(false);
    EXPECT_FALSE(b->networkIsUp());
}

TEST_F(AdvertLibraryTest, ClickOpensTheHelpPageDetachedWithoutLeavingZombies) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString opened = bin.filePath(QStringLiteral("opened"));
    {
        // A stand-in for xdg-open that notes what it was given and lingers.
        QFile script(bin.filePath(QStringLiteral("xdg-open")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nexec >/dev/null 2>&1\nprintf '%s' \"$1\" > '%1.tmp'\nmv '%1.tmp' '%1'\n"
                                    "sleep 3\n").arg(opened).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ":" + oldPath);
    const QString page = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath() +
                         QStringLiteral(".html");

    auto b = make();
    b->loaded();
    // Without the help page there is nothing to open.
    ASSERT_FALSE(QFile::exists(page));
    QTest::mouseClick(b.get(), Qt::LeftButton);
    EXPECT_TRUE(b->status().contains(TAdStatus::adiClickHasFailed));

    QFile help(page);
    ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    help.close();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(b.get(), Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 1000) << "the click must not wait for the opener";
    EXPECT_TRUE(b->status().contains(TAdStatus::adiClickHasWorked));
    EXPECT_EQ(zombieChildren(), 0);

    while (!QFile::exists(opened) && clock.elapsed() < 10000) QThread::msleep(20);
    QFile result(opened);
    EXPECT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(result.readAll()), page);
    EXPECT_EQ(zombieChildren(), 0);

    QFile::remove(page);
    qputenv("PATH", oldPath);
}
