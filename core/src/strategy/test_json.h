// Test-only: builds json::Value fixtures from JSON text. Strict enough for
// hand-written fixtures, not a conforming reader: malformed text fails the
// current test and yields null. Number kinds follow the request reader: an
// integer literal is unsigned or negative, anything with a fraction or
// exponent (and -0) is a double; a repeated key keeps the later value at the
// first position.
#ifndef VELKOR_STRATEGY_TEST_JSON_H_
#define VELKOR_STRATEGY_TEST_JSON_H_

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/value.h"

namespace velkor::strategy::testing {

class TestJsonParser {
 public:
  explicit TestJsonParser(std::string_view text) : text_(text) {}

  json::Value parse_document() {
    json::Value v = parse_value();
    skip_space();
    if (ok_ && pos_ != text_.size()) fault("trailing text");
    return ok_ ? std::move(v) : json::Value();
  }

 private:
  void fault(std::string_view what) {
    if (ok_) ADD_FAILURE() << "bad test JSON (" << what << ") at byte " << pos_ << ": " << text_;
    ok_ = false;
  }
  void skip_space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool eat(char c) {
    skip_space();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool eat_word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  json::Value parse_value() {
    skip_space();
    if (!ok_ || pos_ >= text_.size()) {
      fault("value expected");
      return {};
    }
    const char c = text_[pos_];
    if (c == '{') return parse_object();
    if (c == '[') return parse_array();
    if (c == '"') return json::Value::string(parse_string());
    if (eat_word("null")) return {};
    if (eat_word("true")) return json::Value::boolean(true);
    if (eat_word("false")) return json::Value::boolean(false);
    return parse_number();
  }

  json::Value parse_object() {
    ++pos_;
    json::Object object;
    if (eat('}')) return json::Value::object(std::move(object));
    do {
      skip_space();
      if (pos_ >= text_.size() || text_[pos_] != '"') {
        fault("key expected");
        return {};
      }
      std::string key = parse_string();
      if (!eat(':')) fault("':' expected");
      object.set(std::move(key), parse_value());
    } while (ok_ && eat(','));
    if (!eat('}')) fault("'}' expected");
    return json::Value::object(std::move(object));
  }

  json::Value parse_array() {
    ++pos_;
    json::Array items;
    if (eat(']')) return json::Value::array(std::move(items));
    do {
      items.push_back(parse_value());
    } while (ok_ && eat(','));
    if (!eat(']')) fault("']' expected");
    return json::Value::array(std::move(items));
  }

  void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    } else {
      out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    }
  }

  std::uint32_t parse_hex4() {
    std::uint32_t cp = 0;
    auto [end, ec] = std::from_chars(text_.data() + pos_, text_.data() + std::min(pos_ + 4, text_.size()), cp, 16);
    if (ec != std::errc() || end != text_.data() + pos_ + 4) fault("bad \\u escape");
    pos_ += 4;
    return cp;
  }

  std::string parse_string() {
    ++pos_;
    std::string out;
    while (ok_ && pos_ < text_.size() && text_[pos_] != '"') {
      const char c = text_[pos_++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) break;
      switch (const char e = text_[pos_++]) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          std::uint32_t cp = parse_hex4();
          if (cp >= 0xd800 && cp < 0xdc00 && eat_word("\\u")) {
            cp = 0x10000 + ((cp - 0xd800) << 10) + (parse_hex4() - 0xdc00);
          }
          append_utf8(out, cp);
          break;
        }
        default: out.push_back(e); break;  // '"', '\\', '/'
      }
    }
    if (!eat('"')) fault("unterminated string");
    return out;
  }

  json::Value parse_number() {
    const std::size_t start = pos_;
    bool integral = true;
    while (pos_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[pos_]) != std::string_view::npos) {
      if (std::string_view(".eE").find(text_[pos_]) != std::string_view::npos) integral = false;
      ++pos_;
    }
    const std::string_view literal = text_.substr(start, pos_ - start);
    const char* first = literal.data();
    const char* last = literal.data() + literal.size();
    if (literal.empty()) {
      fault("value expected");
      return {};
    }
    if (integral && literal != "-0") {
      if (literal[0] == '-') {
        std::int64_t i = 0;
        auto [end, ec] = std::from_chars(first, last, i);
        if (ec == std::errc() && end == last) return json::Value::signed_integer(i);
      } else {
        std::uint64_t u = 0;
        auto [end, ec] = std::from_chars(first, last, u);
        if (ec == std::errc() && end == last) return json::Value::unsigned_integer(u);
      }
    }
    double d = 0;
    if (std::from_chars(first, last, d).ptr != last) fault("bad number");
    return json::Value::floating(d);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

inline json::Value parse_json(std::string_view text) { return TestJsonParser(text).parse_document(); }

}  // namespace velkor::strategy::testing

#endif  // VELKOR_STRATEGY_TEST_JSON_H_
