#include "page.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <strings.h>

namespace e2e {

namespace {

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string htmlDecode(const std::string& s)
{
    static const std::map<std::string, std::string> named = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&') {
            size_t semi = s.find(';', i);
            if (semi != std::string::npos && semi - i <= 8) {
                std::string ent = s.substr(i + 1, semi - i - 1);
                auto it = named.find(lower(ent));
                if (it != named.end()) { out += it->second; i = semi; continue; }
                if (ent.size() > 1 && ent[0] == '#') {
                    long code = ent[1] == 'x' || ent[1] == 'X' ? std::strtol(ent.c_str() + 2, nullptr, 16)
                                                               : std::strtol(ent.c_str() + 1, nullptr, 10);
                    if (code > 0 && code < 256) { out += static_cast<char>(code); i = semi; continue; }
                }
            }
        }
        out += s[i];
    }
    return out;
}

// Attributes of one tag (the text between "<name" and ">"), names in lower case.
std::map<std::string, std::string> attributes(const std::string& tag)
{
    std::map<std::string, std::string> out;
    size_t i = 0;
    while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i]))) ++i;  // the tag name
    while (i < tag.size()) {
        while (i < tag.size() && (std::isspace(static_cast<unsigned char>(tag[i])) || tag[i] == '/')) ++i;
        size_t start = i;
        while (i < tag.size() && tag[i] != '=' && !std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        std::string name = lower(tag.substr(start, i - start));
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        std::string value;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                char q = tag[i++];
                size_t end = tag.find(q, i);
                if (end == std::string::npos) end = tag.size();
                value = tag.substr(i, end - i);
                i = end + 1;
            } else {
                size_t vs = i;
                while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
                value = tag.substr(vs, i - vs);
            }
        }
        if (!name.empty() && !out.count(name)) out[name] = htmlDecode(value);
    }
    return out;
}

// Finds the next tag named `name` (any case) at or after `from`; returns its
// inside text and moves `from` past it.
bool nextTag(const std::string& html, const std::string& name, size_t& from, std::string& inside)
{
    const std::string low = lower(html);
    for (;;) {
        size_t at = low.find("<" + name, from);
        if (at == std::string::npos) return false;
        size_t after = at + 1 + name.size();
        if (after < low.size() && (std::isspace(static_cast<unsigned char>(low[after])) || low[after] == '>')) {
            size_t end = html.find('>', after);
            if (end == std::string::npos) return false;
            inside = html.substr(at + 1, end - at - 1);
            from = end + 1;
            return true;
        }
        from = after;
    }
}

}  // namespace

bool Form::has(const std::string& field) const
{
    return std::any_of(fields.begin(), fields.end(), [&](const auto& f) { return f.first == field; });
}

std::string Form::get(const std::string& field) const
{
    for (const auto& f : fields)
        if (f.first == field) return f.second;
    return "";
}

void Form::set(const std::string& field, const std::string& value)
{
    for (auto& f : fields)
        if (f.first == field) { f.second = value; return; }
    fields.emplace_back(field, value);
}

void Form::erase(const std::string& field)
{
    for (auto it = fields.begin(); it != fields.end();)
        it = it->first == field ? fields.erase(it) : it + 1;
}

std::string Form::actionParam(const std::string& name) const
{
    size_t q = action.find('?');
    if (q == std::string::npos) return "";
    std::string query = action.substr(q + 1);
    size_t at = 0;
    while (at <= query.size()) {
        size_t amp = query.find('&', at);
        if (amp == std::string::npos) amp = query.size();
        std::string part = query.substr(at, amp - at);
        size_t eq = part.find('=');
        if (eq != std::string::npos && strcasecmp(part.substr(0, eq).c_str(), name.c_str()) == 0)
            return formDecode(part.substr(eq + 1));
        at = amp + 1;
    }
    return "";
}

