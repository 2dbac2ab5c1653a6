// Typing on Wayland: the program's Type button (its own Wayland layers) against `wtype`,
// on a headless sway, into the same native Qt edit, the same text, run after run in
// turns.  A rate counts the characters over the time from the click (or from starting
// wtype) until the edit holds the whole text; "exact" says whether it ever did.
//
//   bench_wayland_typing [--runs N] [--chars N] [--target qt|foot] [--cjk N]
// --cjk N: ASCII words with N different CJK characters among them instead of the mixed text.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>

#include "BenchTexts.h"
#include "support/SwayQuorvel.h"
#include "support/SwaySession.h"
#include "support/SwayTargets.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace quorvel::test;

// Letters, digits, punctuation, blanks and line breaks, with é ß € 中 Ω now and then.
// No braces: the text must mean the same to the program and to wtype.
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

// The same text as the program's keystroke script: a line break is the Enter code.
std::string asScript(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("{enter}") : std::string(1, c);
    return out;
}

std::size_t codePoints(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

struct Run {
    double seconds = 0;  // until the target held the whole text, or until it settled
    bool exact = false;
    std::size_t got = 0;
};

Run measure(SwaySession& session, SwayTextTarget& target, const std::string& text,
            const std::function<void()>& type) {
    target.clear();
    session.focus(target.window());
    // The program notes the window in front every 100 ms.
    std::this_thread::sleep_for(250ms);
    const auto start = Clock::now();
    type();
    // Done when the target holds the text, or when it has not changed for 10 s.
    std::string last = target.text();
    auto lastChange = Clock::now();
    Run r;
    for (;;) {
        const std::string now = target.text();
        if (now == text) {
            r.exact = true;
            break;
        }
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        } else if (Clock::now() - lastChange > 10s) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    r.seconds =
        std::chrono::duration<double>((r.exact ? Clock::now() : lastChange) - start).count();
    r.got = codePoints(target.text());
    return r;
}

void printRun(const char* method, int run, std::size_t chars, const Run& r) {
    std::printf("%-30s %4d %10.2f %12.0f   %-6s %zu/%zu\n", method, run, r.seconds,
                chars / r.seconds, r.exact ? "yes" : "NO", r.got, chars);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");  // this process only builds a window to measure
    QApplication app(argc, argv);
    int runs = 3;
    std::size_t length = 2000;
    std::string targetName = "qt";
    unsigned cjk = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--runs") runs = std::atoi(argv[i + 1]);
        if (std::string(argv[i]) == "--chars") length = std::strtoul(argv[i + 1], nullptr, 10);
        if (std::string(argv[i]) == "--target") targetName = argv[i + 1];
        if (std::string(argv[i]) == "--cjk") cjk = std::strtoul(argv[i + 1], nullptr, 10);
    }
    const std::string text = cjk ? quorvel::bench::makeCjkText(length, cjk) : makeText(length);
    const std::size_t chars = codePoints(text);

    SwaySession session(SwayQuorvel::placementRule(760, 40));
    if (!session.ok()) {
        std::fprintf(stderr, "no sway: %s\n", session.error().c_str());
        return 1;
    }
    const auto kind =
        targetName == "foot" ? SwayTextTarget::Kind::Foot : SwayTextTarget::Kind::QtEdit;
    SwayTextTarget target(session, kind, "bench");
    if (!target.ok()) {
        std::fprintf(stderr, "no target: %s\n", target.error().c_str());
        return 1;
    }
    SwayQuorvel quorvel(session);
    QuorvelItem item;
    item.name = "Bench";
    item.url = "http://127.0.0.1/";
    item.keys = asScript(text);
    const bool haveProgram = quorvel.writeSettings() && quorvel.writeItems({item}) &&
                             quorvel.start();
    const auto button = haveProgram ? quorvel.typeButton() : std::nullopt;
    if (!button)
        std::printf("the program could not be started (%s): wtype alone\n",
                    quorvel.error().c_str());

    std::printf("Typing %zu characters into %s on a headless sway, as the desktop user\n", chars,
                targetName == "foot" ? "foot (cat into a file)" : "a Qt text edit (type_target)");
    std::printf("%-30s %4s %10s %12s   %-6s %s\n", "method", "run", "arrived (s)",
                "chars/second", "exact", "arrived");
    auto typeOurs = [&] { session.click(button->center()); };
    // wtype's first key may beat the client's keymap without a short wait; it is counted.
    auto typeTheirs = [&] { session.wtype(text, {"-s", "50"}); };
    // One of each first, not counted: the target's first long text is slower.
    if (button) measure(session, target, text, typeOurs);
    measure(session, target, text, typeTheirs);
    double ours = 0, theirs = 0;
    bool allExact = true;
    for (int run = 1; run <= runs; ++run) {
        // In turns, and which goes first alternates, so neither gets the better moments.
        Run a, x;
        if (run % 2 || !button) {
            if (button) a = measure(session, target, text, typeOurs);
            x = measure(session, target, text, typeTheirs);
        } else {
            x = measure(session, target, text, typeTheirs);
            a = measure(session, target, text, typeOurs);
        }
        if (button) {
            printRun("Type button (Wayland layers)", run, chars, a);
            allExact = allExact && a.exact;
            ours += chars / a.seconds;
        }
        printRun("wtype -s 50", run, chars, x);
        theirs += chars / x.seconds;
    }
    if (button)
        std::printf("mean rate: program %.0f, wtype %.0f characters/second\n", ours / runs,
                    theirs / runs);
    else
        std::printf("mean rate: wtype %.0f characters/second\n", theirs / runs);
    if (button) {
        const int status = quorvel.stop();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) allExact = false;
    }
    return allExact && button ? 0 : 1;
}
