#pragma once
// Statements of a "Channels" block: shape and typed channel declarations and
// their update qualifiers.
//
// A qualifier applies to a field channel; applyToChannel joins
// ChannelQualifier (body, shape, channel) and ChannelTransportQuality
// (channel) once the field channels exist.

#include "cb/sig/SigNode.h"

namespace Cbp {

// shape ("." | "/") channel. Children: shape name, channel name.
class ChannelSpec : public Node {
public:
    std::string shapeName() const { return childText(0); }
    std::string channelName() const { return childText(1); }
    const char* className() const override { return "ChannelSpec"; }
};

// shape ("." | "/") "*": declares a shape. Child: the shape kind name.
class ShapeDecl : public Node {
public:
    std::string shapeName() const { return childText(0); }
    const char* className() const override { return "ShapeDecl"; }
};

// A typed channel. Children: ChannelSpec, then one default per component, as
// written (float texts convert as atof does; int texts may be hexadecimal).
class ChannelDecl : public Node {
public:
    const ChannelSpec* spec() const;
    int componentCount() const { return components_; }
    bool floatElements() const { return floats_; }
    std::string defaultText(int component) const;

protected:
    ChannelDecl(int components, bool floats) : components_(components), floats_(floats) {}

private:
    int components_;
    bool floats_;
};

class ChannelDecl1f : public ChannelDecl {
public:
    ChannelDecl1f() : ChannelDecl(1, true) {}
    const char* className() const override { return "ChannelDecl1f"; }
};
class ChannelDecl1i : public ChannelDecl {
public:
    ChannelDecl1i() : ChannelDecl(1, false) {}
    const char* className() const override { return "ChannelDecl1i"; }
};
class ChannelDecl2i : public ChannelDecl {
public:
    ChannelDecl2i() : ChannelDecl(2, false) {}
    const char* className() const override { return "ChannelDecl2i"; }
};
class ChannelDecl3i : public ChannelDecl {
public:
    ChannelDecl3i() : ChannelDecl(3, false) {}
    const char* className() const override { return "ChannelDecl3i"; }
};
class ChannelDecl4i : public ChannelDecl {
public:
    ChannelDecl4i() : ChannelDecl(4, false) {}
    const char* className() const override { return "ChannelDecl4i"; }
};
class ChannelDecl3f : public ChannelDecl {
public:
    ChannelDecl3f() : ChannelDecl(3, true) {}
    const char* className() const override { return "ChannelDecl3f"; }
};

class ChannelQualifier : public Node {};

// "Keep": update mode 0.
class ChannelKeepQualifier : public ChannelQualifier {
public:
    const char* className() const override { return "ChannelKeepQualifier"; }
};

class ChannelTransportQuality : public Node {
public:
    virtual bool high() const = 0;
};
class ChannelTransportQualityLow : public ChannelTransportQuality {
public:
    bool high() const override { return false; }
    const char* className() const override { return "ChannelTransportQualityLow"; }
};
class ChannelTransportQualityHigh : public ChannelTransportQuality {
public:
    bool high() const override { return true; }
    const char* className() const override { return "ChannelTransportQualityHigh"; }
};

// "Transport" "=" quality: update mode 2. Child: the quality.
class ChannelTransportQualifier : public ChannelQualifier {
public:
    const ChannelTransportQuality* quality() const;
    const char* className() const override { return "ChannelTransportQualifier"; }
};

// "(" channel ["X"] ["N"] ")": update mode 3 whatever the letters. Child: the
// channel name written inside; the letters are kept as two bytes.
class ChannelParticleSplatQualifier : public ChannelQualifier {
public:
    ChannelParticleSplatQualifier(bool x, bool n) : x_(x), n_(n) {}
    uint8_t letterX() const { return x_; }
    uint8_t letterN() const { return n_; }
    const char* className() const override { return "ChannelParticleSplatQualifier"; }

private:
    uint8_t x_;
    uint8_t n_;
};

// One statement. Children: a ShapeDecl or ChannelDecl, then its qualifier or null.
class ChannelDeclStmt : public Node {
public:
    const ShapeDecl* shapeDecl() const;
    const ChannelDecl* channelDecl() const;
    const ChannelQualifier* qualifier() const;
    const char* className() const override { return "ChannelDeclStmt"; }
};

}  // namespace Cbp
