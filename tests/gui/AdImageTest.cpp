// The banner against a recording stand-in of advert.so: which entry points it calls,
// in which order and with which arguments.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "AdTestHelpers.h"
#include "components/AdImage.h"

using namespace quorvel;
using adtest::AssertionDialogs;

namespace {

const char* const kSwitches[] = {"ADVERT_RECORDER_FAIL", "ADVERT_RECORDER_STATE",
                                 "ADVERT_RECORDER_STATUS", "ADVERT_RECORDER_FIRE"};

class AdImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        log_ = dir_.filePath(QStringLiteral("calls.log"));
        qputenv("ADVERT_RECORDER_LOG", QFile::encodeName(log_));
        for (const char* name : kSwitches) qunsetenv(name);
        parent_.resize(800, 600);
        parent_.show();
    }
    void TearDown() override {
        for (const char* name : kSwitches) qunsetenv(name);
        qunsetenv("ADVERT_RECORDER_LOG");
    }

    std::unique_ptr<TAdImage> make(const QString& library = adtest::recorderLibrary()) {
        auto banner = std::make_unique<TAdImage>(&parent_, dialogs_, library);
        banner->setRefreshInterval(0);
        banner->show();
        return banner;
    }
    QStringList calls() const {
        QFile f(log_);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList callsWithout(const QString& prefix) const {
        QStringList out;
        for (const QString& c : calls())
            if (!c.startsWith(prefix)) out << c;
        return out;
    }
    void clearLog() { QFile::remove(log_); }
    // Lets pending paints happen; the banner's refresh timer is off.
    static void settle() {
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
    }
    static QString self(const TAdImage& b) {
        return QString::number(reinterpret_cast<intptr_t>(&b));
    }
    static QStringList registrations(const TAdImage& b) {
        return {"_SetCallback B1 fn " + self(b), "_SetNetworkCallback B1 fn " + self(b),
                "_SetAdRecordedCallback B1 fn " + self(b)};
    }

    QTemporaryDir dir_;
    QString log_;
    QWidget parent_;
    AssertionDialogs dialogs_;
};

}  // namespace

TEST_F(AdImageTest, CreationLooksUpEveryEntryPointAndCallsNone) {
    auto b = make();
    EXPECT_TRUE(dialogs_.assertions.isEmpty()) << dialogs_.assertions.join("|").toStdString();
    EXPECT_TRUE(b->isLibraryLoaded());
    EXPECT_FALSE(b->isStarted());
    EXPECT_EQ(b->size(), QSize(468, 60));
    EXPECT_EQ(b->adSize(), TAdImageSize::ADS468x60);
    EXPECT_TRUE(b->autoLoad());
    EXPECT_TRUE(b->options().empty());
    EXPECT_EQ(b->programID(), 0);
    EXPECT_EQ(b->bandwidthThrottle(), 2147483647);
    EXPECT_EQ(b->minimumAdDisplayTime(), 0);
    EXPECT_EQ(b->toolTip(), QStringLiteral("Please click to visit our sponsor"));
    EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(b->networkIsUp());
    EXPECT_TRUE(calls().isEmpty()) << calls().join("|").toStdString();
}

TEST_F(AdImageTest, StartPassesTheSettingsAndRegistersInOrderThenRepaints) {
    auto b = make();
    b->setProgramID(145);
    b->setOptions({TAdOption::adoNoConnect, TAdOption::adoDelayedStartup});
    b->setAdSize(TAdImageSize::ADS234x60);
    b->setBandwidthThrottle(1000);
    b->setMinimumAdDisplayTime(7);
    settle();
    clearLog();
    b->loaded();
    EXPECT_TRUE(b->isStarted());
    QStringList expected{"_Startup B1 M 0 145 6 5"};
    expected << registrations(*b) << "_SetBandwidthThrottle B1 1000"
             << "_SetMinimumAdDisplayTime B1 7";
    EXPECT_EQ(calls(), expected);

    settle();
    EXPECT_EQ(calls().mid(expected.size()), QStringList{"_Paint B1 234x60/936 0 0"});

    clearLog();
    b->loaded();  // only the first time counts
    settle();
    EXPECT_TRUE(calls().isEmpty());

    b.reset();
    EXPECT_EQ(calls(), QStringList{"_Shutdown B1"});
}

