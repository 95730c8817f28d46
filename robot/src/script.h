#pragma once
// The scenario language's text: one command a line, blank-separated tokens, quoted tokens
// with \" and \\, and # comments outside quotes.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace acerto::robot {

struct Token {
    std::string text;
    bool quoted = false;
    // NAME="text": the text after '=' was quoted (it may hold blanks).
    bool value_quoted = false;
};

struct Command {
    int line = 0;
    std::vector<Token> tokens;
    const std::string& word(std::size_t i) const;  // "" past the end
    std::size_t size() const { return tokens.size(); }
};

class ScriptError : public std::runtime_error {
  public:
    ScriptError(int line, const std::string& message) : std::runtime_error(message), line_(line) {}
    int line() const { return line_; }

  private:
    int line_;
};

std::vector<Command> parse_script(std::string_view text);

}  // namespace acerto::robot
