// Names as the output-variable table compares them, and an index that finds
// a name among many in constant time.
//
// Names compare with ASCII letters without regard to case and '-' equal to
// '_'; every other byte only equals itself. The hash follows the same rule,
// so equal names hash alike.
#ifndef QOR_XFCGINAMEINDEX_H
#define QOR_XFCGINAMEINDEX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Each byte as it compares: a table, not the C library's locale-dependent
// tolower, since lookups are the page writer's inner loop.
struct XFcgiNameFold {
    unsigned char map[256];
    constexpr XFcgiNameFold() : map()
    {
        for (int c = 0; c < 256; ++c)
            map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a'
                                                : c == '-'           ? '_'
                                                                     : c);
    }
    unsigned char operator()(char c) const { return map[static_cast<unsigned char>(c)]; }
};
inline constexpr XFcgiNameFold xFcgiNameFold;

// The hash of the empty name.
constexpr uint64_t kNameHashStart = 14695981039346656037ull;

// Hash h extended by bytes (FNV-1a over the folded bytes), so that the
// hashes of "x", "x_3" and "x_3_2" come from one pass over the longest.
inline uint64_t xFcgiNameHashMore(uint64_t h, std::string_view bytes)
{
    for (char c : bytes)
        h = (h ^ xFcgiNameFold(c)) * 1099511628211ull;
    return h;
}

// A name with each byte as it compares: names that fold alike are equal.
inline std::string xFcgiFoldName(std::string_view name)
{
    std::string out(name);
    for (char &c : out)
        c = static_cast<char>(xFcgiNameFold(c));
    return out;
}

// Whether two names compare equal.
inline bool xFcgiNamesEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0, n = a.size(); i < n; ++i)
        if (a[i] != b[i] && xFcgiNameFold(a[i]) != xFcgiNameFold(b[i]))
            return false;
    return true;
}

// Open-addressing index of names: slots hold positions in a list whose
// names the caller keeps, with each name's hash, so that a probe reads a
// name only when the hashes agree. Kept at most half full. The hash has
// no key: names a client chooses are only looked up, never added (they
// could be chosen to fall in one probe run, making each add cost as many
// probes as there are names).
class XFcgiNameIndex {
public:
    // The name at a position of the caller's list (context: what the
    // index was made with).
    using NameAt = std::string_view (*)(const void *context, int32_t pos);

    explicit XFcgiNameIndex(NameAt nameAt, const void *context = nullptr)
        : nameAt_(nameAt), context_(context) {}

    // Forgets every position; room for about `expected` names.
    void reset(size_t expected);
    // The position of a name equal to `name` (hash h), or -1 (inline: the
    // page writer's inner loop).
    int find(std::string_view name, uint64_t h) const
    {
        if (slots_.empty())
            return -1;
        const size_t mask = slots_.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot &s = slots_[i];
            if (s.pos == kEmpty)
                return -1;
            if (s.hash == h && xFcgiNamesEqual(nameAt_(context_, s.pos), name))
                return s.pos;
        }
    }
    // Adds position `pos`, whose name is `name` (hash h); an equal name
    // already there keeps its slot unless `replace`, when the new position
    // takes it. Returns the position the name's slot holds afterwards.
    int32_t add(int32_t pos, std::string_view name, uint64_t h, bool replace);

private:
    static constexpr int32_t kEmpty = -1;
    struct Slot {
        uint64_t hash;
        int32_t pos;   // kEmpty: a free slot
    };

    void grow();

    NameAt nameAt_;
    const void *context_;
    std::vector<Slot> slots_;
    size_t used_ = 0;
};

#endif
