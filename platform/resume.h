#pragma once
// The one way to run a statement whose failure is passed over on purpose, as a "resume next"
// sequence does: a search for resume_on_error finds every place that swallows an error.

#include <exception>
#include <type_traits>

namespace platform {

// Stands for every exception, also those not derived from std::exception.
struct AnyError {};

// Runs `statement`. An exception of type E (or derived from it) is swallowed and the call
// returns false; any other exception propagates. True when the statement ran through.
template <class E = std::exception, class Fn>
bool resume_on_error(Fn&& statement) {
    if constexpr (std::is_same_v<E, AnyError>) {
        try {
            statement();
            return true;
        } catch (...) {
            return false;
        }
    } else {
        try {
            statement();
            return true;
        } catch (const E&) {
            return false;
        }
    }
}

}  // namespace platform
