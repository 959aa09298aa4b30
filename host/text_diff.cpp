#include "host/text_diff.h"

#include <algorithm>
#include <cstdint>

namespace corvane::host {

namespace {

enum class Step { Same, Removed, Added };

// The shortest edit script by the longest common subsequence of the part
// between the common head and tail. The table is bounded: beyond it the
// middle is shown as removed and added as a whole, still a correct diff.
std::vector<Step> editScript(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) ++tail;
  const size_t n = a.size() - head - tail;
  const size_t m = b.size() - head - tail;
  std::vector<Step> steps(head, Step::Same);
  if (n * m <= 16'000'000) {
    // lengths[i][j]: the common subsequence of a[i..] and b[j..] (middle part).
    std::vector<uint32_t> lengths((n + 1) * (m + 1), 0);
    const auto at = [&](size_t i, size_t j) -> uint32_t& { return lengths[i * (m + 1) + j]; };
    for (size_t i = n; i-- > 0;) {
      for (size_t j = m; j-- > 0;) {
        at(i, j) = a[head + i] == b[head + j] ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
      }
    }
    size_t i = 0;
    size_t j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && a[head + i] == b[head + j]) {
        steps.push_back(Step::Same);
        ++i;
        ++j;
      } else if (i < n && (j == m || at(i + 1, j) >= at(i, j + 1))) {
        steps.push_back(Step::Removed);  // removals first, as diff -u shows a change
        ++i;
      } else {
        steps.push_back(Step::Added);
        ++j;
      }
    }
  } else {
    steps.insert(steps.end(), n, Step::Removed);
    steps.insert(steps.end(), m, Step::Added);
  }
  steps.insert(steps.end(), tail, Step::Same);
  return steps;
}

std::string range(size_t start, size_t count) {
  // diff -u numbers an empty range by the line before it.
  if (count == 0) return std::to_string(start) + ",0";
  return std::to_string(start + 1) + (count == 1 ? "" : "," + std::to_string(count));
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string UnifiedDiff(const std::vector<std::string>& expected, const std::vector<std::string>& actual,
                        const std::string& expectedName, const std::string& actualName) {
  const std::vector<Step> steps = editScript(expected, actual);
  if (std::all_of(steps.begin(), steps.end(), [](Step step) { return step == Step::Same; })) return {};
  constexpr size_t context = 3;
  std::string diff = "--- " + expectedName + "\n+++ " + actualName + "\n";
  // Positions in both texts before each step.
  std::vector<size_t> inA(steps.size() + 1, 0);
  std::vector<size_t> inB(steps.size() + 1, 0);
  for (size_t k = 0; k < steps.size(); ++k) {
    inA[k + 1] = inA[k] + (steps[k] != Step::Added ? 1 : 0);
    inB[k + 1] = inB[k] + (steps[k] != Step::Removed ? 1 : 0);
  }
  size_t k = 0;
  while (k < steps.size()) {
    if (steps[k] == Step::Same) {
      ++k;
      continue;
    }
    // A hunk: from context lines before this change to context lines after
    // the last change that is within 2 * context of the one before it.
    const size_t first = k > context ? k - context : 0;
    size_t last = k;
    for (size_t probe = k; probe < steps.size(); ++probe) {
      if (steps[probe] != Step::Same) {
        last = probe;
      } else if (probe - last > 2 * context) {
        break;
      }
    }
    const size_t end = std::min(steps.size(), last + 1 + context);
    diff += "@@ -" + range(inA[first], inA[end] - inA[first]) + " +" + range(inB[first], inB[end] - inB[first]) + " @@\n";
    for (size_t s = first; s < end; ++s) {
      switch (steps[s]) {
        case Step::Same:
          diff += " " + expected[inA[s]] + "\n";
          break;
        case Step::Removed:
          diff += "-" + expected[inA[s]] + "\n";
          break;
        case Step::Added:
          diff += "+" + actual[inB[s]] + "\n";
          break;
      }
    }
    k = end;
  }
  return diff;
}

}  // namespace corvane::host
