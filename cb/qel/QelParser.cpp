// Scanner and recursive-descent parser of QEL. Priorities, low to high:
// the conditional (groups to the right), || and && on one level, == !=,
// >= <= > <, + -, * / %, prefix ! and -, then component selection and unit
// suffixes on the operand they follow. A "-" where an operand is expected,
// directly followed by digits, is part of the number.
#include "cb/qel/QelParser.h"

#include <cfloat>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "cb/qel/QelNodes.h"
#include "zt/array1.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

using Cbp::QelNode;
using NodePtr = std::unique_ptr<QelNode>;

// Damaged texts must fail cleanly, not exhaust the stack: bounds on the
// parser's recursion and on the height of the tree built (which evaluation
// and destruction walk recursively).
constexpr int kMaxNesting = 512;
constexpr int kMaxTreeHeight = 1024;

// Any syntax error; parseExpression turns it into the message with the text.
struct SyntaxError {};

[[noreturn]] void fail() { throw SyntaxError{}; }

// ---- Words

struct Word {
    enum Kind { kFunction, kVariable, kUnit } kind;
    int arity;  // functions only
    NodePtr (*make)();
};

template <class N>
NodePtr makeNode() {
    return std::make_unique<N>();
}

using WordTable = std::map<std::string, Word, std::less<>>;

std::shared_ptr<const WordTable> buildWordTable() {
    using namespace Cbp;
    auto table = std::make_shared<WordTable>();
    auto function = [&](const char* text, int arity, NodePtr (*make)()) {
        table->emplace(text, Word{Word::kFunction, arity, make});
    };
    auto variable = [&](const char* text, NodePtr (*make)()) {
        table->emplace(text, Word{Word::kVariable, 0, make});
    };
    function("sin", 1, makeNode<QelSin>);
    function("cos", 1, makeNode<QelCos>);
    function("tan", 1, makeNode<QelTan>);
    function("abs", 1, makeNode<QelAbs>);
    function("floor", 1, makeNode<QelFloor>);
    function("ceil", 1, makeNode<QelCeil>);
    function("round", 1, makeNode<QelRound>);
    function("sqr", 1, makeNode<QelSqr>);
    function("sqrt", 1, makeNode<QelSqrt>);
    function("pow", 2, makeNode<QelPow>);
    function("min", 2, makeNode<QelMin>);
    function("max", 2, makeNode<QelMax>);
    function("clamp", 3, makeNode<QelClamp>);
    function("smoothstep", 3, makeNode<QelSmoothstep>);
    function("mag", 1, makeNode<QelMag>);
    function("mag2", 1, makeNode<QelMag2>);
    function("norm", 1, makeNode<QelNorm>);
    function("vec", 3, makeNode<QelVec>);
    function("dot", 2, makeNode<QelDot>);
    function("cross", 2, makeNode<QelCross>);
    function("grad", 1, makeNode<QelGrad>);
    function("curv", 1, makeNode<QelCurv>);
    function("curl", 1, makeNode<QelCurl>);
    function("mix", 3, makeNode<QelMix>);
    function("remap", 5, makeNode<QelRemap>);
    function("remaps", 5, makeNode<QelRemaps>);
    function("rand", 0, makeNode<QelRand>);
    function("noise", 1, [] { return NodePtr(new QelNoise(false)); });
    function("snoise", 1, [] { return NodePtr(new QelNoise(true)); });
    variable("time", makeNode<QelTime>);
    variable("timestep", makeNode<QelTimestep>);
    variable("frame", makeNode<QelFrame>);
    variable("dt", makeNode<QelDt>);
    variable("frameDt", makeNode<QelFrameDt>);
    variable("posx", [] { return NodePtr(new QelPos(0)); });
    variable("posy", [] { return NodePtr(new QelPos(1)); });
    variable("posz", [] { return NodePtr(new QelPos(2)); });
    variable("bname", makeNode<QelBName>);
    for (const char* unit : {"dx", "cells", "cell", "voxel", "voxels"})
        table->emplace(unit, Word{Word::kUnit, 0, nullptr});
    return table;
}

std::mutex g_tableMutex;
std::shared_ptr<const WordTable> g_wordTable;

