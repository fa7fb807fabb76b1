// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BACKENDS_SIMULATED_JSONREADER_H
#define KVSYSTEM_SRC_BACKENDS_SIMULATED_JSONREADER_H

// Reading JSON text in place, value by value, without building a document:
// a scenario of half a million readings then costs the readings and the
// text, not a tree of objects ten times the text's size.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace Vorna::Backend {

// Where the text is not JSON, if anywhere: the offset at which a parser
// fails (the text is taken as UTF-8 already checked).
std::optional<qsizetype> jsonSyntaxError(const char *begin, const char *end);

// A cursor over text that jsonSyntaxError() accepted.
class JsonReader
{
public:
    enum Type { Null, Bool, Number, String, Array, Object };

    struct Member
    {
        QByteArray key; // UTF-8; usually the text's own bytes, not a copy
        qsizetype value; // where its value starts
    };

    JsonReader(const char *begin, const char *end)
        : begin(begin)
        , end(end)
        , p(begin)
    { }

    // The type of the value at the cursor.
    Type type();
    qsizetype position() const { return p - begin; }
    void seek(qsizetype offset) { p = begin + offset; }

    // Each reads the value at the cursor, of the type it expects, and moves past it.
    bool boolean();
    double number();
    QString string();
    void skip();
    // An object's members in the text's order; the cursor moves past it.
    void members(std::vector<Member> *out);
    // An array's elements: enter(), then while (next()) read one element.
    void enter();
    bool next();

private:
    void blanks();
    QString stringAt(const char **at);

    const char *const begin;
    const char *const end;
    const char *p;
};

} // namespace Vorna::Backend

#endif