TEST_F(AdImageTest, AllOptionsGiveAnAllOnesWordAndReadBackAsEveryOption) {
    auto b = make();
    b->setOptions({TAdOption::adoAll});
    EXPECT_EQ(b->options(), (TAdOptions{TAdOption::adoNoConnect, TAdOption::adoNoDialOnDemand,
                                        TAdOption::adoDelayedStartup, TAdOption::adoAll}));
    b->loaded();
    ASSERT_FALSE(calls().isEmpty());
    EXPECT_EQ(calls().first(), QStringLiteral("_Startup B1 M 0 0 1 4294967295"));
}

TEST_F(AdImageTest, SettingsBeforeStartAreStoredOrDroppedAndReachTheLibraryAfter) {
    qputenv("ADVERT_RECORDER_STATE", "1");
    auto b = make();
    b->setBandwidthThrottle(5);
    b->setMinimumAdDisplayTime(9);
    b->setNetworkIsUp(true);
    EXPECT_FALSE(b->networkIsUp());
    EXPECT_TRUE(callsWithout("_Paint").isEmpty());

    b->loaded();
    EXPECT_TRUE(calls().contains("_SetBandwidthThrottle B1 5"));
    EXPECT_TRUE(calls().contains("_SetMinimumAdDisplayTime B1 9"));
    EXPECT_FALSE(calls().join("|").contains("_SetNetworkState"));
    clearLog();

    EXPECT_TRUE(b->networkIsUp());
    b->setNetworkIsUp(true);
    b->setNetworkIsUp(false);
    b->setBandwidthThrottle(77);
    b->setMinimumAdDisplayTime(0);
    EXPECT_EQ(callsWithout("_Paint"),
              (QStringList{"_IsConnectOkay B1 ptr", "_SetNetworkState B1 -1",
                           "_SetNetworkState B1 0", "_SetBandwidthThrottle B1 77",
                           "_SetMinimumAdDisplayTime B1 0"}));

    qputenv("ADVERT_RECORDER_STATE", "0");
    EXPECT_FALSE(b->networkIsUp());
    qputenv("ADVERT_RECORDER_STATE", "1");
    qputenv("ADVERT_RECORDER_FAIL", "_IsConnectOkay");
    EXPECT_FALSE(b->networkIsUp());
}

TEST_F(AdImageTest, StatusAsksTheLibraryOnEveryReadEvenBeforeStart) {
    qputenv("ADVERT_RECORDER_STATUS", "0x1203");
    auto b = make();
    clearLog();
    using T = TAdStatus;
    const TAdStatusSet expected{T::adiWinsockStarted, T::adiNetworkIsUp, T::adiClickHasWorked,
                                T::adiIdle};
    EXPECT_EQ(b->status(), expected);
    EXPECT_EQ(b->status(), expected);
    EXPECT_EQ(callsWithout("_Paint"), (QStringList{"_GetStatus B1 ptr 0", "_GetStatus B1 ptr 0"}));
}

TEST_F(AdImageTest, PaintHandsTheBitmapToTheLibraryAndShowsWhatItDrew) {
    auto b = make();
    b->setAutoLoad(false);
    b->loaded();  // starts nothing
    QImage shot = b->grab().toImage();
    EXPECT_EQ(calls(), QStringList{"_Paint B1 468x60/1872 0 0"});
    ASSERT_EQ(shot.size(), QSize(468, 60));
    EXPECT_EQ(shot.pixel(0, 0), 0xFF336699u);
    EXPECT_EQ(shot.pixel(467, 59), 0xFF336699u);

    b->setAdSize(TAdImageSize::ADS88x31);
    clearLog();
    shot = b->grab().toImage();
    EXPECT_EQ(calls(), QStringList{"_Paint B1 88x31/352 0 0"});
    EXPECT_EQ(shot.size(), QSize(88, 31));
}

