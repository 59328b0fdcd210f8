#pragma once
// The one way event handlers are entered. An exception thrown by a handler
// ends that handler here and goes to the application's error display; it
// never unwinds into Qt's event loop.
#include <QString>
#include <functional>
#include <type_traits>
#include <utility>

namespace ui {

using ErrorHandler = std::function<void(const QString &message)>;

// Installs the application-wide error display. Without one, errors are shown
// in the standard error box (program title, the message, an error icon).
void SetErrorHandler(ErrorHandler handler);
void ReportError(const QString &message);

// Runs fn; any exception it throws is reported. Returns false in that case.
template <class Fn> bool Dispatch(Fn &&fn) noexcept;

namespace detail {
void ReportCurrentException() noexcept;

// Its own template, so that the branch not taken is never compiled (inside
// the generic lambda below, clang would check a call that takes no arguments).
template <class Fn, class... Args> void CallWithOrWithoutArgs(const Fn &fn, Args &&...args) {
    if constexpr (std::is_invocable_v<const Fn &, Args...>)
        fn(std::forward<Args>(args)...);
    else
        fn();
}
} // namespace detail

// Wraps a handler so that it can be connected to a signal or stored as a
// callback: the returned callable enters the handler through Dispatch. A
// handler that takes no arguments ignores the signal's.
template <class Fn> auto Guarded(Fn fn) {
    return [fn = std::move(fn)](auto &&...args) {
        Dispatch([&] { detail::CallWithOrWithoutArgs(fn, std::forward<decltype(args)>(args)...); });
    };
}

template <class Fn> bool Dispatch(Fn &&fn) noexcept {
    try {
        std::forward<Fn>(fn)();
        return true;
    } catch (...) {
        detail::ReportCurrentException();
        return false;
    }
}

} // namespace ui