std::shared_ptr<const WordTable> wordTable() {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (!g_wordTable) g_wordTable = buildWordTable();
    return g_wordTable;
}

// ---- Scanner

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isWordStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isWordChar(char c) { return isWordStart(c) || isDigit(c); }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isOneOf(char c, std::string_view set) { return c != '\0' && set.find(c) != std::string_view::npos; }

enum class Kind { kEnd, kInteger, kFloat, kString, kWord, kOp };

struct Token {
    Kind kind = Kind::kEnd;
    std::string_view text;  // strings: the characters between the quotes
    bool blankBefore = false;
    bool numberFollows = false;  // a "-" directly followed by a decimal number
};

class Scanner {
public:
    explicit Scanner(std::string_view text) : s_(text) {}

    const Token& peek() {
        if (!cached_) {
            next_ = scan();
            cached_ = true;
        }
        return next_;
    }
    Token take() {
        peek();
        cached_ = false;
        pos_ = after_;
        return next_;
    }
    bool peekOp(std::string_view op) {
        const Token& t = peek();
        return t.kind == Kind::kOp && t.text == op;
    }

    // The number that starts with the "-" token under peek().
    Token takeSignedNumber() {
        peek();
        cached_ = false;
        size_t start = pos_;
        while (isBlank(s_[start])) ++start;
        Token t;
        t.kind = numberAt(start + 1, &after_);
        t.text = s_.substr(start, after_ - start);
        pos_ = after_;
        return t;
    }

    // The curve degree digit, which exists only right after "~": 0 when
    // the next character is not 1, 2 or 3.
    int takeDegree() {
        cached_ = false;
        while (isBlank(at(pos_))) ++pos_;
        const char c = at(pos_);
        if (c < '1' || c > '3') return 0;
        ++pos_;
        return c - '0';
    }

private:
    char at(size_t i) const { return i < s_.size() ? s_[i] : '\0'; }

    // Length of an exponent ([eE][+-]?digits) at i, or 0.
    size_t exponentAt(size_t i) const {
        if (!isOneOf(at(i), "eE")) return 0;
        size_t j = i + 1;
        if (isOneOf(at(j), "+-")) ++j;
        if (!isDigit(at(j))) return 0;
        while (isDigit(at(j))) ++j;
        return j - i;
    }

    // A decimal integer or float starting at i (no sign); kEnd when none.
    Kind numberAt(size_t i, size_t* end) const {
        size_t j = i;
        while (isDigit(at(j))) ++j;
        const bool digits = j > i;
        if (at(j) == '.' && (digits || isDigit(at(j + 1)))) {
            ++j;
            while (isDigit(at(j))) ++j;
            j += exponentAt(j);
            if (isOneOf(at(j), "fFlL")) ++j;
            *end = j;
            return Kind::kFloat;
        }
        if (!digits) return Kind::kEnd;
        if (const size_t e = exponentAt(j)) {
            j += e;
            if (isOneOf(at(j), "fFlL")) ++j;
            *end = j;
            return Kind::kFloat;
        }
        if (isOneOf(at(j), "uUlL")) ++j;
        *end = j;
        return Kind::kInteger;
    }

    bool hexAt(size_t i) const { return at(i) == '0' && isOneOf(at(i + 1), "xX") && isHexDigit(at(i + 2)); }

