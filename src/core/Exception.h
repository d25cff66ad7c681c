#pragma once

#include <stdexcept>
#include <string>

namespace pictor {

// Base of every error the program raises on purpose. The message is UTF-8 and is what the
// user sees in the application's error box.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A text that should be a number is not ("'%s' は整数ではありません").
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Reading or writing a file failed.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// A picture could not be decoded (bad or unsupported data).
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// Replaces each "%s" of a message template, in order, by the given texts.
std::string FormatMessage(const std::string& templ, std::initializer_list<std::string> args);

// Reads a whole decimal integer the way the dialogs do: surrounding blanks are not allowed,
// a leading sign is; raises EConvertError "'%s' は整数ではありません" otherwise.
long long StrToInt(const std::string& text);

} // namespace pictor
