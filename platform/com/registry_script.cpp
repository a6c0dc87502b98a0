// platform/com/registry_script.cpp: parses a registry script into a tree of items, then applies it
// to a registry tree in one pass. Parse errors throw before the tree is touched.
#include "platform/com/registry_script.h"

#include <cctype>
#include <optional>
#include <vector>

namespace reg {

namespace {

enum class Flag { None, NoRemove, ForceRemove, Delete };

struct Item {
    bool isValue = false;  // "val name = ..."
    Flag flag = Flag::None;
    std::string name;
    std::optional<std::string> value;
    std::vector<Item> children;
};

struct Token {
    enum Kind { Word, Quoted, Open, Close, Equals, End } kind;
    std::string text;
    int line;
};

[[noreturn]] void scriptError(int line, const std::string& what) {
    throw RegistryError("registry script line " + std::to_string(line) + ": " + what);
}

bool iequals(std::string_view a, std::string_view b) {
    CaseLess less;
    return !less(a, b) && !less(b, a);
}

class Lexer {
public:
    Lexer(std::string_view text, const ScriptVariables& vars) : text_(text), vars_(vars) {}

    Token next() {
        skipBlanks();
        if (pos_ >= text_.size()) return {Token::End, {}, line_};
        const char c = text_[pos_];
        if (c == '\'') return {Token::Quoted, quoted(), line_};
        if (c == '=') {
            ++pos_;
            return {Token::Equals, "=", line_};
        }
        std::size_t start = pos_;
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
               text_[pos_] != '=' && text_[pos_] != '\'')
            ++pos_;
        std::string word(text_.substr(start, pos_ - start));
        if (word == "{") return {Token::Open, word, line_};
        if (word == "}") return {Token::Close, word, line_};
        return {Token::Word, substitute(word), line_};
    }

private:
    void skipBlanks() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    std::string quoted() {
        const int startLine = line_;
        std::string raw;
        for (++pos_; pos_ < text_.size(); ++pos_) {
            const char c = text_[pos_];
            if (c == '\'') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                    raw += '\'';
                    ++pos_;
                    continue;
                }
                ++pos_;
                return substitute(raw);
            }
            if (c == '\n') ++line_;
            raw += c;
        }
        scriptError(startLine, "unterminated quoted text");
    }

    std::string substitute(const std::string& raw) {
        std::string out;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '%') {
                out += raw[i];
                continue;
            }
            const std::size_t end = raw.find('%', i + 1);
            if (end == std::string::npos) scriptError(line_, "unpaired '%' in \"" + raw + "\"");
            const std::string name = raw.substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += '%';
            } else {
                auto it = vars_.find(name);
                if (it == vars_.end()) scriptError(line_, "unknown variable %" + name + "%");
                out += it->second;
            }
            i = end;
        }
        return out;
    }

    std::string_view text_;
    const ScriptVariables& vars_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    Parser(std::string_view text, const ScriptVariables& vars) : lex_(text, vars) { advance(); }

    // hive* END
    std::vector<Item> script() {
        std::vector<Item> hives;
        while (tok_.kind != Token::End) {
            if (tok_.kind != Token::Word) scriptError(tok_.line, "a hive name was expected");
            Item hive;
            hive.flag = Flag::NoRemove;
            hive.name = std::string(hiveName(tok_.text));
            advance();
            hive.children = block();
            hives.push_back(std::move(hive));
        }
        return hives;
    }

private:
    void advance() { tok_ = lex_.next(); }

    std::vector<Item> block() {
        if (tok_.kind != Token::Open) scriptError(tok_.line, "'{' was expected");
        advance();
        std::vector<Item> items;
        while (tok_.kind != Token::Close) {
            if (tok_.kind == Token::End) scriptError(tok_.line, "'}' was expected");
            items.push_back(item());
        }
        advance();
        return items;
    }

    std::string name() {
        if (tok_.kind != Token::Word && tok_.kind != Token::Quoted)
            scriptError(tok_.line, "a key name was expected");
        std::string n = tok_.text;
        if (n.empty() || n.find('\\') != std::string::npos)
            scriptError(tok_.line, "bad key name \"" + n + "\"");
        advance();
        return n;
    }

    // "= s 'text'" or "= d 'number'"
    std::string assignment() {
        advance();  // '='
        if (tok_.kind != Token::Word || !(iequals(tok_.text, "s") || iequals(tok_.text, "d")))
            scriptError(tok_.line, "a value type (s or d) was expected");
        const bool number = iequals(tok_.text, "d");
        advance();
        if (tok_.kind != Token::Quoted && tok_.kind != Token::Word)
            scriptError(tok_.line, "a value was expected");
        std::string v = tok_.text;
        if (number && (v.empty() || v.find_first_not_of("0123456789") != std::string::npos))
            scriptError(tok_.line, "\"" + v + "\" is not a number");
        advance();
        return v;
    }

    Item item() {
        Item it;
        if (tok_.kind == Token::Word) {
            if (iequals(tok_.text, "val")) {
                it.isValue = true;
                advance();
                it.name = name();
                if (tok_.kind != Token::Equals) scriptError(tok_.line, "'=' was expected");
                it.value = assignment();
                return it;
            }
            if (iequals(tok_.text, "NoRemove")) it.flag = Flag::NoRemove;
            if (iequals(tok_.text, "ForceRemove")) it.flag = Flag::ForceRemove;
            if (iequals(tok_.text, "Delete")) it.flag = Flag::Delete;
            if (it.flag != Flag::None) advance();
        }
        it.name = name();
        if (tok_.kind == Token::Equals) it.value = assignment();
        if (tok_.kind == Token::Open) it.children = block();
        return it;
    }

    Lexer lex_;
    Token tok_{Token::End, {}, 0};
};

void registerItems(Key& parent, const std::vector<Item>& items) {
    for (const Item& it : items) {
        if (it.isValue) {
            parent.setValue(it.name, *it.value);
            continue;
        }
        if (it.flag == Flag::Delete) {
            parent.remove(it.name);
            continue;
        }
        if (it.flag == Flag::ForceRemove) parent.remove(it.name);
        Key& key = parent.create(it.name);
        if (it.value) key.setDefault(*it.value);
        registerItems(key, it.children);
    }
}

void unregisterItems(Key& parent, const std::vector<Item>& items) {
    for (const Item& it : items) {
        if (it.isValue) {
            parent.removeValue(it.name);
        } else if (it.flag == Flag::NoRemove) {
            if (Key* key = parent.find(it.name)) unregisterItems(*key, it.children);
        } else if (it.flag != Flag::Delete) {
            parent.remove(it.name);
        }
    }
}

}  // namespace

void runRegistryScript(Key& root, std::string_view script, const ScriptVariables& variables,
                       bool registering) {
    const std::vector<Item> hives = Parser(script, variables).script();
    if (registering) {
        registerItems(root, hives);
    } else {
        unregisterItems(root, hives);
    }
}

}  // namespace reg