    Token scan() {
        Token t;
        size_t i = pos_;
        while (isBlank(at(i))) ++i;
        t.blankBefore = i > pos_ || pos_ == 0;
        const char c = at(i);
        size_t j = i;
        if (i >= s_.size()) {
            t.kind = Kind::kEnd;
        } else if (hexAt(i)) {
            j = i + 2;
            while (isHexDigit(at(j))) ++j;
            if (isOneOf(at(j), "uUlL")) ++j;
            t.kind = Kind::kInteger;
        } else if (const Kind number = numberAt(i, &j); number != Kind::kEnd) {
            t.kind = number;
        } else if (isWordStart(c)) {
            while (isWordChar(at(j))) ++j;
            t.kind = Kind::kWord;
        } else if (c == '"' || c == '\'') {
            j = i + 1;
            while (at(j) != c) {
                if (j >= s_.size()) fail();
                j += at(j) == '\\' ? 2 : 1;
            }
            if (j >= s_.size()) fail();
            t.kind = Kind::kString;
            t.text = s_.substr(i + 1, j - i - 1);
            after_ = j + 1;
            return t;
        } else {
            static constexpr std::string_view kOps[] = {"||", "&&", "==", "!=", "=>", ">=", "<=", ">", "<", "!",
                                                        "+",  "-",  "*",  "/",  "%",  "?",  ":",  "[", "]", "(",
                                                        ")",  ",",  "$",  "~",  "@",  "."};
            t.kind = Kind::kOp;
            for (std::string_view op : kOps) {
                if (s_.substr(i, op.size()) == op) {
                    j = i + op.size();
                    break;
                }
            }
            if (j == i) fail();
            size_t end = 0;
            t.numberFollows = c == '-' && !hexAt(j) && numberAt(j, &end) != Kind::kEnd;
        }
        t.text = s_.substr(i, j - i);
        after_ = j;
        return t;
    }

    std::string_view s_;
    size_t pos_ = 0;
    size_t after_ = 0;
    Token next_;
    bool cached_ = false;
};

// ---- Parser

struct Parsed {
    NodePtr node;  // null: an absent child
    int height = 0;
};

int binaryPrecedence(std::string_view op) {
    if (op == "||" || op == "&&") return 6;
    if (op == "==" || op == "!=") return 7;
    if (op == ">=" || op == "=>" || op == "<=" || op == ">" || op == "<") return 8;
    if (op == "+" || op == "-") return 9;
    if (op == "*" || op == "/" || op == "%") return 10;
    return 0;
}

NodePtr makeBinary(std::string_view op) {
    using namespace Cbp;
    if (op == "||") return makeNode<QelLor>();
    if (op == "&&") return makeNode<QelLand>();
    if (op == "==") return makeNode<QelEq>();
    if (op == "!=") return makeNode<QelNotEq>();
    if (op == ">=" || op == "=>") return makeNode<QelGtEq>();
    if (op == "<=") return makeNode<QelLtEq>();
    if (op == ">") return makeNode<QelGt>();
    if (op == "<") return makeNode<QelLt>();
    if (op == "+") return makeNode<QelPlus>();
    if (op == "-") return makeNode<QelMinus>();
    if (op == "*") return makeNode<QelMul>();
    if (op == "/") return makeNode<QelDiv>();
    return makeNode<QelMod>();
}

Parsed leaf(QelNode* node) { return {NodePtr(node), 1}; }

// The parent with its children in order (absent ones as null slots).
Parsed adoptAll(NodePtr parent, std::vector<Parsed>& children) {
    int height = 0;
    for (const Parsed& c : children)
        if (c.node && c.height > height) height = c.height;
    if (height + 1 > kMaxTreeHeight) fail();
    for (Parsed& c : children) parent->addChild(c.node.release());
    return {std::move(parent), height + 1};
}

template <class... Children>
Parsed adopt(NodePtr parent, Children&&... children) {
    std::vector<Parsed> list;
    (list.push_back(std::move(children)), ...);
    return adoptAll(std::move(parent), list);
}

class Parser {
public:
    Parser(std::string_view text, const WordTable& words) : scan_(text), words_(words) {}

    NodePtr parse() {
        Parsed root = parseCond();
        if (scan_.peek().kind != Kind::kEnd) fail();
        return std::move(root.node);
    }

private:
    class Nesting {
    public:
        explicit Nesting(int& depth) : depth_(depth) {
            if (++depth_ > kMaxNesting) fail();
        }
        ~Nesting() { --depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        int& depth_;
    };

    void expectOp(std::string_view op) {
        if (!scan_.peekOp(op)) fail();
        scan_.take();
    }

    Token expect(Kind kind) {
        if (scan_.peek().kind != kind) fail();
        return scan_.take();
    }

    // "(" expr ")" when the next token opens one; absent otherwise.
    Parsed optionalArgument() {
        if (!scan_.peekOp("(")) return {};
        scan_.take();
        Parsed p = parseExpr();
        expectOp(")");
        return p;
    }

    static Parsed stringConstant(const Token& t) { return leaf(new Cbp::QelStringConstant(std::string(t.text))); }

