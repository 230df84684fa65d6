#include "cli/JsonWriter.h"

#include <cstdio>

void JsonWriter::BeforeValue() {
    if (needComma_) text_ += ',';
    needComma_ = false;
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    text_ += bracket;
}

void JsonWriter::Close(char bracket) {
    text_ += bracket;
    needComma_ = true;
}

void JsonWriter::BeginObject() { Open('{'); }

void JsonWriter::EndObject() { Close('}'); }

void JsonWriter::BeginArray() { Open('['); }

void JsonWriter::EndArray() { Close(']'); }

void JsonWriter::Key(const std::string& name) {
    BeforeValue();
    Escaped(name);
    text_ += ':';
}

void JsonWriter::String(const std::string& text) {
    BeforeValue();
    Escaped(text);
    needComma_ = true;
}

void JsonWriter::Number(uint64_t value) {
    BeforeValue();
    text_ += std::to_string(value);
    needComma_ = true;
}

void JsonWriter::Boolean(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
    needComma_ = true;
}

void JsonWriter::Escaped(const std::string& text) {
    text_ += '"';
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            text_ += '\\';
            text_ += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", unsigned{byte});
            text_ += escape;
        } else {
            text_ += c;
        }
    }
    text_ += '"';
}
