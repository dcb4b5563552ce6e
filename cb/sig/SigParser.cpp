// The signature grammar, by recursive descent with one token of lookahead.
// Every node is held by a unique_ptr until its parent adopts it, so a syntax
// error part way through frees the partial tree.
#include <algorithm>
#include <utility>

#include "cb/sig/ChannelDecl.h"
#include "cb/sig/SectionDecl.h"
#include "cb/sig/SigCompiler.h"
#include "cb/sig/SigScanner.h"
#include "cb/sig/ValueDecl.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cbp {

namespace {

using NodePtr = std::unique_ptr<Node>;
using ConstantPtr = std::unique_ptr<StringConstant>;

class SigParser {
public:
    explicit SigParser(const std::string& text) : scanner_(text) { advance(); }

    // sig_grammar: "BodySignature" hyphen_id description sig_item_decl_block
    std::unique_ptr<Root> parseRoot() {
        expectKeyword("BodySignature");
        ConstantPtr name = hyphenId();
        ConstantPtr description = optionalDescription();
        NodePtr items = itemBlock();
        if (cur_.token != SigToken::End) fail();
        return adopt(std::make_unique<Root>(), std::move(name), std::move(description), std::move(items));
    }

private:
    void advance() { cur_ = scanner_.next(); }
    [[noreturn]] void fail() const { throw SigSyntaxError(cur_.offset); }

    bool atKeyword(const char* word) const { return cur_.token == SigToken::Keyword && cur_.text == word; }
    bool atPunct(const char* punct) const { return cur_.token == SigToken::Punct && cur_.text == punct; }
    bool atIdentifier() const { return cur_.token == SigToken::Word && cur_.text.find('-') == std::string::npos; }
    bool atWord(const char* word) const { return cur_.token == SigToken::Word && cur_.text == word; }

    void expectKeyword(const char* word) {
        if (!atKeyword(word)) fail();
        advance();
    }
    void expectPunct(const char* punct) {
        if (!atPunct(punct)) fail();
        advance();
    }

    // The current token as a literal node.
    ConstantPtr take() {
        auto literal = std::make_unique<StringConstant>(std::move(cur_.text));
        advance();
        return literal;
    }
    ConstantPtr takeIf(bool ok) {
        if (!ok) fail();
        return take();
    }

    ConstantPtr string() { return takeIf(cur_.token == SigToken::String); }
    ConstantPtr identifier() { return takeIf(atIdentifier()); }
    ConstantPtr hyphenId() { return takeIf(cur_.token == SigToken::Word); }
    ConstantPtr floatNumber() { return takeIf(cur_.token == SigToken::Float || cur_.token == SigToken::Decimal); }
    ConstantPtr intNumber() { return takeIf(cur_.token == SigToken::Decimal || cur_.token == SigToken::Hex); }

    // description: empty | single-line | multi-line
    ConstantPtr optionalDescription() {
        const bool present = cur_.token == SigToken::LineDescription || cur_.token == SigToken::BlockDescription;
        return present ? take() : nullptr;
    }

    // sig_item_decl_block: "{" sig_item_decl* "}"
    NodePtr itemBlock() {
        expectPunct("{");
        auto items = std::make_unique<Node>();
        while (!atPunct("}")) {
            if (atKeyword("EnumGroup"))
                items->addChild(enumGroup());
            else if (atKeyword("PropSection"))
                items->addChild(valueSection());
            else if (atKeyword("Channels"))
                items->addChild(channels());
            else
                fail();
        }
        advance();
        return items;
    }

    // enum_group_decl: "EnumGroup" id "{" string* "}"
    NodePtr enumGroup() {
        advance();
        ConstantPtr name = identifier();
        expectPunct("{");
        auto names = std::make_unique<EnumGroupDeclBlock>();
        while (cur_.token == SigToken::String) names->addChild(take());
        expectPunct("}");
        return adopt(std::make_unique<EnumGroupDecl>(), std::move(name), std::move(names));
    }

