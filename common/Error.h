#pragma once
// The system's one error object: an exception that carries one message text.
// The text is 8-bit CP1250, like every text the engine handles.
#include <stdexcept>
#include <string>

namespace zv {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace zv
