// Typing into real browsers under a window manager: the engine over the XTest layer
// against `xdotool type --delay 0`, into the same textarea of the same page, run after run
// in turns.  A rate counts the characters over the time until the page holds the whole
// text; "exact" says whether it ever did (--settle: how long the page may show no change
// before the text counts as lost).  --cjk N types ASCII words with N distinct CJK
// characters among them; the keycodes lent say how often the keymap changed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BenchTexts.h"
#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/XTestKeyboard.h"
#include "support/DesktopFormServer.h"
#include "support/DesktopSession.h"
#include "typing/core/KeyfillEngine.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace quorvel::test;

// Letters, digits, punctuation, blanks and line breaks, with é ß € 中 Ω now and then.
// No braces: the text must mean the same to the engine and to xdotool.
std::string makeText(std::size_t length) {
    const std::string pool =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:!?-_()@#$%&*+=/'";
    const char* rare[] = {"\xC3\xA9", "\xC3\x9F", "\xE2\x82\xAC", "\xE4\xB8\xAD", "\xCE\xA9"};
    std::string text;
    unsigned seed = 4242;
    for (std::size_t chars = 0; chars < length; ++chars) {
        seed = seed * 1103515245u + 12345u;
        if (chars % 64 == 63)
            text += '\n';
        else if ((seed >> 8) % 50 == 0)
            text += rare[(seed >> 20) % 5];
        else
            text += pool[(seed >> 16) % pool.size()];
    }
    return text;
}

