#pragma once
// The framework's exception hierarchy. Every failure the system reports to a user is one of
// these, carrying the message text shown in the error box.
#include <stdexcept>
#include <string>

namespace qvl {

// Root of every exception of the system; carries only its message.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A failure of one file: the text shown, and the file's path apart from it, so that a caller
// can tell which file failed without reading the text.
class EFileError : public Exception {
public:
    EFileError(std::string message, std::string path) : Exception(std::move(message)), path_(std::move(path)) {}
    const std::string& Path() const noexcept { return path_; }

private:
    std::string path_;
};

// A file could not be created (or emptied) for writing: "Cannot create file <path>".
class EFCreateError : public EFileError {
public:
    explicit EFCreateError(const std::string& path) : EFileError("Cannot create file " + path, path) {}
};

// A file could not be opened for reading: "Cannot open file <path>".
class EFOpenError : public EFileError {
public:
    explicit EFOpenError(const std::string& path) : EFileError("Cannot open file " + path, path) {}
};

// A text that should be a whole number is not: "'<text>' is not a valid integer value".
class EConvertError : public Exception {
public:
    explicit EConvertError(const std::string& text)
        : Exception("'" + text + "' is not a valid integer value") {}
};

// A property was given a value outside its range (the progress bar's limits).
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

// A list operation that the list's mode does not allow ("Operation not allowed on sorted list").
class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// Turns text into a 32-bit integer the way the runtime's StrToInt does: optional blanks and sign,
// decimal digits or "$"/"0x" hexadecimal. Raises EConvertError for anything else.
int StrToInt(const std::string& text);

}  // namespace qvl
