// The glyphs, the icon and the help page are compiled into the program; these tests load
// them as the windows do.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QXmlStreamReader>

// The resources live in a static library: nothing pulls them into a program unless it asks.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace {

const char* const kGlyphs[] = {"checked",          "checkgrn",          "keygrn",
                               "keyboard",         "checked_disabled",  "checkgrn_disabled",
                               "keygrn_disabled",  "keyboard_disabled", "done"};

class ResourcesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initResources(); }
};

bool cornersTransparent(const QImage& image) {
    const int r = image.width() - 1, b = image.height() - 1;
    return qAlpha(image.pixel(0, 0)) == 0 && qAlpha(image.pixel(r, 0)) == 0 &&
           qAlpha(image.pixel(0, b)) == 0 && qAlpha(image.pixel(r, b)) == 0;
}

QImage argb(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }

TEST_F(ResourcesTest, EveryGlyphComesAt16And32PixelsOnATransparentGround) {
    for (const char* name : kGlyphs) {
        const QString base = QStringLiteral(":/glyphs/%1").arg(name);
        const QImage small(base + ".png");
        const QImage large(base + "@2x.png");
        ASSERT_FALSE(small.isNull()) << name;
        ASSERT_FALSE(large.isNull()) << name;
        EXPECT_EQ(small.size(), QSize(16, 16)) << name;
        EXPECT_EQ(large.size(), QSize(32, 32)) << name;
        EXPECT_TRUE(small.hasAlphaChannel()) << name;
        EXPECT_TRUE(cornersTransparent(small)) << name;
        EXPECT_TRUE(cornersTransparent(large)) << name;
    }
}

TEST_F(ResourcesTest, DisabledGlyphsAreGreyAndFainterThanTheirOriginals) {
    for (const char* name : {"checked", "checkgrn", "keygrn", "keyboard"}) {
        for (const char* suffix : {"", "@2x"}) {
            const QImage normal = argb(QImage(QStringLiteral(":/glyphs/%1%2.png").arg(name, suffix)));
            const QImage greyed =
                argb(QImage(QStringLiteral(":/glyphs/%1_disabled%2.png").arg(name, suffix)));
            ASSERT_EQ(normal.size(), greyed.size()) << name << suffix;
            for (int y = 0; y < greyed.height(); ++y) {
                for (int x = 0; x < greyed.width(); ++x) {
                    const QRgb g = greyed.pixel(x, y);
                    ASSERT_TRUE(qRed(g) == qGreen(g) && qGreen(g) == qBlue(g))
                        << name << suffix << " has colour at " << x << "," << y;
                    ASSERT_LE(qAlpha(g), qAlpha(normal.pixel(x, y))) << name << suffix;
                    ASSERT_EQ(qAlpha(g) == 0, qAlpha(normal.pixel(x, y)) == 0) << name << suffix;
                }
            }
        }
    }
}

// Qt chooses the @2x file when the icon is made, by the ratio of the screens. This process
// runs at ratio 1, so the check runs again in a copy of it started at scale factor 2.
TEST_F(ResourcesTest, ScreensAtRatioTwoGetTheDoubleSizeArtwork) {
    const bool child = qEnvironmentVariableIsSet("QUORVEL_RESOURCES_AT_2X");
    if (qApp->devicePixelRatio() < 2.0) {
        ASSERT_FALSE(child) << "scale factor 2 was not applied";
        QProcess copy;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORVEL_RESOURCES_AT_2X", "1");
        env.insert("QT_SCALE_FACTOR", "2");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // The copy must run this one test whatever the caller asked of the parent.
        for (const char* name : {"GTEST_OUTPUT", "GTEST_FILTER", "GTEST_TOTAL_SHARDS",
                                 "GTEST_SHARD_INDEX", "GTEST_SHARD_STATUS_FILE"})
            env.remove(name);
        copy.setProcessEnvironment(env);
        copy.setProcessChannelMode(QProcess::MergedChannels);
        copy.start(QCoreApplication::applicationFilePath(),
                   {"--gtest_filter=ResourcesTest.ScreensAtRatioTwoGetTheDoubleSizeArtwork"});
        ASSERT_TRUE(copy.waitForFinished(60000));
        EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
        const std::string output = copy.readAll().toStdString();
        EXPECT_EQ(copy.exitCode(), 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
        return;
    }
    for (const char* name : {"checked", "checkgrn", "keygrn", "keyboard", "done"}) {
        const QIcon icon(QStringLiteral(":/glyphs/%1.png").arg(name));
        const QPixmap pixmap = icon.pixmap(QSize(16, 16));
        EXPECT_EQ(pixmap.devicePixelRatio(), 2.0) << name;
        EXPECT_EQ(pixmap.size(), QSize(32, 32)) << name;
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(16, 16)) << name;
        const QImage artwork(QStringLiteral(":/glyphs/%1@2x.png").arg(name));
        // Compared premultiplied: a pixmap may hold its pixels so, and the way back to plain
        // ARGB rounds the half-transparent edge pixels.
        EXPECT_EQ(pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  artwork.convertToFormat(QImage::Format_ARGB32_Premultiplied))
            << name << ": not the @2x drawing";
    }
}

