// Error kinds that commands raise and the general error report shows.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvel {

// Any failure a command does not handle itself; its text is what the user reads.
class QuorvelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that does not convert to the number or date the caller wanted.
class ConvertError : public QuorvelError {
public:
    using QuorvelError::QuorvelError;
    static ConvertError notInteger(const std::string& s) {
        return ConvertError("'" + s + "' is not a valid integer value");
    }
    static ConvertError notFloat(const std::string& s) {
        return ConvertError("'" + s + "' is not a valid floating point value");
    }
    static ConvertError notDateTime(const std::string& s) {
        return ConvertError("'" + s + "' is not a valid date and time");
    }
};

// A file that cannot be opened, read or written.  Code 2 reads "File not found",
// every other code "I/O error <code>", as users of the Windows version know them.
class InOutError : public QuorvelError {
public:
    explicit InOutError(int code) : QuorvelError(textFor(code)), code_(code) {}
    int code() const { return code_; }
    static std::string textFor(int code) {
        return code == 2 ? "File not found" : "I/O error " + std::to_string(code);
    }

private:
    int code_;
};

}  // namespace quorvel
