// BasicSafeString: the program's own string over a standard string type.
// It is the standard string in every respect, except that its C-string
// construction, assignment and append accept a null pointer (as empty).
#ifndef QOR_SAFESTRING_H
#define QOR_SAFESTRING_H

#include <string>
#include <utility>

template <class S>
class BasicSafeString : public S {
public:
    using Char = typename S::value_type;
    using SizeType = typename S::size_type;

    BasicSafeString() = default;
    BasicSafeString(const Char *s) : S(s ? s : EmptyText()) {}
    BasicSafeString(const S &s) : S(s) {}
    BasicSafeString(S &&s) noexcept : S(std::move(s)) {}
    BasicSafeString(const BasicSafeString &) = default;
    BasicSafeString(BasicSafeString &&) noexcept = default;
    BasicSafeString(Char c, unsigned n) : S(n, c) {}
    BasicSafeString(unsigned n, Char c) : S(n, c) {}
    ~BasicSafeString() = default;

    BasicSafeString &operator=(const BasicSafeString &) = default;
    BasicSafeString &operator=(BasicSafeString &&) noexcept = default;
    BasicSafeString &operator=(const S &s) {
        S::operator=(s);
        return *this;
    }
    BasicSafeString &operator=(const Char *s) {
        if (s)
            S::operator=(s);
        else
            S::clear();
        return *this;
    }
    BasicSafeString &operator=(Char c) {
        S::operator=(c);
        return *this;
    }

    BasicSafeString &operator+=(Char c) {
        S::operator+=(c);
        return *this;
    }
    BasicSafeString &operator+=(const Char *s) {
        if (s)
            S::operator+=(s);
        return *this;
    }
    BasicSafeString &operator+=(const S &s) {
        S::operator+=(s);
        return *this;
    }

private:
    static const Char *EmptyText() {
        static const Char empty[1] = {};
        return empty;
    }
};

using SafeString = BasicSafeString<std::string>;

#endif
