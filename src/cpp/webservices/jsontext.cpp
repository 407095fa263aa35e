#include "jsontext.h"

#include <QHash>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace {
// The string that starts at json[start] (a quote) with its escapes resolved as
// the parser resolves them, also the lenient way it takes an unknown escape as
// the character itself; false when it is cut short or a \u escape is broken.
bool readString(const QByteArray& json, int start, int* end, QString* text)
{
    text->clear();
    int run = start + 1;
    for (int i = run; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c != '"' && c != '\\')
            continue;
        text->append(QString::fromUtf8(json.constData() + run, i - run));
        if (c == '"') {
            *end = i;
            return true;
        }
        if (++i >= json.size())
            return false;
        const char escaped = json.at(i);
        if (escaped == 'u') {
            const QByteArray hex = json.mid(i + 1, 4);
            if (hex.size() != 4 || !std::all_of(hex.cbegin(), hex.cend(), [](char h) {
                    return isxdigit(uchar(h));
                }))
                return false;
            text->append(QChar(ushort(hex.toUInt(nullptr, 16))));
            i += 4;
        } else {
            static const char letters[] = "bfnrt";
            const char* at = escaped ? strchr(letters, escaped) : nullptr;
            text->append(QLatin1Char(at ? "\b\f\n\r\t"[at - letters] : escaped));
        }
        run = i + 1;
    }
    return false;
}

// Whether an object of the text repeats a member whose earlier value is an
// object or an array. Qt 5.15's parser keeps the last of repeated members and
// loses the earlier containers without freeing them, so every such message
// would leak memory. The scan follows strings and brackets only: wherever it
// and the parser could disagree, the text is not JSON and the parser stops
// before it finishes the object concerned.
bool repeatsContainerMember(const QByteArray& json)
{
    enum Expect { Key, Value, Next };
    struct Level
    {
        bool object;
        Expect expect;
        QString key;
        QHash<QString, bool> members; // key -> an occurrence so far held a container
    };
    std::vector<Level> levels;
    // False when the member just read repeats one whose earlier value was a container.
    const auto member = [&levels](bool container) {
        Level& level = levels.back();
        level.expect = Next;
        auto seen = level.members.find(level.key);
        if (seen == level.members.end()) {
            level.members.insert(level.key, container);
            return true;
        }
        if (*seen)
            return false;
        *seen = container;
        return true;
    };
    for (int i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        const bool awaited
            = !levels.empty() && levels.back().object && levels.back().expect == Value;
        if (c == '"') {
            QString text;
            if (!readString(json, i, &i, &text))
                return false;
            if (!levels.empty() && levels.back().object && levels.back().expect == Key) {
                levels.back().key = text;
                levels.back().expect = Value;
            } else if (awaited && !member(false)) {
                return true;
            }
        } else if (c == '{' || c == '[') {
            if (awaited && !member(true))
                return true;
            levels.push_back({ c == '{', Key, QString(), {} });
        } else if (c == '}' || c == ']') {
            if (levels.empty())
                return false;
            levels.pop_back();
        } else if (c == ',') {
            if (!levels.empty() && levels.back().object)
                levels.back().expect = Key;
        } else if (c != ':' && awaited && !member(false)) {
            return true;
        }
    }
    return false;
}
} // namespace

QJsonDocument JsonText::parse(const QByteArray& text, QJsonParseError* error)
{
    if (repeatsContainerMember(text)) {
        if (error)
            *error = { 0, QJsonParseError::IllegalValue };
        return QJsonDocument();
    }
    return QJsonDocument::fromJson(text, error);
}
