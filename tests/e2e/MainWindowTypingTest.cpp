// The Type button of the real main window: the target recorded by the window's own timer,
// the script with codes and variables typed through XTest into a real window on Xvfb.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/XTestKeyboard.h"
#include "support/MainFormHarness.h"
#include "support/XvfbServer.h"
#include "typing/core/VariableTable.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(MainWindowTyping, TypeButtonTypesTheScriptIntoTheLastWindowInFront) {
    test::XvfbServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    char tmpl[] = "/tmp/quorvel-mainwindow-XXXXXX";
    const std::filesystem::path dir = mkdtemp(tmpl);
    const std::filesystem::path out = dir / "typed.txt";
    test::ChildProgram target(QUORVEL_BINARY_DIR "/tests/type_target", {out.string()},
                              server.display());
    const unsigned long window = target.waitForWindow(20s);
    ASSERT_NE(window, 0u);

    XTestKeyboard keyboard(server.display());
    X11ActiveWindow active(server.display());
    test::MainFormHarness h;
    h.keyboard = &keyboard;
    h.activeWindow = &active;
    TMainForm& f = h.start();
    test::addItem(f, "Shop", "10/03/2001 10:00");
    f.Items.at(0).Keys = "Dear {First Name},{tab}mail: {email}{enter}\xC3\xA9\xC3\x9F\xE2\x82\xAC"
                         "\xE4\xB8\xAD!{nosuchvar}?";
    f.SelectOneItem(0);
    // The user's values, as the Variables tab stores them.
    for (auto& line : f.VarTable) {
        if (line.rfind("{email}=", 0) == 0) line = "{email}=me@example.com";
        if (line.rfind("{first name}=", 0) == 0) line = "{first name}=Zo\xC3\xAB";
    }

    // Nothing was in front yet: the click types nothing.
    f.KeyfillClick();
    EXPECT_EQ(f.TargetWindow, 0u);

    const std::string expected = "Dear Zo\xC3\xAB,\tmail: me@example.com\n\xC3\xA9\xC3\x9F\xE2\x82\xAC"
                                 "\xE4\xB8\xAD!?";
    int round = 0;
    for (const char* layout : {"us", "de"}) {
        SCOPED_TRACE(layout);
        ASSERT_TRUE(server.setLayout(layout));
        const std::string ack = std::to_string(++round);
        ASSERT_TRUE(target.writeStdin("clear " + ack + "\n"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return slurp(out.string() + ".ack") == ack; }, 10000));
        ASSERT_TRUE(active.activate(window, {}, 2s));
        // The window's own 100 ms timer records the target.
        ASSERT_TRUE(QTest::qWaitFor([&] { return f.TargetWindow == window; }, 5000));
        f.KeyfillClick();
        static_cast<void>(QTest::qWaitFor([&] { return slurp(out) == expected; }, 10000));
        EXPECT_EQ(slurp(out), expected);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvel
