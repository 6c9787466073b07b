// A mutator that knows the data file's stream: it cuts the input into tagged values, changes
// whole values, flags and records, and writes the stream again with every text's length
// matching its bytes, so the reader gets past the first value that was changed. The plain byte
// mutator still gets one turn in eight, so cut files, lying lengths and stray tags keep being
// tried; on its own it mostly breaks a length and the reader stops there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

enum Tag : uint8_t
{
    TagEnd = 0x00,
    TagList = 0x01,
    TagInt8 = 0x02,
    TagInt16 = 0x03,
    TagInt32 = 0x04,
    TagText = 0x06,
    TagFalse = 0x08,
    TagTrue = 0x09,
    TagLongText = 0x0C,
    TagWideText = 0x12,
    TagUtf8Text = 0x14,
};

// One value: its tag and what follows it, lengths left out. Bytes that are no value (the
// signature, an unknown tag, a value cut by the end) are kept as they are in a raw token.
struct Token
{
    bool raw = false;
    uint8_t tag = TagEnd;
    std::string payload;
};
using Tokens = std::vector<Token>;
using Rng = std::minstd_rand;

bool isText(uint8_t tag)
{
    return tag == TagText || tag == TagLongText || tag == TagUtf8Text || tag == TagWideText;
}
bool isInteger(uint8_t tag)
{
    return tag == TagInt8 || tag == TagInt16 || tag == TagInt32;
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where each value lies in the bytes: the tag at `begin`, its payload from `payload` to `end`.
struct Mark
{
    bool raw;
    uint8_t tag;
    size_t begin;
    size_t payload;
    size_t end;
};

std::vector<Mark> scan(const uint8_t* data, size_t size)
{
    std::vector<Mark> out;
    out.reserve(8 + size / 3);
    size_t at = std::min<size_t>(size, 4);
    out.push_back({true, 0, 0, 0, at});
    while (at < size) {
        const uint8_t tag = data[at];
        const size_t left = size - at - 1;
        size_t head = 0; // length bytes
        size_t body = 0;
        switch (tag) {
        case TagEnd:
        case TagList:
        case TagFalse:
        case TagTrue:
            break;
        case TagInt8:
            body = 1;
            break;
        case TagInt16:
            body = 2;
            break;
        case TagInt32:
            body = 4;
            break;
        case TagText:
            head = 1;
            body = left >= 1 ? data[at + 1] : 0;
            break;
        case TagLongText:
        case TagUtf8Text:
        case TagWideText:
            head = 4;
            body = left >= 4 ? le32(data + at + 1) : 0;
            if (tag == TagWideText)
                body = body > SIZE_MAX / 2 ? SIZE_MAX : body * 2;
            break;
        default:
            out.push_back({true, 0, at, at, at + 1});
            ++at;
            continue;
        }
        if (left < head || left - head < body) {
            out.push_back({true, 0, at, at, size});
            break;
        }
        out.push_back({false, tag, at, at + 1 + head, at + 1 + head + body});
        at += 1 + head + body;
    }
    return out;
}

Tokens parse(const uint8_t* data, size_t size)
{
    const std::vector<Mark> marks = scan(data, size);
    Tokens out;
    out.reserve(marks.size() + 64);
    for (const Mark& m : marks)
        out.push_back({m.raw, m.tag, std::string(reinterpret_cast<const char*>(data + m.payload), m.end - m.payload)});
    return out;
}

std::string serialize(const Tokens& tokens)
{
    std::string out;
    size_t total = 0;
    for (const Token& t : tokens)
        total += 5 + t.payload.size();
    out.reserve(total);
    for (const Token& t : tokens) {
        if (t.raw) {
            out += t.payload;
            continue;
        }
        out += char(t.tag);
        size_t body = t.payload.size();
        if (t.tag == TagText) {
            body = std::min<size_t>(body, 255);
            out += char(body);
        } else if (t.tag == TagLongText || t.tag == TagUtf8Text || t.tag == TagWideText) {
            if (t.tag == TagWideText)
                body &= ~size_t(1);
            const uint32_t n = uint32_t(t.tag == TagWideText ? body / 2 : body);
            for (int i = 0; i < 4; ++i)
                out += char(n >> (8 * i));
        }
        out.append(t.payload, 0, body);
    }
    return out;
}

template <typename T> const T& pick(Rng& rng, const std::vector<T>& from)
{
    return from[rng() % from.size()];
}

Token integer(Rng& rng)
{
    static const std::vector<int64_t> edges
        = {0,      1,      -1,       127,       128,   -128,  -129, 255,        32767,          32768,
           -32768, -32769, 0xFFFFFF, 0x1000000, 65535, 65536, 251,  2147483647, -2147483647 - 1};
    const int64_t v = rng() % 2 ? pick(rng, edges) : int64_t(int32_t(rng()));
    static const std::vector<uint8_t> tags = {TagInt8, TagInt16, TagInt32};
    const uint8_t tag = pick(rng, tags);
    const size_t n = tag == TagInt8 ? 1 : tag == TagInt16 ? 2 : 4;
    Token t {false, tag, std::string(n, '\0')};
    for (size_t i = 0; i < n; ++i)
        t.payload[i] = char(uint64_t(v) >> (8 * i));
    return t;
}

// Lengths in characters around the fields' widths of 32 and 80 and, for plain bytes, the short
// form's 255; mostly short, as each run's cost grows with the input.
size_t textLength(Rng& rng, uint8_t tag)
{
    static const std::vector<size_t> edges = {0, 1, 31, 32, 33, 79, 80, 81};
    static const std::vector<size_t> plainEdges = {0, 1, 31, 32, 33, 79, 80, 81, 255, 256};
    if (rng() % 3)
        return rng() % 20;
    return pick(rng, tag == TagText || tag == TagLongText ? plainEdges : edges);
}

// One character's worth of UTF-8, valid or not: Cyrillic, signs Windows-1251 has and lacks,
// surrogates, overlong forms, stray and missing continuation bytes.
std::string utf8Piece(Rng& rng)
{
    using namespace std::string_literals;
    // clang-format off
    static const std::vector<std::string> pieces = {
        "A", "0", "?", "\0"s, "\xD0\x90", "\xD1\x8F", "\xD0\x81", "\xD1\x91", "\xC2\xA0", "\xE2\x84\x96",
        "\xE2\x82\xAC", "\xEF\xBF\xBD", "\xED\xA0\x80", "\xF0\x9F\x98\x80", "\xC0\x80", "\x80", "\xD0",
        "\xE2\x84", "\xFF", "\xF4\x90\x80\x80"};
    // clang-format on
    return pick(rng, pieces);
}

// One UTF-16 unit, little-endian: Cyrillic, Latin, lone and paired surrogates, NUL.
std::string wideUnit(Rng& rng)
{
    static const std::vector<uint16_t> units = {0x0041, 0x0030, 0x0000, 0x0410, 0x044F, 0x0401, 0x2116,
                                                0x20AC, 0xD83D, 0xDE00, 0xFFFD, 0x00A0, 0x4E2D, 0xFFFF};
    const uint16_t u = rng() % 4 ? pick(rng, units) : uint16_t(rng());
    return std::string {char(u & 0xFF), char(u >> 8)};
}

Token text(Rng& rng)
{
    static const std::vector<uint8_t> tags = {TagText, TagText, TagUtf8Text, TagUtf8Text, TagLongText, TagWideText};
    Token t {false, pick(rng, tags), {}};
    const size_t n = textLength(rng, t.tag);
    for (size_t i = 0; i < n; ++i) {
        if (t.tag == TagUtf8Text)
            t.payload += utf8Piece(rng);
        else if (t.tag == TagWideText)
            t.payload += wideUnit(rng);
        else
            t.payload += char(rng() % 3 ? 0x20 + rng() % 0x5F : rng() % 256);
    }
    return t;
}

// A record of seven field entries of the right kinds, now and then one of the wrong kind.
Tokens record(Rng& rng)
{
    Tokens r {{false, TagList, {}}};
    r.push_back(rng() % 8 ? Token {false, TagInt8, std::string(1, '\0')} : integer(rng));
    for (int field = 0; field < 7; ++field) {
        if (rng() % 3 == 0) {
            r.push_back({false, TagTrue, {}});
            continue;
        }
        r.push_back({false, uint8_t(rng() % 16 ? TagFalse : rng()), {}});
        const bool wantInteger = (field < 3) != (rng() % 32 == 0);
        r.push_back(wantInteger ? integer(rng) : text(rng));
    }
    r.push_back({false, TagEnd, {}});
    return r;
}

// Where each record starts and ends (one past its TagEnd), found by the layout the writer uses.
struct Span
{
    size_t begin;
    size_t end;
};
template <typename Value> std::vector<Span> records(const std::vector<Value>& t)
{
    std::vector<Span> out;
    // After the signature, the version, the two empty lists and the record list's start.
    size_t i = 7;
    while (i < t.size() && !t[i].raw && t[i].tag == TagList) {
        size_t j = i + 1;
        while (j < t.size() && !(!t[j].raw && t[j].tag == TagEnd))
            ++j;
        if (j == t.size())
            break;
        out.push_back({i, j + 1});
        i = j + 1;
    }
    return out;
}

// Where a record may go: before the first record, or after any of them.
size_t recordSlot(Rng& rng, const Tokens& t, const std::vector<Span>& spans)
{
    if (spans.empty())
        return std::min<size_t>(t.size(), 7);
    const size_t k = rng() % (spans.size() + 1);
    return k == spans.size() ? spans.back().end : spans[k].begin;
}

void mutateText(Rng& rng, Token& t, size_t maxGrowth)
{
    switch (rng() % 4) {
    case 0: { // the byte mutator inside the value; the length follows
        std::string& p = t.payload;
        if (p.empty())
            p += char(rng());
        const size_t size = p.size();
        p.resize(size + std::min<size_t>(maxGrowth, 64));
        p.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(p.data()), size, p.size()));
        break;
    }
    case 1: // the same bytes under another text tag
        t.tag = pick(rng, std::vector<uint8_t> {TagText, TagLongText, TagUtf8Text, TagWideText});
        break;
    case 2: { // a stretch of characters of the tag's own kind
        std::string piece;
        for (size_t i = 0, n = 1 + rng() % 8; i < n; ++i)
            piece += t.tag == TagUtf8Text ? utf8Piece(rng)
                : t.tag == TagWideText    ? wideUnit(rng)
                                          : std::string(1, char(rng()));
        t.payload.insert(rng() % (t.payload.size() + 1), piece);
        break;
    }
    default: // cut or stretched to a width's edge
        t.payload.resize(textLength(rng, t.tag) * (t.tag == TagWideText ? 2 : 1), 'x');
        break;
    }
}

