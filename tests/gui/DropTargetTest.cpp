#include "components/DropTarget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QVBoxLayout>

#include "components/core/DropData.h"
#include "model/Errors.h"

using namespace quorvel;

namespace {

QByteArray utf16le(const QString& s) {
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}

constexpr Qt::DropActions kBrowserActions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

struct Dropped {
    QString url;
    QString title;
    int effect = 0;
};

class DropTargetTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.setObjectName(QStringLiteral("MainForm"));
        auto* layout = new QVBoxLayout(&window);
        entries = new QListWidget(&window);
        url = new QLineEdit(&window);
        layout->addWidget(entries);
        layout->addWidget(url);
        target.OnEnter = [this](TDropTarget&, Qt::KeyboardModifiers, QPoint, int&) {
            ++enters;
            urlAtEnter = target.URL();
        };
        target.OnLeave = [this](TDropTarget&, Qt::KeyboardModifiers, QPoint, int&) { ++leaves; };
        target.OnDrop = [this](TDropTarget&, Qt::KeyboardModifiers, QPoint point, int& effect) {
            drops.push_back({target.URL(), target.Title(), effect});
            dropPoint = point;
        };
        target.Register(&window);
    }

    // Enter, one move and the drop, as Qt delivers them to the widget under the cursor.
    // Returns the effect the drop was answered with.
    int dragAndDrop(QWidget* onto, const QMimeData& mime, Qt::DropActions actions = kBrowserActions,
                    Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QDragEnterEvent enter(QPoint(3, 4), actions, &mime, Qt::LeftButton, mods);
        QCoreApplication::sendEvent(onto, &enter);
        enterAnswer = enter.isAccepted() ? int(enter.dropAction()) : 0;
        QDragMoveEvent move(QPoint(3, 4), actions, &mime, Qt::LeftButton, mods);
        QCoreApplication::sendEvent(onto, &move);
        QDropEvent drop(QPointF(3, 4), actions, &mime, Qt::LeftButton, mods);
        QCoreApplication::sendEvent(onto, &drop);
        return drop.isAccepted() ? int(drop.dropAction()) : 0;
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QWidget window;
    QListWidget* entries = nullptr;
    QLineEdit* url = nullptr;
    TDropURLTarget target;
    QTemporaryDir dir;
    std::vector<Dropped> drops;
    int enters = 0;
    int leaves = 0;
    int enterAnswer = 0;
    QString urlAtEnter;
    QPoint dropPoint;
};

TEST_F(DropTargetTest, BrowserLinkOnAnEditBoxGivesAddressAndTitleWhole) {
    QMimeData mime;
    const QString title = QStringLiteral("Win a trip to Z\u00fcrich.url");
    mime.setData(QStringLiteral("text/x-moz-url"),
                 utf16le(QStringLiteral("http://contest.example/enter?id=7\n") + title));
    mime.setData(QStringLiteral("text/uri-list"), "http://contest.example/enter?id=7\r\n");
    mime.setText(QStringLiteral("http://contest.example/enter?id=7"));

    EXPECT_EQ(dragAndDrop(url, mime), int(Qt::LinkAction));
    EXPECT_EQ(enterAnswer, int(Qt::LinkAction));
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].url, QStringLiteral("http://contest.example/enter?id=7"));
    EXPECT_EQ(drops[0].title, title);
    EXPECT_EQ(drops[0].effect, int(Qt::LinkAction));
    EXPECT_EQ(urlAtEnter, drops[0].url);  // fetched when the drag came in
    EXPECT_EQ(url->text(), QString());    // the edit box did not take the text itself
    EXPECT_EQ(dropPoint, url->mapTo(&window, QPoint(3, 4)));
    EXPECT_EQ(target.URL(), QString());   // cleared after the drop
}

TEST_F(DropTargetTest, LinkWithoutTitleIsNamedByItsAddress) {
    QMimeData mime;
    mime.setData(QStringLiteral("_NETSCAPE_URL"), "http://only.example/");
    EXPECT_EQ(dragAndDrop(&window, mime), int(Qt::LinkAction));
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].url, QStringLiteral("http://only.example/"));
    EXPECT_EQ(drops[0].title, QStringLiteral("http://only.example/"));
}

TEST_F(DropTargetTest, ShortcutFilesFromAFileManager) {
    const QString named = writeFile(QStringLiteral("Shortcut to Free Stuff.url"),
                                    "[InternetShortcut]\r\nURL=http://free.example/\r\n");
    const QString otherKey = writeFile(QStringLiteral("Other.url"),
                                       "[InternetShortcut]\r\nWorkingDirectory=C:\\x\r\n");
    QMimeData first;
    first.setUrls({QUrl::fromLocalFile(named)});
    first.setText(named);  // file managers offer the path as text too
    EXPECT_EQ(dragAndDrop(entries->viewport(), first), int(Qt::LinkAction));
    QMimeData second;
    second.setUrls({QUrl::fromLocalFile(otherKey)});
    dragAndDrop(entries, second);

    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[0].url, QStringLiteral("http://free.example/"));
    EXPECT_EQ(drops[0].title, QStringLiteral("Shortcut to Free Stuff"));
    EXPECT_EQ(proposedItemName(drops[0].title.toStdString()), "Free Stuff");
    EXPECT_EQ(drops[1].url, QStringLiteral("C:\\x"));
    EXPECT_EQ(drops[1].title, QStringLiteral("Other"));
}