std::size_t codePoints(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

struct Run {
    double seconds = 0;  // until the page held the whole text, or until it settled
    double sent = 0;     // until the typing call returned
    bool exact = false;
    std::size_t got = 0;  // characters the page held at the end
    std::string firstDifference;
    double growthMiB = 0;  // the browser's memory at the end less at the start
    std::string missingLines;  // the lines of the text not found in the page
};

class BrowserBench {
public:
    BrowserBench(Browser b, std::chrono::seconds settle) : browserKind_(b), settle_(settle) {}

    bool setUp() {
        if (!server_.ok() || !session_.ok()) {
            std::fprintf(stderr, "no desktop: %s %s\n", server_.error().c_str(),
                         session_.error().c_str());
            return false;
        }
        browser_ = session_.startBrowser(browserKind_, server_.textareaUrl());
        if (browser_.window == 0) {
            std::fprintf(stderr, "%s: %s\n", nameOf(browserKind_), browser_.error.c_str());
            return false;
        }
        if (!server_.waitForPage(0, 30s)) return false;
        const auto client = session_.geometry(browser_.window);
        if (!client) return false;
        session_.click(fieldCenter(server_.lastReport(), *client, "t"));
        return server_.waitFor([&] { return server_.lastReport().value("focus") == "t"; }, 10s);
    }

    // Empties the textarea, then types with `type` and waits for `text` to arrive.
    Run measure(const std::string& text, const std::function<void()>& type) {
        session_.activate(browser_.window);
        server_.clearFields();
        server_.waitFor([&] { return server_.lastReport().value("t").empty(); }, 10s);
        const double before = processTreeMiB(browser_.process->pid());
        const auto start = Clock::now();
        type();
        const double sent = std::chrono::duration<double>(Clock::now() - start).count();
        // Done when the page holds the text, or when it has not changed for a while.
        std::string last;
        auto lastChange = Clock::now();
        Run r;
        for (;;) {
            const std::string now = server_.lastReport().value("t");
            if (now == text) {
                r.exact = true;
                break;
            }
            if (now != last) {
                last = now;
                lastChange = Clock::now();
            } else if (Clock::now() - lastChange > settle_) {
                break;
            }
            server_.waitFor([&] { return server_.lastReport().value("t") != last; }, 200ms);
        }
        r.seconds = std::chrono::duration<double>((r.exact ? Clock::now() : lastChange) - start)
                        .count();
        r.sent = sent;
        r.growthMiB = processTreeMiB(browser_.process->pid()) - before;
        r.got = codePoints(server_.lastReport().value("t"));
        // Which of the text's lines never arrived whole: a lost paste is a lost line.
        if (!r.exact) {
            const std::string got = server_.lastReport().value("t");
            std::size_t same = 0;
            while (same < got.size() && same < text.size() && got[same] == text[same]) ++same;
            while (same > 0 && (static_cast<unsigned char>(text[same]) & 0xC0) == 0x80) --same;
            r.firstDifference = "byte " + std::to_string(same) + ": got \"" +
                                got.substr(same, 24) + "\", wanted \"" + text.substr(same, 24) +
                                "\"";
            std::size_t start = 0, line = 0;
            while (start < text.size()) {
                std::size_t end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                if (got.find(text.substr(start, end - start)) == std::string::npos)
                    r.missingLines += " " + std::to_string(line);
                start = end + 1;
                ++line;
            }
        }
        return r;
    }

    const std::string display() const { return session_.display(); }
    DesktopSession& session() { return session_; }

private:
    Browser browserKind_;
    std::chrono::seconds settle_;
    FormServer server_;
    DesktopSession session_{WindowManager::Openbox};
    DesktopSession::BrowserWindow browser_;
};

void printRun(const char* browser, const char* method, int run, std::size_t chars,
              const Run& r) {
    std::printf("%-12s %-26s %4d %8.2f %10.2f %12.0f %8.0f   %-6s %zu/%zu\n", browser, method,
                run, r.sent, r.seconds, chars / r.seconds, r.growthMiB, r.exact ? "yes" : "NO",
                r.got, chars);
    if (!r.missingLines.empty()) std::printf("%-12s lines missing:%s\n", browser, r.missingLines.c_str());
    if (!r.firstDifference.empty())
        std::printf("%-12s first difference at %s\n", browser, r.firstDifference.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    std::size_t length = 3000;
    unsigned cjk = 0;  // distinct CJK characters; 0: the mixed Latin text
    // Seconds without a change after which a text counts as lost: Chromium was seen to
    // report nothing for 28 s while it worked through 10,000 keys, and then be exact.
    int settle = 60;
    bool xdotool = true;
    std::vector<Browser> browsers{Browser::FirefoxEsr, Browser::Chromium};
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-xdotool") xdotool = false;
        if (std::string(argv[i]) == "--chromium") browsers = {Browser::Chromium};
        if (std::string(argv[i]) == "--firefox") browsers = {Browser::FirefoxEsr};
        if (i + 1 == argc) break;
        if (std::string(argv[i]) == "--cjk") cjk = std::strtoul(argv[i + 1], nullptr, 10);
        if (std::string(argv[i]) == "--settle") settle = std::atoi(argv[i + 1]);
        if (std::string(argv[i]) == "--runs") runs = std::atoi(argv[i + 1]);
        if (std::string(argv[i]) == "--chars") length = std::strtoul(argv[i + 1], nullptr, 10);
    }
    const std::string text = cjk ? quorvel::bench::makeCjkText(length, cjk) : makeText(length);
    const std::size_t chars = codePoints(text);
    // xdotool types a line feed as a key browsers ignore and a carriage return as Return.
    std::string forXdotool = text;
    std::replace(forXdotool.begin(), forXdotool.end(), '\n', '\r');

    std::printf("Typing %zu characters into a textarea, Xvfb + openbox, as the desktop user\n",
                chars);
    std::printf("%-12s %-26s %4s %8s %10s %12s %8s   %-6s %s\n", "browser", "method", "run", "sent (s)",
                "arrived (s)", "chars/second", "MiB more", "exact", "arrived");
    bool allExact = true;
    for (Browser b : browsers) {
        BrowserBench bench(b, std::chrono::seconds(settle));
        if (!bench.setUp()) {
            std::printf("%-12s could not be set up\n", nameOf(b));
            allExact = false;
            continue;
        }
        quorvel::XTestKeyboard keyboard(bench.display());
        quorvel::KeyfillEngine engine(keyboard, quorvel::KeyfillHooks{});
        auto typeOurs = [&] {
            const std::size_t before = keyboard.remapCount();
            const std::size_t changesBefore = keyboard.keymapChanges();
            engine.run(text);
            std::printf("%-12s keycodes lent %zu times in %zu keymap changes (%zu spare)\n",
                        nameOf(b), keyboard.remapCount() - before,
                        keyboard.keymapChanges() - changesBefore, keyboard.spareKeycodes());
        };
        auto typeTheirs = [&] { bench.session().xdotoolType(forXdotool, 0); };
        // One of each first, not counted: the browser's first long text is slower.  Long
        // texts skip it: a browser that collapses under one would collapse before the count.
        if (chars <= 5000) {
            bench.measure(text, typeOurs);
            if (xdotool) bench.measure(text, typeTheirs);
        }
        double ours = 0, theirs = 0;
        for (int run = 1; run <= runs; ++run) {
            // In turns, and which goes first alternates, so neither gets the better moments.
            Run a, x;
            if (run % 2 || !xdotool) {
                a = bench.measure(text, typeOurs);
                if (xdotool) x = bench.measure(text, typeTheirs);
            } else {
                x = bench.measure(text, typeTheirs);
                a = bench.measure(text, typeOurs);
            }
            printRun(nameOf(b), "KeyfillEngine + XTest", run, chars, a);
            if (xdotool) printRun(nameOf(b), "xdotool type --delay 0", run, chars, x);
            allExact = allExact && a.exact;
            ours += chars / a.seconds;
            if (xdotool) theirs += chars / x.seconds;
        }
        std::printf("%-12s mean rate: engine %.0f, xdotool %.0f characters/second\n", nameOf(b),
                    ours / runs, theirs / runs);
    }
    return allExact ? 0 : 1;
}