    static Parsed numberConstant(const Token& t) {
        const float value = float(std::strtod(std::string(t.text).c_str(), nullptr));
        if (t.kind == Kind::kFloat) return leaf(new Cbp::QelFloatConstant(value));
        return leaf(new Cbp::QelIntConstant(value));
    }

    // cond_expr: expr, or expr ? cond_expr : cond_expr.
    Parsed parseCond() {
        Nesting nesting(depth_);
        Parsed a = parseExpr();
        if (!scan_.peekOp("?")) return a;
        scan_.take();
        Parsed b = parseCond();
        expectOp(":");
        Parsed c = parseCond();
        return adopt(makeNode<Cbp::QelCond>(), a, b, c);
    }

    // expr. In a keyframe list a blank followed by a negative number starts
    // the next keyframe ("~[0:1 -10:0]") instead of subtracting.
    Parsed parseExpr(bool keyframe = false) { return parseBinary(6, keyframe); }

    Parsed parseBinary(int minPrecedence, bool keyframe) {
        Parsed left = parseUnary();
        for (;;) {
            const Token& t = scan_.peek();
            if (t.kind != Kind::kOp) break;
            const int precedence = binaryPrecedence(t.text);
            if (precedence == 0 || precedence < minPrecedence) break;
            if (keyframe && t.numberFollows && t.blankBefore) break;
            const Token op = scan_.take();
            Parsed right = parseBinary(precedence + 1, keyframe);
            left = adopt(makeBinary(op.text), left, right);
        }
        return left;
    }

    Parsed parseUnary() {
        Nesting nesting(depth_);
        const Token& t = scan_.peek();
        if (t.kind == Kind::kOp && t.text == "-" && t.numberFollows)
            return parsePostfix(numberConstant(scan_.takeSignedNumber()));
        if (t.kind == Kind::kOp && (t.text == "-" || t.text == "!")) {
            const bool negate = scan_.take().text == "-";
            Parsed a = parseUnary();
            if (negate) return adopt(makeNode<Cbp::QelNeg>(), a);
            return adopt(makeNode<Cbp::QelNot>(), a);
        }
        return parsePostfix(parsePrimary());
    }

    // Component selections, then unit suffixes.
    Parsed parsePostfix(Parsed p) {
        while (scan_.peekOp("[")) {
            scan_.take();
            Token index = scan_.peek().numberFollows ? scan_.takeSignedNumber() : scan_.take();
            if (index.kind != Kind::kInteger) fail();
            Parsed i = numberConstant(index);
            expectOp("]");
            p = adopt(makeNode<Cbp::QelComp>(), p, i);
        }
        for (;;) {
            const Token& t = scan_.peek();
            const Word* word = t.kind == Kind::kWord ? find(t.text) : nullptr;
            if (!word || word->kind != Word::kUnit) break;
            scan_.take();
            p = adopt(makeNode<Cbp::QelDx>(), p);
        }
        return p;
    }

    const Word* find(std::string_view text) const {
        auto it = words_.find(text);
        return it == words_.end() ? nullptr : &it->second;
    }

    Parsed parsePrimary() {
        const Token t = scan_.take();
        switch (t.kind) {
            case Kind::kInteger:
            case Kind::kFloat:
                return numberConstant(t);
            case Kind::kString:
                return stringConstant(t);
            case Kind::kWord:
                return parseWord(t);
            case Kind::kOp:
                return parseMarked(t.text);
            case Kind::kEnd:
                break;
        }
        fail();
    }

    // The operands introduced by a punctuation mark.
    Parsed parseMarked(std::string_view mark) {
        if (mark == "(") {
            Parsed inner = parseCond();
            expectOp(")");
            return inner;
        }
        if (mark == "$") return adopt(makeNode<Cbp::QelEnv>(), stringConstant(expect(Kind::kWord)));
        if (mark == "." || mark == "/")
            return adopt(makeNode<Cbp::QelImplicitChannelValue>(), stringConstant(expect(Kind::kWord)));
        if (mark == "@") {
            Parsed name = stringConstant(expect(Kind::kString));
            return adopt(makeNode<Cbp::QelRef>(), name, optionalArgument());
        }
        if (mark == ":") {
            Parsed name = stringConstant(expect(Kind::kString));
            return adopt(makeNode<Cbp::QelFieldOpSample>(), name, optionalArgument());
        }
        if (mark == "~") return parseCurve();
        fail();
    }

