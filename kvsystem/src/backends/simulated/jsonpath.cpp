// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "jsonpath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Vorna::Backend {

QString pathKey(const QString &key)
{
    const bool plain = !key.isEmpty() && std::none_of(key.begin(), key.end(), [](QChar c) {
        return c < QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('[')
            || c == QLatin1Char('"') || c == QLatin1Char('\\');
    });
    if (plain)
        return key;
    const QByteArray quoted = QJsonDocument(QJsonArray { key }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(quoted.mid(1, quoted.size() - 2));
}

std::optional<int> invalidUtf8(const QByteArray &json)
{
    // What Qt's decoder would replace: bytes outside a sequence, overlong
    // forms, surrogates and values beyond U+10FFFF. The offset is where the
    // sequence that fails starts.
    const auto *bytes = reinterpret_cast<const uchar *>(json.constData());
    const int n = json.size();
    for (int i = 0; i < n;) {
        // Eight ASCII bytes at a time: most of a scenario is.
        quint64 word;
        if (i + 8 <= n && (std::memcpy(&word, bytes + i, 8), (word & 0x8080808080808080u) == 0)) {
            i += 8;
            continue;
        }
        const uchar c = bytes[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        const int length = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3
            : c >= 0xf0 && c <= 0xf4                                       ? 4
                                                                           : 0;
        bool valid = length > 0 && i + length <= n;
        for (int k = 1; valid && k < length; ++k)
            valid = (bytes[i + k] & 0xc0) == 0x80;
        if (valid && length > 2) {
            const uchar second = bytes[i + 1];
            valid = !(c == 0xe0 && second < 0xa0) && !(c == 0xed && second >= 0xa0)
                && !(c == 0xf0 && second < 0x90) && !(c == 0xf4 && second >= 0x90);
        }
        if (!valid)
            return i;
        i += length;
    }
    return {};
}

std::optional<int> tooDeep(const QByteArray &json, int maxDepth)
{
    int depth = 0;
    for (int i = 0; i < json.size(); ++i) {
        switch (json[i]) {
        case '{':
        case '[':
            if (++depth > maxDepth)
                return i;
            break;
        case '}':
        case ']':
            --depth;
            break;
        case '"':
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            break;
        default:
            break;
        }
    }
    return {};
}

// Qt's parser silently keeps the last of two equal keys (and, in Qt 5, leaks
// the container values it drops), while two entries for one key in a
// scenario are nearly always a mistake worth pointing at.
namespace {

// A key as it stands in the text (a type of this file's own, so that the
// containers made for it stay out of the library's exported symbols).
struct KeyText
{
    QByteArray bytes;
};

} // namespace

std::optional<QString> duplicateKey(const QByteArray &json)
{
    // Keys as they stand in the text; one with an escape is decoded, so
    // that "a" and "\u0061" are one key. Objects are small: a linear look
    // among the keys so far costs less than hashing them.
    struct Frame
    {
        bool object = false;
        std::vector<KeyText> keys;
        QSet<QByteArray> many; // the keys of a large object, hashed
        int index = 0; // the array's current element
    };
    std::vector<Frame> stack;
    const auto decoded = [](const QByteArray &token) {
        return token.contains('\\')
            ? QJsonDocument::fromJson('[' + token + ']').array().at(0).toString().toUtf8()
            : token.mid(1, token.size() - 2);
    };
    const auto path = [&stack] {
        QString p;
        for (const Frame &f : stack) {
            // An object without a key yet holds what is no JSON ({{...): no step.
            if (f.object && f.keys.empty())
                continue;
            if (f.object)
                p += (p.isEmpty() ? QString() : QStringLiteral("."))
                    + pathKey(QString::fromUtf8(f.keys.back().bytes));
            else
                p += QStringLiteral("[%1]").arg(f.index);
        }
        return p;
    };
    bool expectKey = false;
    const char *const text = json.constData();
    for (int i = 0; i < json.size(); ++i) {
        switch (text[i]) {
        case '{':
            stack.push_back({ true, {}, {}, 0 });
            expectKey = true;
            break;
        case '[':
            stack.push_back({ false, {}, {}, 0 });
            expectKey = false;
            break;
        case '}':
        case ']':
            if (stack.empty())
                return {};
            stack.pop_back();
            break;
        case ',':
            if (stack.empty())
                return {};
            if (stack.back().object)
                expectKey = true;
            else
                ++stack.back().index;
            break;
        case '"': {
            const int start = i;
            bool escaped = false;
            for (++i; i < json.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\') {
                    escaped = true;
                    ++i;
                }
            }
            if (i >= json.size())
                return {};
            if (!expectKey || stack.empty() || !stack.back().object)
                break;
            expectKey = false;
            const QByteArray token = QByteArray::fromRawData(text + start, i - start + 1);
            QByteArray key = escaped ? decoded(token) : QByteArray::fromRawData(text + start + 1, i - start - 1);
            Frame &f = stack.back();
            if (f.keys.size() == 32) {
                for (const KeyText &k : f.keys)
                    f.many.insert(k.bytes);
            }
            const bool seen = f.keys.size() >= 32 ? f.many.contains(key)
                                                  : std::any_of(f.keys.begin(), f.keys.end(),
                                                      [&](const KeyText &k) { return k.bytes == key; });
            if (f.keys.size() >= 32)
                f.many.insert(key);
            f.keys.push_back({ std::move(key) });
            if (seen)
                return path();
            break;
        }
        default:
            break;
        }
    }
    return {};
}

} // namespace Vorna::Backend
