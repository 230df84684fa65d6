#pragma once

#include <cstdint>
#include <string>

// Builds one JSON document: objects, arrays, strings, numbers and booleans, with the commas
// between members. Strings are escaped whole: a drive's texts may hold any byte, which leaves
// as \u00XX (taken as Latin-1) so that the document stays valid UTF-8.
class JsonWriter {
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The member name of the next value inside an object.
    void Key(const std::string& name);
    void String(const std::string& text);
    void Number(uint64_t value);
    void Boolean(bool value);

    const std::string& Text() const { return text_; }

private:
    void BeforeValue();
    // A bracket that opens an object or array, and one that closes it.
    void Open(char bracket);
    void Close(char bracket);
    void Escaped(const std::string& text);

    std::string text_;
    bool needComma_ = false;
};
