#include "Script.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace dtphost {

namespace {

// Screen data is kept well below the 16-bit parameter lengths of an MCSO.
constexpr unsigned kMaxScreenData = 32000;

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits one line into words and quoted strings; '#' outside quotes ends
// the line.  Quoted strings know \" \\ \n \r \t and \xHH.
bool tokenize(const std::string& line, std::vector<Token>& out, std::string& error)
{
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (std::isspace(static_cast<unsigned char>(c))) { ++i; continue; }
        if (c == '#') break;
        Token t;
        if (c == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') { closed = true; break; }
                if (d != '\\') { t.text += d; continue; }
                if (i >= line.size()) break;
                char e = line[i++];
                switch (e) {
                case 'n': t.text += '\n'; break;
                case 'r': t.text += '\r'; break;
                case 't': t.text += '\t'; break;
                case 'x': {
                    auto hex = [](char h) { return std::isxdigit(static_cast<unsigned char>(h)); };
                    if (i + 2 <= line.size() && hex(line[i]) && hex(line[i + 1])) {
                        t.text += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
                        i += 2;
                    } else {
                        error = "\\x needs two hexadecimal digits";
                        return false;
                    }
                    break;
                }
                default: t.text += e; break;
                }
            }
            if (!closed) {
                error = "unterminated quoted text";
                return false;
            }
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                t.text += line[i++];
        }
        out.push_back(t);
    }
    return true;
}

bool toNumber(const std::string& s, unsigned long max, unsigned& out)
{
    if (s.empty() || !std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(s.c_str(), &end, 0);
    if (errno || *end || v > max) return false;
    out = static_cast<unsigned>(v);
    return true;
}

bool validName(const std::string& s)
{
    if (s.empty() || s.size() > 8) return false;
    for (char c : s)
        if (!std::isgraph(static_cast<unsigned char>(c)) || c == '/') return false;
    return true;
}

class Parser {
public:
    Parser(const std::string& source, Script& out) : source_(source), out_(out) {}

    bool run(const std::string& text, std::string& error)
    {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            ++lineNo_;
            std::vector<Token> toks;
            std::string what;
            if (!tokenize(line, toks, what) || (!toks.empty() && !statement(toks, what))) {
                error = source_ + ":" + std::to_string(lineNo_) + ": " + what;
                return false;
            }
        }
        return finish(error);
    }

private:
    bool statement(const std::vector<Token>& t, std::string& error)
    {
        const std::string& kw = t[0].text;
        size_t n = t.size();
        if (kw == "transaction") {
            if (n != 3) return fail(error, "transaction needs an id and a first screen");
            if (t[1].text != "*" && !validName(t[1].text))
                return fail(error, "transaction id must be 1 to 8 characters");
            out_.transactions.push_back({t[1].text, t[2].text});
            refs_.push_back({t[2].text, lineNo_});
            return true;
        }
        if (kw == "screen") {
            if (n != 2 || !validName(t[1].text))
                return fail(error, "screen needs a name of 1 to 8 characters");
            if (out_.screens.count(t[1].text)) return fail(error, "screen " + t[1].text + " defined twice");
            ScreenDef& s = out_.screens[t[1].text];
            s.name = t[1].text;
            s.line = lineNo_;
            cur_ = &s;
            return true;
        }
        if (!cur_) return fail(error, "'" + kw + "' outside a screen block");
        ScreenDef& s = *cur_;
        if (kw == "kind") {
            if (n != 2 || t[1].text.size() != 1 || std::string("OVE").find(t[1].text[0]) == std::string::npos)
                return fail(error, "kind must be O, V or E");
            s.kind = t[1].text[0];
        } else if (kw == "size") {
            if (n != 2 || !toNumber(t[1].text, kMaxScreenData, s.size))
                return fail(error, "size needs a number up to " + std::to_string(kMaxScreenData));
        } else if (kw == "filler") {
            if (n != 2 || t[1].text.size() != 1) return fail(error, "filler needs one character");
            s.filler = t[1].text[0];
        } else if (kw == "terminal") {
            if (n != 2 || t[1].text.size() > 4) return fail(error, "terminal needs a text of up to 4 characters");
            s.terminal = t[1].text;
        } else if (kw == "field" || kw == "input") {
            FieldDef f;
            f.input = kw == "input";
            if (n < 3 || n > 4 || !toNumber(t[1].text, kMaxScreenData, f.offset) ||
                !toNumber(t[2].text, kMaxScreenData, f.length) || f.length == 0 ||
                f.offset + f.length > kMaxScreenData)
                return fail(error, kw + " needs an offset, a length (the field ending within " +
                                       std::to_string(kMaxScreenData) + " bytes) and an optional text");
            if (n == 4) f.text = t[3].text;
            s.fields.push_back(f);
        } else if (kw == "error" || kw == "fcc") {
            if (n != 2) return fail(error, kw + " needs one text");
            (kw == "error" ? s.error : s.fcc) = t[1].text;
        } else if (kw == "cursor") {
            unsigned v = 0;
            if (n != 2 || !toNumber(t[1].text, 999, v)) return fail(error, "cursor needs a field index");
            s.cursor = static_cast<int>(v);
        } else if (kw == "enter" || kw == "key") {
            return rule(t, error);
        } else {
            return fail(error, "unknown keyword '" + kw + "'");
        }
        return true;
    }

    bool rule(const std::vector<Token>& t, std::string& error)
    {
        Rule r;
        size_t i = 1;
        if (t[0].text == "key") {
            if (t.size() < 2 || t[1].text.size() != 1 || !std::isgraph(static_cast<unsigned char>(t[1].text[0])))
                return fail(error, "key needs one printable character (or *)");
            r.key = t[1].text[0];
            i = 2;
        }
        if (t.size() <= i + 1 || t[i].text != "->") return fail(error, "expected '-> target'");
        ++i;
        const std::string& what = t[i].text;
        size_t rest = t.size() - i - 1;
        if (what == "same" && !t[i].quoted && rest == 0) {
            r.target.kind = Target::Same;
        } else if (what == "close" && !t[i].quoted && rest == 0) {
            r.target.kind = Target::Close;
        } else if (what == "end" && !t[i].quoted && rest <= 2) {
            r.target.kind = Target::End;
            if (rest >= 1) {
                if (t[i + 1].text.size() != 1) return fail(error, "end reason must be one character");
                r.target.reason = t[i + 1].text[0];
            }
            if (rest == 2) r.target.cda = t[i + 2].text;
        } else if (rest == 0 && validName(what)) {
            r.target.kind = Target::Screen;
            r.target.screen = what;
            refs_.push_back({what, lineNo_});
        } else {
            return fail(error, "target must be a screen name, same, close or end [reason [cda]]");
        }
        cur_->rules.push_back(r);
        return true;
    }

    bool finish(std::string& error)
    {
        for (const auto& ref : refs_) {
            if (!out_.screens.count(ref.first)) {
                error = source_ + ":" + std::to_string(ref.second) + ": no screen named " + ref.first;
                return false;
            }
        }
        if (out_.transactions.empty()) {
            error = source_ + ": no transaction defined";
            return false;
        }
        return true;
    }

    bool fail(std::string& error, const std::string& what)
    {
        error = what;
        return false;
    }

    std::string source_;
    Script& out_;
    ScreenDef* cur_ = nullptr;
    int lineNo_ = 0;
    std::vector<std::pair<std::string, int>> refs_;
};

}  // namespace

