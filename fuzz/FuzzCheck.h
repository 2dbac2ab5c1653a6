// Checks for the fuzzing targets: a broken promise prints what broke and aborts, which
// libFuzzer reports as a crash and saves the input that caused it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzcheck {

// The text with bytes outside printable ASCII as \xNN, cut to a readable length.
inline std::string shown(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size() && out.size() < 400; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (out.size() >= 400) out += "...";
    return out;
}

[[noreturn]] inline void fail(const char* what, const char* file, int line,
                              const std::string& detail) {
    std::fprintf(stderr, "\n*** fuzz check failed at %s:%d: %s\n", file, line, what);
    if (!detail.empty()) std::fprintf(stderr, "    %s\n", detail.c_str());
    std::abort();
}

}  // namespace fuzzcheck

#define FUZZ_CHECK(cond)                                                  \
    do {                                                                  \
        if (!(cond)) fuzzcheck::fail(#cond, __FILE__, __LINE__, {});      \
    } while (0)

// Two texts that must be equal; both are shown when they are not.
#define FUZZ_CHECK_EQ_TEXT(a, b)                                                            \
    do {                                                                                    \
        const std::string fuzzA_(a), fuzzB_(b);                                             \
        if (fuzzA_ != fuzzB_)                                                               \
            fuzzcheck::fail(#a " == " #b, __FILE__, __LINE__,                               \
                            "'" + fuzzcheck::shown(fuzzA_) + "' vs '" +                     \
                                fuzzcheck::shown(fuzzB_) + "'");                            \
    } while (0)