TEST_F(DropTargetTest, FileThatIsNoShortcutStillDropsWithNothingFound) {
    const QString path = writeFile(QStringLiteral("notes.txt"), "URL=http://not.example/\r\n");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    dragAndDrop(&window, mime);
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].url, QString());
    EXPECT_EQ(proposedItemName(drops[0].title.toStdString()), "");
}

TEST_F(DropTargetTest, SourceAllowingOnlyCopyIsRefused) {
    QMimeData mime;
    mime.setData(QStringLiteral("text/x-moz-url"), utf16le(QStringLiteral("http://a/\nA")));
    EXPECT_EQ(dragAndDrop(url, mime, Qt::CopyAction), 0);
    EXPECT_EQ(enterAnswer, 0);
    EXPECT_TRUE(drops.empty());
    EXPECT_EQ(url->text(), QString());
    // Shift+Ctrl asks for a link, which the source still does not allow.
    EXPECT_EQ(dragAndDrop(url, mime, Qt::CopyAction | Qt::MoveAction,
                          Qt::ShiftModifier | Qt::ControlModifier),
              0);
    EXPECT_TRUE(drops.empty());
}

TEST_F(DropTargetTest, DragWithoutLinkFormatsIsRefused) {
    QMimeData mime;
    mime.setData(QStringLiteral("image/png"), "\x89PNG");
    EXPECT_EQ(dragAndDrop(&window, mime), 0);
    EXPECT_EQ(enters, 0);
    EXPECT_TRUE(drops.empty());
}

TEST_F(DropTargetTest, CrossingChildWidgetsIsOneDrag) {
    QMimeData mime;
    mime.setData(QStringLiteral("_NETSCAPE_URL"), "http://x/\nX");
    QDragEnterEvent enterList(QPoint(1, 1), kBrowserActions, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(entries, &enterList);
    QDragLeaveEvent leaveList;
    QCoreApplication::sendEvent(entries, &leaveList);
    QDragEnterEvent enterEdit(QPoint(1, 1), kBrowserActions, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(url, &enterEdit);
    QCoreApplication::processEvents();
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(leaves, 0);
    EXPECT_TRUE(enterEdit.isAccepted());
    EXPECT_EQ(target.DataObject(), &mime);

    QDragLeaveEvent leaveEdit;
    QCoreApplication::sendEvent(url, &leaveEdit);
    QCoreApplication::processEvents();
    EXPECT_EQ(leaves, 1);
    EXPECT_EQ(target.DataObject(), nullptr);
}

TEST_F(DropTargetTest, WidgetsAddedLaterAreCoveredButOtherWindowsAreNot) {
    auto* later = new QLineEdit(&window);
    QMimeData mime;
    mime.setData(QStringLiteral("_NETSCAPE_URL"), "http://later/");
    EXPECT_EQ(dragAndDrop(later, mime), int(Qt::LinkAction));
    EXPECT_EQ(later->text(), QString());

    auto* dialog = new QDialog(&window);
    auto* edit = new QLineEdit(dialog);
    QDragEnterEvent enter(QPoint(1, 1), kBrowserActions, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(edit, &enter);
    EXPECT_EQ(enters, 1);  // only the first drop's
    EXPECT_EQ(drops.size(), 1u);
}

TEST_F(DropTargetTest, RegisterAndUnregister) {
    TDropURLTarget other;
    const auto failure = [](auto&& call) {
        try {
            call();
        } catch (const QuorvelError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(failure([&] { other.Register(&window); }), "Failed to Register MainForm");
    EXPECT_EQ(failure([&] { other.Register(nullptr); }), "Failed to Register ");
    EXPECT_EQ(failure([&] { target.Register(&window); }), "");  // already its own

    target.Unregister();
    EXPECT_EQ(target.RegisteredWindow(), nullptr);
    EXPECT_FALSE(window.acceptDrops());
    QMimeData mime;
    mime.setText(QStringLiteral("typed"));
    dragAndDrop(url, mime, Qt::CopyAction);
    EXPECT_EQ(enters, 0);
    EXPECT_EQ(url->text(), QStringLiteral("typed"));  // the edit box has its drops back

    other.Register(&window);
    EXPECT_EQ(other.RegisteredWindow(), &window);
    other.Unregister();
    target.Register(&window);  // kept for TearDown's destructor
}

}  // namespace