    Parsed parseWord(const Token& t) {
        const Word* word = find(t.text);
        if (!word) {
            // shape "." channel, or shape "/" channel, with an optional position.
            Parsed shape = stringConstant(t);
            if (!scan_.peekOp(".") && !scan_.peekOp("/")) fail();
            scan_.take();
            Parsed channel = stringConstant(expect(Kind::kWord));
            return adopt(makeNode<Cbp::QelChannelSample>(), shape, channel, optionalArgument());
        }
        if (word->kind == Word::kVariable) return leaf(word->make().release());
        if (word->kind != Word::kFunction) fail();
        expectOp("(");
        std::vector<Parsed> arguments;
        for (int i = 0; i < word->arity; ++i) {
            if (i > 0) expectOp(",");
            arguments.push_back(parseExpr());
        }
        expectOp(")");
        return adoptAll(word->make(), arguments);
    }

    // "~" degree? "[" (expr ":" expr)+ "]"; keyframes are evaluated now.
    Parsed parseCurve() {
        const int degree = scan_.takeDegree();
        Parsed degreeNode = leaf(new Cbp::QelIntConstant(float(degree ? degree : 1)));
        expectOp("[");
        zt::array1<zt::vec2f> keyframes;
        do {
            const float key = keyframeOperand();
            expectOp(":");
            keyframes.push_back(zt::vec2f{key, keyframeOperand()});
        } while (!scan_.peekOp("]"));
        scan_.take();
        auto curve = std::make_unique<Cbp::QelCurve>(degreeNode.node.release(), keyframes.data(), keyframes.count());
        return {std::move(curve), 2};
    }

    float keyframeOperand() {
        const Parsed p = parseExpr(true);
        return p.node->eval(FrameTime(), 0, 0);
    }

    Scanner scan_;
    const WordTable& words_;
    int depth_ = 0;
};

}  // namespace

Cbp::QelNode* parseExpression(const std::string& text, float min, float max) {
    if (text.empty()) return new Cbp::QelStringConstant("");
    NodePtr root;
    try {
        const std::shared_ptr<const WordTable> words = wordTable();
        root = Parser(text, *words).parse();
    } catch (const SyntaxError&) {
        throw ztx::base("Bad QEL expression: " + text);
    }
    const float value = root->isConstant() ? root->eval(FrameTime(), 0, 0) : 0.0f;
    if (min > max || (root->isConstant() && (value < min || value > max)))
        throw ztx::base("Attempting to set out-of-bounds value: " + text);
    return root.release();
}

Cbp::QelString* parseStringExpression(const std::string& text) {
    struct Segment {
        std::string text;
        bool expression;
    };
    std::vector<Segment> segments;
    std::string current;
    auto close = [&](bool expression) {
        if (!current.empty()) segments.push_back({std::move(current), expression});
        current.clear();
    };
    enum { kStart, kLiteral, kExpression } state = kStart;
    for (const char c : text) {
        if (state == kExpression) {
            if (c == '`') {
                close(true);
                state = kStart;
            } else {
                current += c;
            }
        } else if (c == '`') {
            close(false);
            state = kExpression;
        } else {
            current += c;
            state = kLiteral;
        }
    }
    if (state == kExpression) throw ztx::base("Unmatched ` in QEL string expression: " + text);
    close(false);

    auto result = std::make_unique<Cbp::QelString>();
    for (const Segment& segment : segments) {
        if (!segment.expression) {
            result->addChild(new Cbp::QelStringConstant(segment.text));
            continue;
        }
        QelNode* node = nullptr;
        try {
            node = parseExpression(segment.text, -FLT_MAX, FLT_MAX);
        } catch (const std::exception& e) {
            throw ztx::base("Bad string: '" + text + "': " + e.what());
        }
        result->addChild(node);
    }
    return result.release();
}

void resetQelTables() {
    std::shared_ptr<const WordTable> fresh = buildWordTable();
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_wordTable = std::move(fresh);
}

}  // namespace Cb
