#pragma once
// Statements of a "Channels" block: shape and typed channel declarations and
// their update qualifiers.
//
// Applied to a body, a shape declaration creates and adds its shape; a
// channel declaration creates its shape when the body lacks it, then adds the
// channel with its default unless the shape already has a channel of that
// name (of any type); a qualifier then sets the update attributes of that
// channel, which must be a field channel.

#include "cb/sig/SigNode.h"

namespace Cb {
class Channel;
class FieldChannelBase;
class Shape;
}  // namespace Cb

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
    // Fails with "Cannot create shape ..." when the body has the shape.
    void apply(Cb::Body* body) override;
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
    // A float default as atof reads it; an int default (decimal, or
    // hexadecimal after 0x) cut to 32 bits as a C cast does.
    float defaultFloat(int component) const;
    int defaultInt(int component) const;

    void apply(Cb::Body* body) override;

protected:
    ChannelDecl(int components, bool floats) : components_(components), floats_(floats) {}
    // Creates the channel in the shape through its typed create operation.
    virtual void createIn(Cb::Shape& shape, const std::string& name) const = 0;

private:
    int components_;
    bool floats_;
};

class ChannelDecl1f : public ChannelDecl {
public:
    ChannelDecl1f() : ChannelDecl(1, true) {}
    const char* className() const override { return "ChannelDecl1f"; }

protected:
    void createIn(Cb::Shape& shape, const std::string& name) const override;
};
class ChannelDecl1i : public ChannelDecl {
public:
    ChannelDecl1i() : ChannelDecl(1, false) {}
    const char* className() const override { return "ChannelDecl1i"; }

protected:
    void createIn(Cb::Shape& shape, const std::string& name) const override;
};
class ChannelDecl2i : public ChannelDecl {
public:
    ChannelDecl2i() : ChannelDecl(2, false) {}
    const char* className() const override { return "ChannelDecl2i"; }

protected:
    void createIn(Cb::Shape& shape, const std::string& name) const override;
};
class ChannelDecl3i : public ChannelDecl {
public:
    ChannelDecl3i() : ChannelDecl(3, false) {}
    const char* className() const override { return "ChannelDecl3i"; }

protected:
    void createIn(Cb::Shape& shape, const std::string& name) const override;
};
class ChannelDecl4i : public ChannelDecl {
public:
    ChannelDecl4i() : ChannelDecl(4, false) {}
    const char* className() const override { return "ChannelDecl4i"; }

protected:
    void createIn(Cb::Shape& shape, const std::string& name) const override;
};
class ChannelDecl3f : public ChannelDecl {
public:
    ChannelDecl3f() : ChannelDecl(3, true) {}
    const char* className() const override { return "ChannelDecl3f"; }

protected:
    void createIn(Cb::Shape& shape, const std::string& name) const override;
};

class ChannelQualifier : public Node {
public:
    // Sets the update attributes of channel `channelName` of shape
    // `shapeName`. A channel that is not a field channel fails with "Channel
    // '<channel>' in <shape>-shape requested: wrong channel type".
    virtual void applyToChannel(Cb::Body* body, const std::string& shapeName, const std::string& channelName) const;

protected:
    virtual void configure(Cb::FieldChannelBase& channel) const = 0;
};

// "Keep": update mode 0.
class ChannelKeepQualifier : public ChannelQualifier {
public:
    const char* className() const override { return "ChannelKeepQualifier"; }

protected:
    void configure(Cb::FieldChannelBase& channel) const override;
};

class ChannelTransportQuality : public Node {
public:
    virtual bool high() const = 0;
    // "High" sets flag A; "Low" leaves the flags alone.
    virtual void applyToChannel(Cb::FieldChannelBase& channel) const;
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

protected:
    void configure(Cb::FieldChannelBase& channel) const override;
};

// "(" channel ["X"] ["N"] ")": update mode 3 whatever the letters. Child: the
// channel name written inside; the letters are kept as two bytes.
class ChannelParticleSplatQualifier : public ChannelQualifier {
public:
    ChannelParticleSplatQualifier(bool x, bool n) : x_(x), n_(n) {}
    uint8_t letterX() const { return x_; }
    uint8_t letterN() const { return n_; }
    const char* className() const override { return "ChannelParticleSplatQualifier"; }

protected:
    void configure(Cb::FieldChannelBase& channel) const override;

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
    // The declaration, then its qualifier on the declared channel (on channel
    // "*" after a shape declaration, which no shape has).
    void apply(Cb::Body* body) override;
    const char* className() const override { return "ChannelDeclStmt"; }
};

}  // namespace Cbp
