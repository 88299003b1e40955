// A small JSON reader and writer: see mini_json.h.
#include "sim/mini_json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mini_json {

Value Value::of(bool b) {
    Value v;
    v.type = Type::Bool;
    v.boolean = b;
    return v;
}
Value Value::of(int64_t n) {
    Value v;
    v.type = Type::Number;
    v.integer = n;
    v.number = static_cast<double>(n);
    v.isInteger = true;
    return v;
}
Value Value::of(double d) {
    Value v;
    v.type = Type::Number;
    v.number = d;
    return v;
}
Value Value::of(std::string s) {
    Value v;
    v.type = Type::String;
    v.string = std::move(s);
    return v;
}
Value Value::makeArray() {
    Value v;
    v.type = Type::Array;
    return v;
}
Value Value::makeObject() {
    Value v;
    v.type = Type::Object;
    return v;
}

const Value* Value::find(std::string_view key) const {
    if (type != Type::Object) return nullptr;
    for (auto it = object.rbegin(); it != object.rend(); ++it)
        if (it->first == key) return &it->second;
    return nullptr;
}

Value& Value::set(const std::string& key, Value value) {
    type = Type::Object;
    for (auto& member : object)
        if (member.first == key) return member.second = std::move(value);
    object.emplace_back(key, std::move(value));
    return object.back().second;
}

Value& Value::push(Value value) {
    type = Type::Array;
    array.push_back(std::move(value));
    return array.back();
}

namespace {

constexpr int kMaxDepth = 64;

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Value> parseDocument(std::string& error) {
        Value value;
        skipBlanks();
        if (!parseValue(value, 0)) {
            error = message();
            return std::nullopt;
        }
        skipBlanks();
        if (pos_ != text_.size()) {
            fail("unexpected text after the value");
            error = message();
            return std::nullopt;
        }
        return value;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
    std::string why_;

    bool fail(const char* why) {
        if (why_.empty()) why_ = why;
        return false;
    }
    std::string message() const {
        int line = 1, column = 1;
        for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + why_;
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }
    void skipBlanks() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++pos_;
    }
    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return fail("invalid literal");
        pos_ += word.size();
        return true;
    }

    bool parseValue(Value& out, int depth) {
        if (depth > kMaxDepth) return fail("nesting too deep");
        switch (peek()) {
            case '{':
                return parseObject(out, depth);
            case '[':
                return parseArray(out, depth);
            case '"':
                out.type = Value::Type::String;
                return parseString(out.string);
            case 't':
                out = Value::of(true);
                return literal("true");
            case 'f':
                out = Value::of(false);
                return literal("false");
            case 'n':
                out = Value();
                return literal("null");
            default:
                if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return parseNumber(out);
                return fail(atEnd() ? "unexpected end of text" : "unexpected character");
        }
    }

    bool parseObject(Value& out, int depth) {
        out = Value::makeObject();
        ++pos_;
        skipBlanks();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipBlanks();
            if (peek() != '"') return fail("expected a member name");
            std::string key;
            if (!parseString(key)) return false;
            skipBlanks();
            if (peek() != ':') return fail("expected ':'");
            ++pos_;
            skipBlanks();
            Value member;
            if (!parseValue(member, depth + 1)) return false;
            out.object.emplace_back(std::move(key), std::move(member));
            skipBlanks();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }

    bool parseArray(Value& out, int depth) {
        out = Value::makeArray();
        ++pos_;
        skipBlanks();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipBlanks();
            Value element;
            if (!parseValue(element, depth + 1)) return false;
            out.array.push_back(std::move(element));
            skipBlanks();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }

    bool hex4(uint32_t& code) {
        if (pos_ + 4 > text_.size()) return fail("short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[pos_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return fail("bad \\u escape");
        }
        return true;
    }

    bool parseString(std::string& out) {
        ++pos_;  // opening quote
        out.clear();
        for (;;) {
            if (atEnd()) return fail("unterminated string");
            char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (atEnd()) return fail("unterminated string");
            char e = text_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t code = 0;
                    if (!hex4(code)) return false;
                    if (code >= 0xD800 && code < 0xDC00) {
                        uint32_t low = 0;
                        if (text_.substr(pos_, 2) != "\\u") return fail("lone surrogate");
                        pos_ += 2;
                        if (!hex4(low)) return false;
                        if (low < 0xDC00 || low >= 0xE000) return fail("bad surrogate pair");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xDC00 && code < 0xE000) {
                        return fail("lone surrogate");
                    }
                    appendUtf8(out, code);
                    break;
                }
                default:
                    return fail("bad escape");
            }
        }
    }

    bool parseNumber(Value& out) {
        size_t start = pos_;
        if (peek() == '-') ++pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9') ++pos_;
        } else {
            return fail("bad number");
        }
        bool integral = true;
        if (peek() == '.') {
            integral = false;
            ++pos_;
            if (!(peek() >= '0' && peek() <= '9')) return fail("bad number");
            while (peek() >= '0' && peek() <= '9') ++pos_;
        }
        if (peek() == 'e' || peek() == 'E') {
            integral = false;
            ++pos_;
            if (peek() == '+' || peek() == '-') ++pos_;
            if (!(peek() >= '0' && peek() <= '9')) return fail("bad number");
            while (peek() >= '0' && peek() <= '9') ++pos_;
        }
        std::string digits(text_.substr(start, pos_ - start));
        out = Value::of(std::strtod(digits.c_str(), nullptr));
        if (integral && digits.size() <= 18) {
            out.integer = std::strtoll(digits.c_str(), nullptr, 10);
            out.isInteger = true;
        }
        return true;
    }
};

