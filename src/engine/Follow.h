#pragma once
// Following a module to its new address after a restart: connect attempts,
// each within the connect bound, until one succeeds or the whole time is up.
#include <chrono>
#include <functional>

namespace engine {

// The whole time a restarted module has to answer at its new address.
constexpr std::chrono::milliseconds FollowTime{15000};
// Between two attempts: a module that refused at once is still starting.
constexpr std::chrono::milliseconds FollowPause{250};

// Calls attempt(ms) with ms the time it may take (its bound, or what is
// left of total if less) until it returns true or total has passed.
bool Retry(const std::function<bool(int)> &attempt, int boundMs,
           std::chrono::milliseconds total = FollowTime,
           std::chrono::milliseconds pause = FollowPause);

} // namespace engine
