#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

// The one error type for "a statement failed": a Visual-Basic-like error number and its text.
// Components throw it where a documented statement fails; callers that resume on errors catch it.
struct Error : std::runtime_error {
    long number;
    std::string description;
    Error(long n, std::string d) : std::runtime_error(d), number(n), description(std::move(d)) {}
};

}  // namespace platform
