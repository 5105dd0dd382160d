#pragma once

// One guard for every handler that a window connects to a signal. Qt leaves an
// exception that passes through its own frames undefined: the signal's other
// receivers are skipped and the sender may be left half-way through a change.
// The guard catches what escapes the handler, logs it and shows it in an error
// box, as the application does for what escapes an event, and the program
// goes on with the next receiver.

#include "util/kvd_errors.h"

#include <QObject>
#include <cstddef>
#include <exception>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

// Logs aError and shows its text in an error box over the active window.
void ShowException(const std::exception& aError);

// Runs aCall; an exception that escapes it is shown by ShowException, one that
// is no std::exception as "Unknown error".
template <typename Call> void RunGuarded(Call&& aCall)
{
    try {
        std::forward<Call>(aCall)();
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowException(EkvdError(QStringLiteral("Unknown error")));
    }
}

namespace KvdGuard {

template <typename Handler, typename Args, std::size_t... I>
constexpr bool TakesLeading(std::index_sequence<I...>)
{
    return std::is_invocable_v<Handler&, std::tuple_element_t<I, Args>...>;
}

template <typename Handler, typename Args, std::size_t... I>
void CallWith(Handler& aHandler, Args& aArgs, std::index_sequence<I...>)
{
    std::invoke(aHandler, std::get<I>(aArgs)...);
}

// Calls aHandler with as many of the leading arguments as it takes, as Qt
// passes a slot fewer arguments than its signal carries.
template <std::size_t N, typename Handler, typename Args>
void CallLeading(Handler& aHandler, Args& aArgs)
{
    if constexpr (TakesLeading<Handler, Args>(std::make_index_sequence<N>())) {
        CallWith(aHandler, aArgs, std::make_index_sequence<N>());
    } else if constexpr (N > 0) {
        CallLeading<N - 1>(aHandler, aArgs);
    } else {
        static_assert(N > 0, "the handler takes none of the signal's arguments");
    }
}

} // namespace KvdGuard

// The handler to pass to QObject::connect in place of aHandler: it takes the
// signal's arguments, hands aHandler the leading ones it takes and runs it
// under RunGuarded. Connect it with a context object, so that the connection
// ends with that object.
template <typename Handler> auto Guarded(Handler aHandler)
{
    return [handler = std::move(aHandler)](auto&&... aArgs) mutable -> void {
        auto args = std::forward_as_tuple(aArgs...);
        RunGuarded([&] { KvdGuard::CallLeading<sizeof...(aArgs)>(handler, args); });
    };
}

// The same for the member function aSlot of aObject, the connection's context.
template <typename Object, typename Slot> auto Guarded(Object* aObject, Slot aSlot)
{
    static_assert(std::is_member_function_pointer_v<Slot>, "a member function of aObject");
    return Guarded(std::bind_front(aSlot, aObject));
}

// QObject::connect with the handler under the guard. aReceiver is the
// connection's context: the connection ends with it, and a member function
// given as aHandler is called on it.
template <typename Sender, typename Signal, typename Receiver, typename Handler>
QMetaObject::Connection ConnectGuarded(const Sender* aSender, Signal aSignal, Receiver* aReceiver,
                                       Handler aHandler)
{
    if constexpr (std::is_member_function_pointer_v<Handler>)
        return QObject::connect(aSender, aSignal, aReceiver, Guarded(aReceiver, aHandler));
    else
        return QObject::connect(aSender, aSignal, aReceiver, Guarded(std::move(aHandler)));
}
