// Waiting in tests for what another thread does: a condition polled every
// millisecond, never longer than the bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

constexpr int32_t kWaitBoundMs = 5000;   // for what must happen: far more than it takes

// True once the condition holds; false when the time is up.
inline bool WaitFor(const std::function<bool()>& condition, int32_t nMs = kWaitBoundMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
