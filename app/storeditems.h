// Stored text items: short texts (banner, window title, about text, product
// title) kept zlib-compressed inside the program and inflated when needed.
//
// Item layout: [4-byte LE L][L bytes of a zlib stream]; the stream inflates
// to [4-byte LE N][N bytes of text, lines separated by CR LF].
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace q274 {

class StoredItemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Inflates one item and returns its text lines. Throws StoredItemError for
// an item whose lengths do not fit or whose stream does not inflate.
QStringList InflateStoredItem(const QByteArray &item);

// Loads the built-in item of that name ("a1", "a2", "x1", "y99").
QStringList LoadStoredItem(const QString &name);

} // namespace q274
