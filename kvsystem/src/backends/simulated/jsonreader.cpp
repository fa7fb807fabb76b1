// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "jsonreader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace Vorna::Backend {

namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A recursive check of one value; the nesting is bounded before (tooDeep).
class Checker
{
public:
    Checker(const char *begin, const char *end)
        : begin(begin)
        , end(end)
        , p(begin)
    { }

    std::optional<qsizetype> run()
    {
        blanks();
        if (!value())
            return p - begin;
        blanks();
        if (p != end)
            return p - begin;
        return {};
    }

private:
    void blanks()
    {
        while (p < end && blank(*p))
            ++p;
    }
    // After an element of an object or array: 1 for a comma (another
    // element follows), 0 for the closing bracket, -1 for anything else.
    int next(char close)
    {
        blanks();
        if (p < end && *p == ',')
            return ++p, 1;
        if (p < end && *p == close)
            return ++p, 0;
        return -1;
    }
    bool literal(const char *word)
    {
        const size_t n = std::strlen(word);
        if (size_t(end - p) < n || std::memcmp(p, word, n) != 0)
            return false;
        p += n;
        return true;
    }
    bool digits()
    {
        const char *start = p;
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
        return p > start;
    }
    bool number()
    {
        if (p < end && *p == '-')
            ++p;
        if (p < end && *p == '0')
            ++p;
        else if (!digits())
            return false;
        if (p < end && *p == '.') {
            ++p;
            if (!digits())
                return false;
        }
        if (p < end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < end && (*p == '+' || *p == '-'))
                ++p;
            if (!digits())
                return false;
        }
        return true;
    }
    bool string()
    {
        ++p; // the opening quote
        while (p < end) {
            const uchar c = uchar(*p);
            if (c == '"') {
                ++p;
                return true;
            }
            // Qt's parser takes control characters in strings as they are.
            if (c == '\\') {
                ++p;
                if (p >= end)
                    return false;
                const char e = *p;
                if (e == 'u') {
                    for (int k = 1; k <= 4; ++k)
                        if (p + k >= end || !std::isxdigit(uchar(p[k])))
                            return false;
                    p += 4;
                } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
                    return false;
                }
            }
            ++p;
        }
        return false;
    }
    bool value()
    {
        if (p >= end)
            return false;
        switch (*p) {
        case '{':
            ++p;
            blanks();
            if (p < end && *p == '}')
                return ++p, true;
            for (;;) {
                blanks();
                if (p >= end || *p != '"' || !string())
                    return false;
                blanks();
                if (p >= end || *p != ':')
                    return false;
                ++p;
                blanks();
                if (!value())
                    return false;
                if (const int more = next('}'); more <= 0)
                    return more == 0;
            }
        case '[':
            ++p;
            blanks();
            if (p < end && *p == ']')
                return ++p, true;
            for (;;) {
                blanks();
                if (!value())
                    return false;
                if (const int more = next(']'); more <= 0)
                    return more == 0;
            }
        case '"':
            return string();
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number();
        }
    }

    const char *const begin;
    const char *const end;
    const char *p;
};

} // namespace

std::optional<qsizetype> jsonSyntaxError(const char *begin, const char *end)
{
    return Checker(begin, end).run();
}

void JsonReader::blanks()
{
    while (p < end && blank(*p))
        ++p;
}

JsonReader::Type JsonReader::type()
{
    blanks();
    switch (*p) {
    case '{':
        return Object;
    case '[':
        return Array;
    case '"':
        return String;
    case 't':
    case 'f':
        return Bool;
    case 'n':
        return Null;
    default:
        return Number;
    }
}

bool JsonReader::boolean()
{
    blanks();
    const bool value = *p == 't';
    p += value ? 4 : 5;
    return value;
}

double JsonReader::number()
{
    blanks();
    const char *start = p;
    const auto inNumber = [](char c) {
        return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
    };
    while (p < end && inNumber(*p))
        ++p;
    // Small integers, the usual case, without strtod.
    const qsizetype n = p - start;
    if (n <= 15) {
        const bool negative = *start == '-';
        const char *d = start + (negative ? 1 : 0);
        qint64 v = 0;
        for (; d < p && *d >= '0' && *d <= '9'; ++d)
            v = v * 10 + (*d - '0');
        if (d == p)
            return negative ? -double(v) : double(v);
    }
    char buffer[64];
    if (n < qsizetype(sizeof buffer)) {
        std::memcpy(buffer, start, size_t(n));
        buffer[n] = '\0';
        return std::strtod(buffer, nullptr);
    }
    return std::strtod(QByteArray(start, int(n)).constData(), nullptr);
}

QString JsonReader::stringAt(const char **at)
{
    const char *q = *at + 1;
    const char *start = q;
    bool plain = true;
    while (*q != '"') {
        if (*q == '\\') {
            plain = false;
            ++q;
        }
        ++q;
    }
    *at = q + 1;
    if (plain)
        return QString::fromUtf8(start, int(q - start));
    QString out;
    QByteArray run;
    const auto flush = [&] {
        out += QString::fromUtf8(run);
        run.clear();
    };
    for (const char *c = start; c < q; ++c) {
        if (*c != '\\') {
            run += *c;
            continue;
        }
        ++c;
        switch (*c) {
        case 'b':
            run += '\b';
            break;
        case 'f':
            run += '\f';
            break;
        case 'n':
            run += '\n';
            break;
        case 'r':
            run += '\r';
            break;
        case 't':
            run += '\t';
            break;
        case 'u': {
            flush();
            out += QChar(ushort(std::strtoul(QByteArray(c + 1, 4).constData(), nullptr, 16)));
            c += 4;
            break;
        }
        default: // " \ /
            run += *c;
        }
    }
    flush();
    return out;
}

QString JsonReader::string()
{
    blanks();
    return stringAt(&p);
}

void JsonReader::skip()
{
    blanks();
    switch (*p) {
    case '"':
        stringAt(&p);
        return;
    case '{':
    case '[': {
        int depth = 0;
        do {
            if (*p == '"') {
                for (++p; *p != '"'; ++p)
                    if (*p == '\\')
                        ++p;
            } else if (*p == '{' || *p == '[') {
                ++depth;
            } else if (*p == '}' || *p == ']') {
                --depth;
            }
            ++p;
        } while (depth > 0);
        return;
    }
    case 't':
    case 'f':
        boolean();
        return;
    case 'n':
        p += 4;
        return;
    default:
        number();
    }
}

void JsonReader::members(std::vector<Member> *out)
{
    out->clear();
    out->reserve(8);
    blanks();
    ++p; // {
    blanks();
    if (*p == '}') {
        ++p;
        return;
    }
    for (;;) {
        blanks();
        const char *start = p + 1;
        const char *q = start;
        while (*q != '"' && *q != '\\')
            ++q;
        QByteArray key = *q == '"' ? QByteArray::fromRawData(start, int(q - start))
                                   : stringAt(&p).toUtf8();
        if (*q == '"')
            p = q + 1;
        blanks();
        ++p; // :
        blanks();
        out->push_back({ std::move(key), position() });
        skip();
        blanks();
        if (*p++ == '}')
            return;
    }
}

void JsonReader::enter()
{
    blanks();
    ++p; // [
}

bool JsonReader::next()
{
    blanks();
    if (*p == ']') {
        ++p;
        return false;
    }
    if (*p == ',') {
        ++p;
        blanks();
    }
    return true;
}

} // namespace Vorna::Backend
