// Typing throughput into a real Qt window on a private Xvfb: the engine over the XTest
// layer against `xdotool type --delay 0`, with the same 32,000-character text.  A rate
// counts only once every character has arrived; the table says whether all did, in order.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/XTestKeyboard.h"
#include "typing/core/KeyfillEngine.h"

// The benchmark programs do not link the test support library; its Xvfb helper is
// compiled in here.
#include "../tests/support/XvfbServer.cpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using quorvel::test::ChildProgram;
using quorvel::test::XvfbServer;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Letters, digits, punctuation and blanks in lines of 64 characters, with a few characters
// no US layout has.  No braces: the text must mean the same to the engine and to xdotool.
std::string makeText(std::size_t length) {
    const std::string pool =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:!?-_()[]@#$%&*+=/'\"";
    const char* rare[] = {"\xC3\xA9", "\xC3\x9F", "\xE2\x82\xAC", "\xE4\xB8\xAD", "\xCE\xA9"};
    std::string text;
    unsigned seed = 12345;
    std::size_t chars = 0;
    while (chars < length) {
        seed = seed * 1103515245u + 12345u;
        if (chars % 64 == 63) {
            text += '\n';
        } else if ((seed >> 8) % 400 == 0) {
            text += rare[(seed >> 20) % 5];
        } else {
            text += pool[(seed >> 16) % pool.size()];
        }
        ++chars;
    }
    return text;
}

struct Result {
    double seconds = 0;      // until the last character arrived
    double sendSeconds = 0;  // until the typing call returned
    bool complete = false;
    std::size_t arrived = 0;  // bytes of the longest correct prefix
};

class Bench {
public:
    bool setUp() {
        if (!server_.ok()) {
            std::fprintf(stderr, "no Xvfb: %s\n", server_.error().c_str());
            return false;
        }
        char tmpl[] = "/tmp/quorvel-bench-XXXXXX";
        dir_ = mkdtemp(tmpl);
        out_ = dir_ / "typed.txt";
        target_ = std::make_unique<ChildProgram>(QUORVEL_BINARY_DIR "/tests/type_target",
                                                 std::vector<std::string>{out_.string()},
                                                 server_.display());
        window_ = target_->waitForWindow(20s);
        if (window_ == 0) std::fprintf(stderr, "type_target did not show a window\n");
        return window_ != 0;
    }
    ~Bench() {
        target_.reset();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    // Empties the target, activates it, runs `type` and waits for `text` to arrive.
    Result measure(const std::string& text, const std::function<void()>& type) {
        const std::string ack = std::to_string(++clears_);
        target_->writeStdin("clear " + ack + "\n");
        while (readFile(out_.string() + ".ack") != ack) std::this_thread::sleep_for(5ms);
        quorvel::X11ActiveWindow(server_.display()).activate(window_, {}, 2s);

        const auto start = Clock::now();
        type();
        auto lastChange = Clock::now();
        const double sent = std::chrono::duration<double>(lastChange - start).count();
        std::string got = readFile(out_);
        while (got != text && Clock::now() - lastChange < 5s) {
            std::this_thread::sleep_for(2ms);
            std::string now = readFile(out_);
            if (now != got) lastChange = Clock::now();
            got = std::move(now);
        }
        Result r;
        r.sendSeconds = sent;
        r.complete = got == text;
        r.seconds = std::chrono::duration<double>((r.complete ? Clock::now() : lastChange) - start)
                        .count();
        const std::size_t common = std::min(got.size(), text.size());
        while (r.arrived < common && got[r.arrived] == text[r.arrived]) ++r.arrived;
        return r;
    }

    const std::string display() const { return server_.display(); }

private:
    XvfbServer server_;
    std::unique_ptr<ChildProgram> target_;
    unsigned long window_ = 0;
    std::filesystem::path dir_, out_;
    int clears_ = 0;
};

std::size_t codePoints(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

void printRow(const char* name, std::size_t chars, const Result& r) {
    std::printf("%-26s %10.3f %10.3f %14.0f   %-8s %s\n", name, r.sendSeconds, r.seconds,
                chars / r.seconds,
                r.complete ? "yes" : "NO",
                r.complete ? "" : ("first wrong byte at " + std::to_string(r.arrived)).c_str());
}

}  // namespace

int main() {
    Bench bench;
    if (!bench.setUp()) return 1;
    const std::string text = makeText(32000);
    const std::size_t chars = codePoints(text);

    quorvel::XTestKeyboard keyboard(bench.display());
    quorvel::KeyfillEngine engine(keyboard, quorvel::KeyfillHooks{});
    const Result ours = bench.measure(text, [&] { engine.run(text); });
    // xdotool types a line feed as a key Qt ignores, a carriage return as Return: it gets
    // its line breaks as CR so that both are asked for the same keys.
    std::string forXdotool = text;
    std::replace(forXdotool.begin(), forXdotool.end(), '\n', '\r');
    const Result xdotool = bench.measure(text, [&] {
        quorvel::test::runProgram("xdotool", {"type", "--delay", "0", forXdotool},
                                  bench.display());
    });

    std::printf("Typing %zu characters into a Qt text edit on Xvfb\n", chars);
    std::printf("%-26s %10s %10s %14s   %-8s\n", "method", "sent (s)", "arrived (s)",
                "chars/second", "complete");
    printRow("KeyfillEngine + XTest", chars, ours);
    printRow("xdotool type --delay 0", chars, xdotool);
    std::printf("(line breaks given to xdotool as CR; %zu keycode remaps over %zu spare keycodes "
                "for the engine)\n",
                keyboard.remapCount(), keyboard.spareKeycodes());
    return ours.complete ? 0 : 1;
}
