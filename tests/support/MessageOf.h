#pragma once
// The what() text of the exception an action throws, for exact message checks.

#include <exception>
#include <functional>
#include <string>

namespace testsupport {

// "(no failure)" when the action returns normally.
inline std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no failure)";
}

}  // namespace testsupport