TEST_F(AdImageTest, ClickFiresClickedFirstThenTheLibraryAndADoubleClickIsTwoClicks) {
    auto b = make();
    b->loaded();
    settle();
    clearLog();
    QStringList seenAtClicked;
    QObject::connect(b.get(), &TAdImage::clicked, [&] { seenAtClicked << calls().join("|"); });

    QTest::mouseClick(b.get(), Qt::LeftButton);
    EXPECT_EQ(seenAtClicked, QStringList{""});
    EXPECT_EQ(callsWithout("_Paint"), QStringList{"_OnClick B1"});

    // What a double click delivers: press, release, double-click press, release.
    clearLog();
    seenAtClicked.clear();
    QTest::mouseClick(b.get(), Qt::LeftButton);
    QTest::mouseDClick(b.get(), Qt::LeftButton);
    QTest::mouseRelease(b.get(), Qt::LeftButton);
    EXPECT_EQ(seenAtClicked.size(), 2);
    EXPECT_EQ(callsWithout("_Paint"), (QStringList{"_OnClick B1", "_OnClick B1"}));

    // A press that is released outside, or another button, is no click.
    clearLog();
    QTest::mousePress(b.get(), Qt::LeftButton);
    QTest::mouseRelease(b.get(), Qt::LeftButton, {}, QPoint(600, 30));
    QTest::mouseClick(b.get(), Qt::RightButton);
    EXPECT_TRUE(callsWithout("_Paint").isEmpty());
    EXPECT_EQ(seenAtClicked.size(), 2);
}

TEST_F(AdImageTest, FailedStartupStopsThereButPaintClickAndStatusStillCall) {
    qputenv("ADVERT_RECORDER_FAIL", "_Startup");  // nonzero, but low 16 bits clear
    auto b = make();
    settle();
    clearLog();
    b->loaded();
    settle();
    EXPECT_FALSE(b->isStarted());
    EXPECT_EQ(calls(), QStringList{"_Startup B1 M 0 0 1 0"});  // and no repaint

    clearLog();
    b->grab();
    QTest::mouseClick(b.get(), Qt::LeftButton);
    b->status();
    EXPECT_FALSE(b->networkIsUp());
    b->setNetworkIsUp(true);
    b->setBandwidthThrottle(1);
    b.reset();
    EXPECT_EQ(calls(), (QStringList{"_Paint B1 468x60/1872 0 0", "_OnClick B1",
                                    "_GetStatus B1 ptr 0"}));
}

TEST_F(AdImageTest, FailedRegistrationSkipsTheRestButTheBannerCountsAsStarted) {
    qputenv("ADVERT_RECORDER_FAIL", "_SetNetworkCallback");
    auto b = make();
    settle();
    clearLog();
    b->loaded();
    EXPECT_TRUE(b->isStarted());
    QStringList expected{"_Startup B1 M 0 0 1 0"};
    expected << registrations(*b).mid(0, 2);
    EXPECT_EQ(calls(), expected);
    settle();
    EXPECT_EQ(calls().mid(expected.size()), QStringList{"_Paint B1 468x60/1872 0 0"});

    clearLog();
    b->setBandwidthThrottle(3);
    b.reset();
    EXPECT_EQ(calls(), (QStringList{"_SetBandwidthThrottle B1 3", "_Shutdown B1"}));
}

TEST_F(AdImageTest, FailedLimitAtStartSkipsOnlyWhatFollows) {
    qputenv("ADVERT_RECORDER_FAIL", "_SetBandwidthThrottle");
    auto b = make();
    b->loaded();
    QStringList expected{"_Startup B1 M 0 0 1 0"};
    expected << registrations(*b) << "_SetBandwidthThrottle B1 2147483647";
    EXPECT_EQ(callsWithout("_Paint"), expected);
    EXPECT_TRUE(b->isStarted());
}

TEST_F(AdImageTest, CallbacksBecomeSignalsAndARepaint) {
    qputenv("ADVERT_RECORDER_FIRE", "adrecorded,network,adrecorded,repaint");
    auto b = make();
    QSignalSpy counted(b.get(), &TAdImage::adCounted);
    QSignalSpy network(b.get(), &TAdImage::networkRequest);
    b->loaded();
    settle();
    EXPECT_EQ(counted.count(), 2);  // once per reported ad
    EXPECT_EQ(network.count(), 1);
    const QStringList log = calls();
    const qsizetype fired = log.indexOf("callback repaint " + self(*b));
    ASSERT_GE(fired, 0) << log.join("|").toStdString();
    EXPECT_TRUE(log.mid(fired + 1).contains("_Paint B1 468x60/1872 0 0"))
        << "the repaint callback must lead to another paint";
    EXPECT_TRUE(log.contains("callback adrecorded " + self(*b)));
}

