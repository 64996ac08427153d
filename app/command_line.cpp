#include "app/command_line.h"

#include <charconv>
#include <string_view>
#include <system_error>

std::string Echo(const std::string& text) {
  return text.size() <= kEchoLimit ? text : text.substr(0, kEchoLimit - 3) + "...";
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  while (!text.empty() && text.back() == ' ') {
    text.pop_back();
  }
  return text;
}

CLI::Validator WholeNumber(uint64_t min, uint64_t max) {
  std::string range = max == UINT64_MAX ? "a whole number of " + std::to_string(min) + " or more"
                                        : "a whole number from " + std::to_string(min) + " to " +
                                              std::to_string(max);
  return CLI::Validator(
      [min, max, range](std::string& text) -> std::string {
        uint64_t value = 0;
        const char* first = text.data();
        const char* last = first + text.size();
        const bool digits = !text.empty() && text.find_first_not_of("0123456789") == text.npos;
        const auto [end, error] = std::from_chars(first, last, value);
        if (!digits || error != std::errc() || end != last || value < min || value > max) {
          return "expects " + range + ", not '" + Echo(text) + "'";
        }
        return std::string();
      },
      "", "WholeNumber");
}

void GiveEmptyValues(std::vector<const char*>& args, std::deque<std::string>& storage) {
  for (auto a = args.begin() + 1; a != args.end(); ++a) {
    const std::string_view text = *a;
    if (text.size() > 3 && text.starts_with("--") && text.ends_with('=')) {
      *a = storage.emplace_back(text.substr(0, text.size() - 1)).c_str();
      a = args.insert(a + 1, "");
    }
  }
}
