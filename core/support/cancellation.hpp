#pragma once

#include <exception>

namespace cadrio {

// Thrown out of a task whose stop token fired: the work was abandoned on
// request, which callers report differently from a failure.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "Opération annulée"; }
};

}  // namespace cadrio
