// Error types of the engine. Each maps onto the host exception of the same
// name in the Python binding; C++ callers catch them as std::exception.
#pragma once
#include <stdexcept>
#include <string>

namespace quarvo {

struct ValueError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};
struct TypeError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};
struct NotImplementedError : std::logic_error {
    NotImplementedError() : std::logic_error("") {}
    using std::logic_error::logic_error;
};
struct IndexError : std::out_of_range {
    using std::out_of_range::out_of_range;
};
struct ZeroDivisionError : std::domain_error {
    using std::domain_error::domain_error;
};
struct OverflowError : std::overflow_error {
    using std::overflow_error::overflow_error;
};
// Raised by long computations when the host asks them to stop (Ctrl-C).
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

}  // namespace quarvo
