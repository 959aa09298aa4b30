// A unified diff of two texts line by line, as `diff -u` prints it, for
// `corvane-host run --expect`.
#pragma once

#include <string>
#include <vector>

namespace corvane::host {

std::vector<std::string> SplitLines(const std::string& text);  // without line ends; a last empty line dropped

// Empty when the lines are equal. Three lines of context around each change.
std::string UnifiedDiff(const std::vector<std::string>& expected, const std::vector<std::string>& actual,
                        const std::string& expectedName, const std::string& actualName);

}  // namespace corvane::host