TEST_F(AdImageTest, MissingLibraryGivesOneLoadBoxSixteenLookupBoxesAndNoCall) {
    auto b = make(dir_.filePath(QStringLiteral("advert.so")));
    QStringList expected{"Couldn't load advert.so"};
    for (int i = 0; i < TAdImage::kEntryCount; ++i)
        expected << QStringLiteral("Couldn't find address of ") +
                        TAdImage::entryName(static_cast<TAdImage::Entry>(i));
    EXPECT_EQ(dialogs_.assertions, expected);
    EXPECT_EQ(dialogs_.assertions.value(1), QStringLiteral("Couldn't find address of _Startup"));
    EXPECT_EQ(dialogs_.assertions.value(16),
              QStringLiteral("Couldn't find address of _debugTriggerEvent"));

    // Everything that would call the library is safe and silent.
    b->loaded();
    EXPECT_FALSE(b->isStarted());
    const QImage shot = b->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(468, 60));
    QTest::mouseClick(b.get(), Qt::LeftButton);
    EXPECT_TRUE(b->status().empty());
    EXPECT_FALSE(b->networkIsUp());
    b->setNetworkIsUp(true);
    b->setBandwidthThrottle(1);
    b.reset();
    EXPECT_EQ(dialogs_.assertions.size(), 17);
}

TEST_F(AdImageTest, ALibraryLackingANeverCalledEntryPointWorksAfterItsBox) {
    auto b = make(adtest::recorderLibrary("_noproxy"));
    EXPECT_EQ(dialogs_.assertions, QStringList{"Couldn't find address of _SetProxy"});
    b->loaded();
    QStringList expected{"_Startup B1 M 0 0 1 0"};
    expected << registrations(*b) << "_SetBandwidthThrottle B1 2147483647"
             << "_SetMinimumAdDisplayTime B1 0";
    EXPECT_EQ(callsWithout("_Paint"), expected);
}

TEST_F(AdImageTest, AMissingRegistrationCountsAsAFailedOne) {
    auto b = make(adtest::recorderLibrary("_nonetcb"));
    EXPECT_EQ(dialogs_.assertions, QStringList{"Couldn't find address of _SetNetworkCallback"});
    b->loaded();
    EXPECT_TRUE(b->isStarted());
    EXPECT_EQ(callsWithout("_Paint"),
              (QStringList{"_Startup B1 M 0 0 1 0", registrations(*b).first()}));
    b.reset();
    EXPECT_EQ(calls().last(), QStringLiteral("_Shutdown B1"));
}

TEST_F(AdImageTest, BoundsSnapToAStandardSizeKeepingThePosition) {
    auto b = make();
    b->resize(300, 50);
    EXPECT_EQ(b->size(), QSize(300, 50));
    EXPECT_EQ(b->adSize(), TAdImageSize::ads300x50);
    b->setGeometry(10, 20, 469, 10);
    EXPECT_EQ(b->geometry(), QRect(10, 20, 468, 60));
    EXPECT_EQ(b->adSize(), TAdImageSize::ADS468x60);
    b->resize(120, 200);
    EXPECT_EQ(b->geometry(), QRect(10, 20, 120, 240));
    b->resize(100, 500);
    EXPECT_EQ(b->geometry(), QRect(10, 20, 88, 31));
    EXPECT_EQ(b->adSize(), TAdImageSize::ADS88x31);
    b->setAdSize(TAdImageSize::ADS125x125);
    EXPECT_EQ(b->geometry(), QRect(10, 20, 125, 125));
    EXPECT_EQ(b->sizeHint(), QSize(125, 125));

    // Hidden banners get no resize events until shown; setBounds snaps at once, and a
    // plain resize is snapped when the banner is shown.
    b->hide();
    b->setBounds(5, 6, 200, 1);
    EXPECT_EQ(b->geometry(), QRect(5, 6, 234, 60));
    b->resize(60, 60);
    b->show();
    EXPECT_EQ(b->size(), QSize(70, 70));

    // The snapped size is the one the library is started with.
    b->loaded();
    EXPECT_EQ(calls().first(), QStringLiteral("_Startup B1 M 0 0 3 0"));
}