void writeValue(std::string& out, const Value& value, int indent, int level) {
    auto newline = [&](int depth) {
        if (indent <= 0) return;
        out += '\n';
        out.append(static_cast<size_t>(indent * depth), ' ');
    };
    switch (value.type) {
        case Value::Type::Null:
            out += "null";
            break;
        case Value::Type::Bool:
            out += value.boolean ? "true" : "false";
            break;
        case Value::Type::Number:
            if (value.isInteger) {
                out += std::to_string(value.integer);
            } else if (std::isfinite(value.number)) {
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, "%.17g", value.number);
                out += buffer;
            } else {
                out += "null";
            }
            break;
        case Value::Type::String:
            out += quote(value.string);
            break;
        case Value::Type::Array:
            if (value.array.empty()) {
                out += "[]";
                break;
            }
            out += '[';
            for (size_t i = 0; i < value.array.size(); ++i) {
                if (i > 0) out += ',';
                newline(level + 1);
                writeValue(out, value.array[i], indent, level + 1);
            }
            newline(level);
            out += ']';
            break;
        case Value::Type::Object:
            if (value.object.empty()) {
                out += "{}";
                break;
            }
            out += '{';
            for (size_t i = 0; i < value.object.size(); ++i) {
                if (i > 0) out += ',';
                newline(level + 1);
                out += quote(value.object[i].first);
                out += indent > 0 ? ": " : ":";
                writeValue(out, value.object[i].second, indent, level + 1);
            }
            newline(level);
            out += '}';
            break;
    }
}

// Length of the valid UTF-8 sequence at `s` (0 when invalid).
size_t utf8Sequence(std::string_view s) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(0);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || length > s.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    if (length == 2 && c < 0xC2) return 0;  // overlong
    return length;
}

}  // namespace

std::optional<Value> parse(std::string_view text, std::string& error) {
    Parser parser(text);
    return parser.parseDocument(error);
}

std::string write(const Value& value, int indent) {
    std::string out;
    writeValue(out, value, indent, 0);
    if (indent > 0) out += '\n';
    return out;
}

std::string quote(std::string_view utf8) {
    std::string out = "\"";
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char buffer[8];
            switch (c) {
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
            }
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            size_t length = utf8Sequence(utf8.substr(i));
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(utf8.substr(i, length));
                i += length;
            }
        }
    }
    out += '"';
    return out;
}

}  // namespace mini_json