constexpr size_t MaxRecords = 4;

// One structural change; false when it found nothing to change.
bool mutate(Rng& rng, Tokens& t, size_t maxGrowth)
{
    const std::vector<Span> spans = records(t);
    // A few records reach every path of the reader; more only slow each run down.
    const bool crowded = spans.size() >= MaxRecords;
    switch (rng() % 10) {
    case 0:
    case 1:
    case 2: { // a text value
        std::vector<size_t> texts;
        for (size_t i = 0; i < t.size(); ++i)
            if (!t[i].raw && isText(t[i].tag))
                texts.push_back(i);
        if (texts.empty())
            return false;
        mutateText(rng, t[pick(rng, texts)], maxGrowth);
        return true;
    }
    case 3: { // an integer value, in any width
        std::vector<size_t> ints;
        for (size_t i = 0; i < t.size(); ++i)
            if (!t[i].raw && isInteger(t[i].tag))
                ints.push_back(i);
        if (ints.empty())
            return false;
        t[pick(rng, ints)] = integer(rng);
        return true;
    }
    case 4: { // a field becomes null, or a null field gets a value
        std::vector<size_t> flags;
        for (size_t i = 0; i < t.size(); ++i)
            if (!t[i].raw && (t[i].tag == TagTrue || t[i].tag == TagFalse))
                flags.push_back(i);
        if (flags.empty())
            return false;
        const size_t i = pick(rng, flags);
        if (t[i].tag == TagTrue) {
            t[i].tag = TagFalse;
            t.insert(t.begin() + std::ptrdiff_t(i) + 1, rng() % 2 ? integer(rng) : text(rng));
        } else {
            t[i].tag = TagTrue;
            if (i + 1 < t.size() && !t[i + 1].raw && (isText(t[i + 1].tag) || isInteger(t[i + 1].tag)))
                t.erase(t.begin() + std::ptrdiff_t(i) + 1);
        }
        return true;
    }
    case 5: { // a new record
        if (crowded)
            return false;
        const Tokens r = record(rng);
        t.insert(t.begin() + std::ptrdiff_t(recordSlot(rng, t, spans)), r.begin(), r.end());
        return true;
    }
    case 6: { // a record copied elsewhere, or dropped
        if (spans.empty())
            return false;
        const Span s = pick(rng, spans);
        if (crowded || rng() % 2) {
            t.erase(t.begin() + std::ptrdiff_t(s.begin), t.begin() + std::ptrdiff_t(s.end));
        } else {
            const Tokens copy(t.begin() + std::ptrdiff_t(s.begin), t.begin() + std::ptrdiff_t(s.end));
            t.insert(t.begin() + std::ptrdiff_t(recordSlot(rng, t, spans)), copy.begin(), copy.end());
        }
        return true;
    }
    case 7: { // a value dropped, doubled or swapped with its neighbour: entries out of step
        if (t.size() < 3)
            return false;
        const size_t i = 1 + rng() % (t.size() - 2);
        switch (rng() % 3) {
        case 0:
            t.erase(t.begin() + std::ptrdiff_t(i));
            break;
        case 1:
            t.insert(t.begin() + std::ptrdiff_t(i), t[i]);
            break;
        default:
            std::swap(t[i], t[i + 1]);
        }
        return true;
    }
    case 8: { // a tag byte changed; its payload stays, so the rest is read out of step
        std::vector<size_t> values;
        for (size_t i = 1; i < t.size(); ++i)
            if (!t[i].raw)
                values.push_back(i);
        if (values.empty())
            return false;
        Token& v = t[pick(rng, values)];
        std::string bytes = serialize({v});
        bytes[0] = char(rng() % 4 ? rng() % 0x16 : rng());
        v = {true, 0, bytes};
        return true;
    }
    default: { // the stream ends early, after a value
        if (t.size() < 2)
            return false;
        t.resize(1 + rng() % (t.size() - 1));
        return true;
    }
    }
}

