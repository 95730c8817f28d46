#include "script.h"

namespace acerto::robot {

const std::string& Command::word(std::size_t i) const {
    static const std::string empty;
    return i < tokens.size() ? tokens[i].text : empty;
}

std::vector<Command> parse_script(std::string_view text) {
    std::vector<Command> out;
    int line = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view l = text.substr(pos, end - pos);
        ++line;
        Command cmd;
        cmd.line = line;
        std::size_t i = 0;
        while (i < l.size()) {
            char c = l[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
                continue;
            }
            if (c == '#') break;
            Token t;
            // A quoted text from the opening quote at l[i]: \" and \\ inside, a blank after it.
            auto read_quoted = [&] {
                ++i;
                bool closed = false;
                while (i < l.size()) {
                    char q = l[i];
                    if (q == '\\' && i + 1 < l.size() && (l[i + 1] == '"' || l[i + 1] == '\\')) {
                        t.text.push_back(l[i + 1]);
                        i += 2;
                        continue;
                    }
                    if (q == '"') {
                        closed = true;
                        ++i;
                        break;
                    }
                    t.text.push_back(q);
                    ++i;
                }
                if (!closed) throw ScriptError(line, "texto entre aspas sem aspas de fechamento");
                if (i < l.size() && l[i] != ' ' && l[i] != '\t' && l[i] != '\r' && l[i] != '#')
                    throw ScriptError(line, "falta um espaço depois das aspas de fechamento");
            };
            if (c == '"') {
                t.quoted = true;
                read_quoted();
            } else {
                while (i < l.size() && l[i] != ' ' && l[i] != '\t' && l[i] != '\r' && l[i] != '#') {
                    if (l[i] == '"' && !t.text.empty() && t.text.back() == '=') {
                        t.value_quoted = true;
                        read_quoted();
                        break;
                    }
                    t.text.push_back(l[i++]);
                }
            }
            cmd.tokens.push_back(std::move(t));
        }
        if (!cmd.tokens.empty()) out.push_back(std::move(cmd));
        if (end == text.size()) break;
        pos = end + 1;
    }
    return out;
}

}  // namespace acerto::robot
