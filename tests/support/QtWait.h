#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>

namespace kalidrome::test {

// Runs the event loop until condition holds or timeoutMs passes; returns its last value.
template <typename F>
bool ProcessEventsUntil(F condition, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

}  // namespace kalidrome::test
