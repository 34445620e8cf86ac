#pragma once
// The filter language's syntax: the tree a filter text is read into and the
// parser that reads it (FilterSyntax.cpp), for the compiler in
// FilterLanguage.cpp. Only the records library's filter compiler uses it.

#include "records/FilterLanguage.h"

#include <QChar>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

namespace FilterSyntax {

// ---------------------------------------------------------------- syntax tree

enum class Kind { Field, Number, Text, Null, Bool, Neg, Arith, Compare, Not, And, Or };

struct Node {
    Kind kind;
    int pos = 0;          // 0-based index the node starts at
    int opAt = 0;         // Compare: where its operator stands
    int field = -1;       // Field: index into the field list
    QString raw;          // Number: as written (with a folded sign); Text: the value
    QVariant number;      // Number: qlonglong or double
    bool truth = false;   // Bool
    QString op;           // Compare: the comparison
    std::vector<std::unique_ptr<Node>> kids;
    std::vector<QChar> ops;     // Arith: the operator before kids[i+1]
    std::vector<int> opPos;     // Arith: where each of ops stands

    Node(Kind k, int p) : kind(k), pos(p) {}
};
using NodePtr = std::unique_ptr<Node>;

// Raises EFilterError with what + " в позиции " + the 1-based position of
// the 0-based index.
[[noreturn]] void failAt(const QString &what, int index);

// A piece of the filter text for a message, shortened to 40 characters.
QString shown(const QString &text);

// Reads a filter text that is not blank into its tree, against the fields of
// one table; raises EFilterError.
NodePtr parse(const QString &text, const QList<FilterField> &fields);

} // namespace FilterSyntax
