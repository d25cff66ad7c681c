#pragma once

// Collects what the application's error display would have shown, for the time it lives.
#include "app/forms/Application.h"

#include <functional>
#include <string>
#include <vector>

namespace pictor_test {

struct ErrorRecorder {
    std::vector<std::string> messages;
    std::function<void(const QString&)> saved;
    ErrorRecorder() {
        saved = pictor::TApplication::ErrorDisplay();
        pictor::TApplication::ErrorDisplay() = [this](const QString& m) {
            messages.push_back(m.toStdString());
        };
    }
    ~ErrorRecorder() { pictor::TApplication::ErrorDisplay() = saved; }
    ErrorRecorder(const ErrorRecorder&) = delete;
    ErrorRecorder& operator=(const ErrorRecorder&) = delete;
};

} // namespace pictor_test