Form parseForm(const std::string& html)
{
    Form form;
    size_t at = 0;
    std::string inside;
    if (!nextTag(html, "form", at, inside)) return form;
    auto fa = attributes(inside);
    form.found = true;
    form.name = fa["name"];
    form.action = fa["action"];
    const std::string low = lower(html);
    size_t end = low.find("</form", at);
    if (end == std::string::npos) end = html.size();
    const std::string body = html.substr(at, end - at);
    size_t pos = 0;
    while (nextTag(body, "input", pos, inside)) {
        auto a = attributes(inside);
        std::string type = lower(a.count("type") ? a["type"] : "text");
        if (!a.count("name")) continue;
        bool checkable = type == "radio" || type == "checkbox";
        if (type == "text" || type == "hidden" || type == "password" || (checkable && a.count("checked")))
            form.fields.emplace_back(a["name"], checkable && !a.count("value") ? "on" : a["value"]);
    }
    // A select posts its selected option (the first when none is selected).
    pos = 0;
    while (nextTag(body, "select", pos, inside)) {
        auto a = attributes(inside);
        size_t close = lower(body).find("</select", pos);
        if (close == std::string::npos) close = body.size();
        const std::string options = body.substr(pos, close - pos);
        std::string value, first;
        bool any = false;
        size_t opos = 0;
        std::string otag;
        while (nextTag(options, "option", opos, otag)) {
            auto oa = attributes(otag);
            size_t end = options.find('<', opos);
            std::string text = htmlDecode(options.substr(opos, end == std::string::npos ? std::string::npos : end - opos));
            while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
            std::string v = oa.count("value") ? oa["value"] : text;
            if (!any) first = v;
            if (oa.count("selected") && value.empty()) value = v;
            any = true;
        }
        if (a.count("name") && any) form.fields.emplace_back(a["name"], value.empty() ? first : value);
        pos = close;
    }
    return form;
}

std::string resolveUrl(const std::string& pagePath, const std::string& ref)
{
    if (ref.empty()) return pagePath;
    if (ref[0] == '/') return ref;
    std::string base = pagePath.substr(0, pagePath.find('?'));
    size_t slash = base.rfind('/');
    base = slash == std::string::npos ? "/" : base.substr(0, slash + 1);
    return base + ref;
}

bool pageHas(const std::string& html, const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return html.find(t) != std::string::npos;
}

const HttpResponse& Visitor::take(const std::string& target, HttpResponse r)
{
    path_ = target;
    last_ = std::move(r);
    form_ = parseForm(last_.body);
    return last_;
}

const HttpResponse& Visitor::open(const std::string& path)
{
    HeaderList h;
    if (!cookie_.empty()) h.emplace_back("Cookie", cookie_);
    return take(path, httpRequest(port_, "GET", path, "", h));
}

const HttpResponse& Visitor::post(const std::string& target, const std::string& body)
{
    HeaderList h;
    if (!cookie_.empty()) h.emplace_back("Cookie", cookie_);
    return take(target, httpRequest(port_, "POST", target, body, h));
}

const HttpResponse& Visitor::submit(const HeaderList& typed, char status)
{
    return send("", typed, status);
}

const HttpResponse& Visitor::submitWith(const std::string& extraQuery, const HeaderList& typed)
{
    return send(extraQuery, typed, ' ');
}

const HttpResponse& Visitor::submitWithout(const std::vector<std::string>& left, const HeaderList& typed)
{
    return send("", typed, ' ', left);
}

const HttpResponse& Visitor::send(const std::string& extraQuery, const HeaderList& typed, char status,
                                  const std::vector<std::string>& left)
{
    Form f = form_;
    for (const auto& t : typed) f.set(t.first, t.second);
    for (const std::string& name : left) f.erase(name);
    if (status != ' ') f.set("McsStatus", std::string(1, status));
    std::string target = resolveUrl(path_, f.action);
    if (!extraQuery.empty()) target += (target.find('?') == std::string::npos ? "?" : "&") + extraQuery;
    std::string url;  // a browser sends blanks of the action URL as %20
    for (char c : target) url += c == ' ' ? std::string("%20") : std::string(1, c);
    target = url;
    return post(target, formEncode(f.fields));
}

}  // namespace e2e
