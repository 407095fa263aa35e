#ifndef JSONTEXT_H
#define JSONTEXT_H

#include <QJsonDocument>

// JSON text from network clients, parsed. An object that repeats a member whose
// earlier value is an object or an array is refused as not JSON: the parser
// keeps the last of repeated members and never frees the earlier containers,
// so every such message would leak memory. A repeated plain value is parsed,
// the last one winning.
class JsonText
{
public:
    static QJsonDocument parse(const QByteArray& text, QJsonParseError* error = nullptr);
};

#endif