TEST_F(ResourcesTest, TheWindowIconIsTheLargestApplicationIcon) {
    const QImage icon(":/icons/quorvel.png");
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(256, 256));
    EXPECT_TRUE(cornersTransparent(icon));
}

QString readHelpPage() {
    QFile file(":/help/quorvel.html");
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

TEST_F(ResourcesTest, TheHelpPageIsWellFormedAndSelfContained) {
    const QString page = readHelpPage();
    ASSERT_FALSE(page.isEmpty());
    QXmlStreamReader xml(page);
    QSet<QString> ids;
    QStringList links;
    int elements = 0, pictures = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        ++elements;
        const QString tag = xml.name().toString();
        EXPECT_NE(tag, "script");
        EXPECT_NE(tag, "link");
        EXPECT_NE(tag, "iframe");
        const auto attributes = xml.attributes();
        if (tag == "img") {
            // Pictures are carried inside the page: the glyphs themselves, kept up to date.
            const QString src = attributes.value("src").toString();
            const QString prefix = "data:image/png;base64,";
            ASSERT_TRUE(src.startsWith(prefix)) << "picture not embedded";
            const QString glyph = attributes.value("data-glyph").toString();
            const QImage shown = QImage::fromData(QByteArray::fromBase64(src.mid(prefix.size()).toLatin1()));
            const QImage artwork(QStringLiteral(":/glyphs/%1@2x.png").arg(glyph));
            ASSERT_FALSE(artwork.isNull()) << glyph.toStdString();
            EXPECT_EQ(argb(shown), argb(artwork))
                << glyph.toStdString() << " differs from the glyph; copy the new drawing in";
            ++pictures;
        } else {
            EXPECT_FALSE(attributes.hasAttribute("src")) << tag.toStdString();
        }
        if (attributes.hasAttribute("id")) {
            const QString id = attributes.value("id").toString();
            EXPECT_FALSE(ids.contains(id)) << "id used twice: " << id.toStdString();
            ids.insert(id);
        }
        if (attributes.hasAttribute("href")) links << attributes.value("href").toString();
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line "
                                 << xml.lineNumber();
    EXPECT_GT(elements, 100);
    EXPECT_EQ(pictures, 4);
    for (const QString& link : links) {
        // Only links within the page: it is opened from disk, perhaps without a network.
        ASSERT_TRUE(link.startsWith('#')) << link.toStdString();
        EXPECT_TRUE(ids.contains(link.mid(1))) << "no target for " << link.toStdString();
    }
    EXPECT_FALSE(page.contains(QRegularExpression("url\\s*\\(|@import")));
}

TEST_F(ResourcesTest, TheHelpPageTeachesTheScriptCodesWithExamples) {
    const QString page = readHelpPage();
    // Worked examples are shown as code blocks with the codes and a variable in them.
    const QRegularExpression example("<pre><code>([^<]*)</code></pre>");
    bool withTab = false, withEmail = false;
    for (auto it = example.globalMatch(page); it.hasNext();) {
        const QString script = it.next().captured(1);
        withTab |= script.contains("{tab}");
        withEmail |= script.contains("{email}");
    }
    EXPECT_TRUE(withTab);
    EXPECT_TRUE(withEmail);
    for (const char* text : {"{enter}", "{up}", "{down}", "{left}", "{right}", "Slow down Type Function",
                             "Quorvel.dat", "Quorvel.bak", "Quorvel.ini", ".var", "15 minutes",
                             "X11", "F3", "Ctrl+N", "Ctrl+S", ".qdf", "Only display new files in list"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(text))) << text;
    EXPECT_FALSE(page.contains("specification", Qt::CaseInsensitive));
}

// The desktop entry is checked with the desktop's own validator where it is installed.
TEST_F(ResourcesTest, TheDesktopEntryValidates) {
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    const QString entry = QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                          "/../../resources/quorvel.desktop";
    if (validator.isEmpty() || !QFile::exists(entry)) GTEST_SKIP() << "no validator or no sources";
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(validator, {entry});
    ASSERT_TRUE(run.waitForFinished(30000));
    const QString output = QString::fromUtf8(run.readAll());
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_FALSE(output.contains("error")) << output.toStdString();
}

}  // namespace