    // value_section_decl: "PropSection" string value_section_relev description value_decl_block
    NodePtr valueSection() {
        advance();
        ConstantPtr name = string();
        skipRelevance();
        ConstantPtr description = optionalDescription();
        expectPunct("{");
        auto values = std::make_unique<ValueDeclBlock>();
        while (!atPunct("}")) values->addChild(valueDecl());
        advance();
        return adopt(std::make_unique<ValueSectionDecl>(), std::move(name), std::move(description),
                     std::move(values));
    }

    // value_section_relev: empty | "(" string "==" (float | string) ")"; not kept.
    void skipRelevance() {
        if (!atPunct("(")) return;
        advance();
        string();
        expectPunct("==");
        if (cur_.token == SigToken::String)
            string();
        else
            floatNumber();
        expectPunct(")");
    }

    NodePtr valueDecl() {
        if (atKeyword("Float")) return limitedDecl(std::make_unique<ValueDecl1f>(), 1);
        if (atKeyword("Int")) return limitedDecl(std::make_unique<ValueDecl1i>(), 1);
        if (atKeyword("Vec3f")) return limitedDecl(std::make_unique<ValueDecl3f>(), 3);
        if (atKeyword("String")) return plainDecl(std::make_unique<ValueDecl1s>(""));
        if (atKeyword("FileName")) return plainDecl(std::make_unique<ValueDecl1s>("file-name"));
        if (atKeyword("PathName")) return plainDecl(std::make_unique<ValueDecl1s>("path-name"));
        if (atKeyword("BodyName")) return plainDecl(std::make_unique<ValueDecl1s>("body-name"));
        if (atKeyword("BodyNameList")) return plainDecl(std::make_unique<ValueDecl1s>("body-name-list"));
        if (atKeyword("Toggle")) return plainDecl(std::make_unique<ValueDeclToggle>());
        if (atIdentifier()) {
            // id string string flags description: the group name stays as the first child.
            auto decl = std::make_unique<ValueDecl1e>();
            decl->addChild(take());
            return declTail(std::move(decl), 1, false);
        }
        fail();
    }

    // keyword string (string limits){components} flags description
    NodePtr limitedDecl(std::unique_ptr<ValueDecl> decl, int components) {
        advance();
        return declTail(std::move(decl), components, true);
    }
    // keyword string string flags description
    NodePtr plainDecl(std::unique_ptr<ValueDecl> decl) {
        advance();
        return declTail(std::move(decl), 1, false);
    }
    NodePtr declTail(std::unique_ptr<ValueDecl> decl, int components, bool limited) {
        decl->addChild(string());
        for (int c = 0; c < components; ++c) {
            decl->addChild(string());
            if (limited) decl->addChild(limits());
        }
        decl->addChild(flags());
        decl->addChild(optionalDescription());
        return decl;
    }

    // limits: ["MIN=" float] ["MAX=" float] ["(" float float ")"]
    NodePtr limits() {
        NodePtr hardMin, hardMax, softRange;
        if (cur_.token == SigToken::LimitMin) {
            advance();
            hardMin = adopt(std::make_unique<ValueLimitHard>(false), floatNumber());
        }
        if (cur_.token == SigToken::LimitMax) {
            advance();
            hardMax = adopt(std::make_unique<ValueLimitHard>(true), floatNumber());
        }
        if (atPunct("(")) {
            advance();
            ConstantPtr low = floatNumber();
            ConstantPtr high = floatNumber();
            expectPunct(")");
            softRange = adopt(std::make_unique<ValueLimitsSoftRange>(), std::move(low), std::move(high));
        }
        return adopt(std::make_unique<ValueLimits>(), std::move(hardMin), std::move(hardMax), std::move(softRange));
    }

    // flags: ("READONLY" | "HIDDEN")*
    NodePtr flags() {
        auto list = std::make_unique<FlagList>();
        for (;;) {
            if (atKeyword("READONLY"))
                list->addMarker(true);
            else if (atKeyword("HIDDEN"))
                list->addMarker(false);
            else
                return list;
            advance();
        }
    }

