#include "jsonpath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
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
    // Qt's decoder replaces what is not UTF-8 (overlong forms and
    // surrogates too), so the first byte that differs after a round trip is
    // the first bad one.
    const QByteArray back = QString::fromUtf8(json).toUtf8();
    if (back == json)
        return {};
    int i = 0;
    while (i < json.size() && i < back.size() && json[i] == back[i])
        ++i;
    // Back to the start of the sequence that failed.
    while (i > 0 && (uchar(json[i]) & 0xc0) == 0x80)
        --i;
    return i;
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
std::optional<QString> duplicateKey(const QByteArray &json)
{
    struct Frame
    {
        bool object = false;
        QSet<QString> keys;
        QString key; // the object's current key
        int index = 0; // the array's current element
    };
    std::vector<Frame> stack;
    const auto path = [&stack] {
        QString p;
        for (const Frame &f : stack) {
            if (f.object)
                p += (p.isEmpty() ? QString() : QStringLiteral(".")) + pathKey(f.key);
            else
                p += QStringLiteral("[%1]").arg(f.index);
        }
        return p;
    };
    bool expectKey = false;
    for (int i = 0; i < json.size(); ++i) {
        switch (json[i]) {
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
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            if (i >= json.size())
                return {};
            if (!expectKey || stack.empty() || !stack.back().object)
                break;
            expectKey = false;
            const QByteArray token = json.mid(start, i - start + 1);
            // Compare keys as Qt will see them, escapes decoded.
            const QString key = token.contains('\\')
                ? QJsonDocument::fromJson('[' + token + ']').array().at(0).toString()
                : QString::fromUtf8(token.mid(1, token.size() - 2));
            Frame &f = stack.back();
            f.key = key;
            if (f.keys.contains(key))
                return path();
            f.keys.insert(key);
            break;
        }
        default:
            break;
        }
    }
    return {};
}

} // namespace Vorna::Backend