Target ScreenDef::targetFor(char status) const
{
    for (const Rule& r : rules)
        if (r.key == status) return r.target;
    if (status != ' ')
        for (const Rule& r : rules)
            if (r.key == '*') return r.target;
    return Target{};
}

const Transaction* Script::find(const std::string& trid) const
{
    for (const Transaction& t : transactions)
        if (t.id == trid) return &t;
    for (const Transaction& t : transactions)
        if (t.id == "*") return &t;
    return nullptr;
}

const ScreenDef* Script::screen(const std::string& name) const
{
    auto it = screens.find(name);
    return it == screens.end() ? nullptr : &it->second;
}

bool parseScript(const std::string& text, const std::string& sourceName, Script& out,
                 std::string& error)
{
    out = Script{};
    return Parser(sourceName, out).run(text, error);
}

bool loadScript(const std::string& path, Script& out, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseScript(text.str(), path, out, error);
}

const char* builtinScript()
{
    return R"(# Built-in script: any transaction id starts MENU.
transaction * MENU

screen MENU
  field 0 8 "${L}"
  field 8 6 "${N}"
  input 14 20
  enter -> ECHO
  key 3 -> end " " "BYE ${L}"

screen ECHO
  kind V
  field 0 8 "${L}"
  field 8 20 "${IN:14:20}"
  enter -> MENU
  key 3 -> end " " "BYE ${L}"
)";
}

}  // namespace dtphost
