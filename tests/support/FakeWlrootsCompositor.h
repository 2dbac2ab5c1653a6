// A compositor of our own for the wlroots typing layers: it offers a seat, the virtual
// keyboard manager and the foreign-toplevel manager on a socket in a temporary folder,
// records what the virtual keyboard sends and plays the toplevel list a test sets up.
// It runs on a thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::test {

class FakeWlrootsCompositor {
public:
    struct Options {
        bool virtualKeyboard = true;
        bool toplevels = true;
        bool activateOnRequest = true;  // false: activation requests are ignored
    };
    struct KeyEvent {
        std::uint32_t key;    // Linux input code
        bool pressed;
        std::size_t keymap;   // index into keymaps() of the keymap in force
        std::uint32_t modifiers;  // depressed modifiers in force
    };

    FakeWlrootsCompositor();  // every global, activation on request
    explicit FakeWlrootsCompositor(Options options);
    ~FakeWlrootsCompositor();
    FakeWlrootsCompositor(const FakeWlrootsCompositor&) = delete;
    FakeWlrootsCompositor& operator=(const FakeWlrootsCompositor&) = delete;

    // The socket's absolute path, for wl_display_connect().
    const std::string& socket() const;

    // Toplevels: a new one, its activation (all others lose it), its closing.
    int addToplevel(const std::string& appId, const std::string& title);
    void activateToplevel(int index);
    void closeToplevel(int index);
    // Which toplevel the clients asked to activate, in order.
    std::vector<int> activationRequests() const;

    std::vector<std::string> keymaps() const;
    std::vector<KeyEvent> keys() const;
    // Every modifiers request, in order.
    std::vector<std::uint32_t> modifierChanges() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

}  // namespace quorvel::test
