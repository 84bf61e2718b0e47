// JsonReader: reads JSON text front to back without building a document, for
// big answers of which little is kept (a directory's 20,000 stations of some
// 30 fields each, of which a list keeps 8): each value is either read or
// skipped, and a skipped one is checked, not copied.
//
// Strict JSON (RFC 8259): anything else (a trailing comma, a raw control
// character in a string, a bad escape, text after the value) is an error,
// after which every call fails and finish() says false. Strings are UTF-8;
// an invalid sequence, or a lone surrogate escaped, becomes U+FFFD. Values
// skipped may nest at most kMaxDepth deep.
//
// The caller walks the text in order:
//   JsonReader json(bytes);
//   if (!json.enterArray()) ...;           // not an array
//   while (json.nextElement()) {           // false after ']', or at an error
//       if (json.peek() != JsonReader::Type::object) { json.skip(); continue; }
//       json.enterObject();
//       while (json.nextMember()) {        // key() is the member's key
//           if (json.key() == "name") json.readString(name); else json.skip();
//       }
//   }
//   if (!json.finish()) ...;               // not JSON, or more after it
// After nextElement() or nextMember() says true, exactly one value must be
// read, entered or skipped before the next call.
//
// One thread at a time; the text must outlive the reader.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <string>
#include <vector>

namespace orvento {

class JsonReader {
  public:
    static constexpr int kMaxDepth = 256;
    // What comes next. error: the text is no JSON there (or was before).
    enum class Type { error, object, array, string, number, literal };

    explicit JsonReader(QByteArrayView text);

    Type peek();
    bool enterArray();
    bool enterObject();
    // Within the array or object entered last: whether another element or
    // member follows (after the closing bracket, the one around is the
    // current one again).
    bool nextElement();
    bool nextMember();
    // The key of the member nextMember() found, UTF-8 with its escapes
    // resolved; valid until the next call.
    QByteArrayView key() const { return key_; }
    // The value next, which must be a string, or a number; false otherwise
    // (nothing is read then, and it is no error: skip() it).
    bool readString(QString& out);
    bool readNumber(double& out);
    bool skip();
    // No error, every array and object entered closed, nothing but blanks left.
    bool finish();
    bool failed() const { return failed_; }

  private:
    enum class Level { arrayFirst, arrayNext, objectFirst, objectNext };

    void blanks();
    bool fail();
    bool at(char c);  // after blanks: the next character is `c` (not taken)
    // The string at pos_ (its opening quote), decoded into `out` when given.
    bool string(std::string* out, QByteArrayView* plain);
    bool number(double* out);
    bool literal();
    bool skipValue(int depth);
    bool next(Level first, Level further, char close);

    const char* pos_;
    const char* const end_;
    bool failed_ = false;
    std::vector<Level> levels_;
    QByteArrayView key_;
    std::string keyBuffer_;  // key_ when it held escapes
    std::string textBuffer_;
};

}  // namespace orvento
