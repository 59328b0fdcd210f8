#include "Follow.h"

#include <algorithm>
#include <thread>

namespace engine {

bool Retry(const std::function<bool(int)> &attempt, int boundMs, std::chrono::milliseconds total,
           std::chrono::milliseconds pause) {
    using namespace std::chrono;
    const auto end = steady_clock::now() + total;
    for (;;) {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
        if (left <= 0)
            return false;
        const auto ms = boundMs > 0 ? std::min<decltype(left)>(left, boundMs) : left;
        if (attempt(int(ms)))
            return true;
        const auto rest = end - steady_clock::now();
        if (rest <= steady_clock::duration::zero())
            return false;
        std::this_thread::sleep_for(std::min<steady_clock::duration>(pause, rest));
    }
}

} // namespace engine