size_t emit(const std::string& out, uint8_t* data, size_t maxSize)
{
    if (out.size() > maxSize)
        return 0;
    std::memcpy(data, out.data(), out.size());
    return out.size();
}

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed)
{
    Rng rng(seed);
    if (rng() % 8 == 0)
        return LLVMFuzzerMutate(data, size, maxSize);
    Tokens tokens = parse(data, size);
    // An input that is not yet a stream starts as an empty register.
    if (tokens.size() < 7 || tokens[0].payload != "TPF0")
        tokens = parse(reinterpret_cast<const uint8_t*>("TPF0\x03\xFB\x00\x01\x00\x01\x00\x01\x00"), 13);
    const size_t changes = 1 + rng() % 3;
    for (size_t i = 0, done = 0; done < changes && i < 4 * changes; ++i)
        done += mutate(rng, tokens, maxSize > size ? maxSize - size : 0);
    const size_t n = emit(serialize(tokens), data, maxSize);
    return n > 0 ? n : LLVMFuzzerMutate(data, size, maxSize);
}

// Records of one input spliced after records of the other, so registers mix whole entries.
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1, const uint8_t* data2, size_t size2,
                                            uint8_t* out, size_t maxOutSize, unsigned int seed)
{
    Rng rng(seed);
    const std::vector<Mark> a = scan(data1, size1);
    const std::vector<Mark> b = scan(data2, size2);
    const std::vector<Span> ra = records(a);
    const std::vector<Span> rb = records(b);
    if (ra.empty() || rb.empty())
        return 0;
    const size_t head = a[pick(rng, ra).end - 1].end;
    const size_t from = b[pick(rng, rb).begin].begin;
    if (head + size2 - from > maxOutSize)
        return 0;
    std::memcpy(out, data1, head);
    std::memcpy(out + head, data2 + from, size2 - from);
    return head + size2 - from;
}