    // channels_decl: "Channels" "{" channel_decl_stmt* "}"
    NodePtr channels() {
        advance();
        expectPunct("{");
        auto statements = std::make_unique<Node>();
        while (!atPunct("}")) {
            NodePtr declaration = typedChannelDecl();
            NodePtr qualifier = qualifiers();
            statements->addChild(
                adopt(std::make_unique<ChannelDeclStmt>(), std::move(declaration), std::move(qualifier)));
        }
        advance();
        return statements;
    }

    NodePtr typedChannelDecl() {
        if (atKeyword("Float")) return channelDecl(std::make_unique<ChannelDecl1f>());
        if (atKeyword("Int")) return channelDecl(std::make_unique<ChannelDecl1i>());
        if (atKeyword("Vec2i")) return channelDecl(std::make_unique<ChannelDecl2i>());
        if (atKeyword("Vec3f")) return channelDecl(std::make_unique<ChannelDecl3f>());
        if (atKeyword("Vec3i")) return channelDecl(std::make_unique<ChannelDecl3i>());
        if (atKeyword("Vec4i")) return channelDecl(std::make_unique<ChannelDecl4i>());
        // id ch_scope_op "*"
        ConstantPtr shape = identifier();
        scopeOperator();
        expectPunct("*");
        return adopt(std::make_unique<ShapeDecl>(), std::move(shape));
    }

    // keyword channel_spec default{components}
    NodePtr channelDecl(std::unique_ptr<ChannelDecl> decl) {
        advance();
        ConstantPtr shape = identifier();
        scopeOperator();
        ConstantPtr channel = hyphenId();
        decl->addChild(adopt(std::make_unique<ChannelSpec>(), std::move(shape), std::move(channel)));
        for (int c = 0; c < decl->componentCount(); ++c)
            decl->addChild(decl->floatElements() ? floatNumber() : intNumber());
        return decl;
    }

    // ch_scope_op: "." | "/"
    void scopeOperator() {
        if (!atPunct(".") && !atPunct("/")) fail();
        advance();
    }

    // channel_qualifiers: empty | "Keep" | "Transport" "=" ("Low" | "High") | "(" hyphen_id ["X"] ["N"] ")"
    NodePtr qualifiers() {
        if (atKeyword("Keep")) {
            advance();
            return std::make_unique<ChannelKeepQualifier>();
        }
        if (atKeyword("Transport")) {
            advance();
            expectPunct("=");
            NodePtr quality;
            if (atKeyword("Low"))
                quality = std::make_unique<ChannelTransportQualityLow>();
            else if (atKeyword("High"))
                quality = std::make_unique<ChannelTransportQualityHigh>();
            else
                fail();
            advance();
            return adopt(std::make_unique<ChannelTransportQualifier>(), std::move(quality));
        }
        if (atPunct("(")) {
            advance();
            ConstantPtr channel = hyphenId();
            // The letters may also be written together, as one word "XN".
            bool x = false, n = false;
            if (atWord("XN")) {
                x = n = true;
                advance();
            } else {
                if (atWord("X")) {
                    x = true;
                    advance();
                }
                if (atWord("N")) {
                    n = true;
                    advance();
                }
            }
            expectPunct(")");
            return adopt(std::make_unique<ChannelParticleSplatQualifier>(x, n), std::move(channel));
        }
        return nullptr;
    }

    SigScanner scanner_;
    SigLexeme cur_;
};

}  // namespace

}  // namespace Cbp

namespace Cb {

std::unique_ptr<Cbp::Root> parseSignature(const std::string& text) {
    try {
        return Cbp::SigParser(text).parseRoot();
    } catch (const Cbp::SigSyntaxError& error) {
        const size_t at = std::min(error.offset, text.size());
        size_t line = 1;
        for (size_t i = 0; i < at; ++i) line += text[i] == '\n';
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string rest = text.substr(at, end - at);
        if (!rest.empty() && rest.back() == '\r') rest.pop_back();
        throw ztx::base(zt::cat("Syntax error on line ", line, ": ", rest));
    }
}

}  // namespace Cb
